#include "importers/assimp/model_wire.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "importers/byte_reader.h"
#include "importers/import_error.h"

namespace fyrel {
namespace {

constexpr std::uint8_t kMagic[4] = {'F', 'Y', 'W', '2'};

// On little-endian machines (all this runs on) arrays of floats and words
// go out and come in as they lie in memory, a block at a time.
constexpr bool kLittle = std::endian::native == std::endian::little;

// Copies count floats from bytes in memory and says whether none is
// infinite or NaN: none has every exponent bit set, which adding one to the
// exponent would carry into the sign bit. Eight at a time in two vectors
// of words (the compiler's vector types: SSE2 or NEON registers), with no
// branch inside; one test at the end. (Little-endian machines only.)
bool copyFinite(float* out, const std::uint8_t* in, std::size_t count)
{
    using Words = std::uint32_t __attribute__((vector_size(16)));
    constexpr std::uint32_t kExponent = 0x7f800000u, kOne = 0x00800000u;
    const Words exponent = {kExponent, kExponent, kExponent, kExponent}, one = {kOne, kOne, kOne, kOne};
    Words a = {}, b = {};
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        Words w0, w1;
        std::memcpy(&w0, in + 4 * i, 16);
        std::memcpy(&w1, in + 4 * i + 16, 16);
        a |= (w0 & exponent) + one;
        b |= (w1 & exponent) + one;
        std::memcpy(out + i, &w0, 16);
        std::memcpy(out + i + 4, &w1, 16);
    }
    a |= b;
    std::uint32_t carry = a[0] | a[1] | a[2] | a[3];
    for (; i < count; ++i) {
        const std::uint32_t w = loadU32(in + 4 * i);
        carry |= (w & kExponent) + kOne;
        out[i] = std::bit_cast<float>(w);
    }
    return (carry & 0x80000000u) == 0;
}

class WireWriter {
public:
    std::vector<std::uint8_t> bytes;

    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u32(std::uint32_t v)
    {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        append(b, 4);
    }
    void append(const void* data, std::size_t n)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + n);  // not zeroed first, as resize would
    }
    // count floats, from consecutive ones in memory.
    void block(const float* v, std::size_t count)
    {
        if constexpr (kLittle) {
            if (count > 0) {
                append(v, 4 * count);
            }
        } else {
            floats(v, static_cast<int>(count));
        }
    }
    void count(std::size_t n) { u32(static_cast<std::uint32_t>(n)); }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    void floats(const float* v, int n)
    {
        for (int i = 0; i < n; ++i) {
            f32(v[i]);
        }
    }
    void text(const std::string& s)
    {
        count(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void blob(const std::vector<std::uint8_t>* b)
    {
        count(b ? b->size() : 0);
        if (b) {
            bytes.insert(bytes.end(), b->begin(), b->end());
        }
    }
};

void writeBones(WireWriter& w, const Bone& bone, std::int32_t parent, std::int32_t& next)
{
    const std::int32_t self = next++;
    w.text(bone.name);
    w.u32(static_cast<std::uint32_t>(parent));
    w.floats(bone.localMatrix.m, 16);
    w.count(bone.weights.size());
    static_assert(sizeof(VertexWeight) == 8, "a weight is a word and a float");
    if constexpr (kLittle) {
        if (!bone.weights.empty()) {
            w.append(bone.weights.data(), 8 * bone.weights.size());
        }
    } else {
        for (const VertexWeight& weight : bone.weights) {
            w.u32(static_cast<std::uint32_t>(weight.vertex));
            w.f32(weight.weight);
        }
    }
    for (const Bone& child : bone.children) {
        writeBones(w, child, self, next);
    }
}

// The reading side: one bounded reader and the file's name for messages.
class WireReader {
public:
    WireReader(const std::uint8_t* data, std::size_t size, const std::string& fileName)
        : in_(data, size), fileName_(fileName)
    {
    }

    [[noreturn]] void fail(const std::string& what) const
    {
        throw ImportError("\"" + fileName_ + "\" cannot be read: the import worker's result " + what +
                          " (at byte " + std::to_string(in_.offset()) + ")");
    }

    void need(std::size_t count, std::size_t recordSize, const char* what)
    {
        if (!in_.fits(count, recordSize)) {
            fail(std::string("is cut off in ") + what);
        }
    }

    std::uint8_t u8(const char* what)
    {
        need(1, 1, what);
        return in_.u8();
    }
    std::uint32_t u32(const char* what)
    {
        need(1, 4, what);
        return in_.u32();
    }
    float f32(const char* what)
    {
        need(1, 4, what);
        const float v = in_.f32();
        if (!std::isfinite(v)) {
            fail(std::string("has a number that is not finite in ") + what);
        }
        return v;
    }
    void floats(float* out, int n, const char* what)
    {
        for (int i = 0; i < n; ++i) {
            out[i] = f32(what);
        }
    }
    // A count of records of at least recordSize bytes each, checked against
    // what remains before anything is sized by it.
    std::size_t count(std::size_t recordSize, const char* what)
    {
        const std::uint32_t n = u32(what);
        need(n, recordSize, what);
        return n;
    }
    std::string text(const char* what)
    {
        const std::size_t n = count(1, what);
        std::string s(reinterpret_cast<const char*>(in_.here()), n);
        in_.skip(n);
        return s;
    }
    std::size_t remaining() const { return in_.remaining(); }
    // The next n bytes, which a count checked with fits() vouched for.
    const std::uint8_t* take(std::size_t n)
    {
        const std::uint8_t* p = in_.here();
        in_.skip(n);
        return p;
    }
    void magic()
    {
        need(4, 1, "its header");
        if (std::memcmp(in_.here(), kMagic, 4) != 0) {
            fail("does not begin as one");
        }
        in_.skip(4);
    }
    std::vector<std::uint8_t> blob(const char* what)
    {
        const std::size_t n = count(1, what);
        std::vector<std::uint8_t> b(in_.here(), in_.here() + n);
        in_.skip(n);
        return b;
    }
    // count floats (fits() vouched for them) into consecutive ones in
    // memory, each checked for being finite.
    void block(float* out, std::size_t count, const char* what)
    {
        if constexpr (kLittle) {
            if (!copyFinite(out, take(4 * count), count)) {
                fail(std::string("has a number that is not finite in ") + what);
            }
        } else {
            floats(out, static_cast<int>(count), what);
        }
    }

private:
    ByteReader in_;
    const std::string& fileName_;
};

// A face normal's length: one (within rounding) or, for a face without
// area, none.
inline bool unitOrNone(const Vector3& n)
{
    const float l2 = n.x * n.x + n.y * n.y + n.z * n.z;
    return (l2 == 0.0f) | (std::fabs(l2 - 1.0f) <= 1e-5f);  // false for NaN and infinity
}

TextureWrap wrapOf(WireReader& r)
{
    const std::uint8_t w = r.u8("a material's wrapping");
    if (w > static_cast<std::uint8_t>(TextureWrap::MirroredRepeat)) {
        r.fail("names a texture wrapping that does not exist");
    }
    return static_cast<TextureWrap>(w);
}

void readMaterials(WireReader& r, Model& model)
{
    // name, four colours, shininess, texture, image, wraps, cut-off
    const std::size_t n = r.count(4 + 64 + 4 + 4 + 4 + 2 + 4, "the materials");
    model.materials.resize(n);
    for (Material& m : model.materials) {
        m.name = r.text("a material's name");
        r.floats(m.ambient, 4, "a material's colours");
        r.floats(m.diffuse, 4, "a material's colours");
        r.floats(m.specular, 4, "a material's colours");
        r.floats(m.emissive, 4, "a material's colours");
        m.shininess = r.f32("a material's shininess");
        m.texture = r.text("a material's texture name");
        std::vector<std::uint8_t> image = r.blob("a material's image");
        if (!image.empty()) {
            m.embeddedTexture = std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
        }
        m.wrapS = wrapOf(r);
        m.wrapT = wrapOf(r);
        m.alphaCutoff = r.f32("a material's cut-off");
    }
}

void readGeometry(WireReader& r, Model& model)
{
    static_assert(sizeof(Vertex) == 24 && sizeof(TexCoord) == 8, "vertices and coordinates are packed floats");
    model.vertices.resize(r.count(24, "the vertices"));
    r.block(reinterpret_cast<float*>(model.vertices.data()), 6 * model.vertices.size(), "the vertices");
    const std::size_t coords = r.count(8, "the texture coordinates");
    if (coords != 0 && coords != model.vertices.size()) {
        r.fail("has " + std::to_string(coords) + " texture coordinates for " + std::to_string(model.vertices.size()) +
               " vertices");
    }
    model.texCoords.resize(coords);
    r.block(reinterpret_cast<float*>(model.texCoords.data()), 2 * coords, "the texture coordinates");
    // Triangles as they lie in memory: three indices, the face normal, the
    // material.
    static_assert(sizeof(Triangle) == 28 && offsetof(Triangle, normal) == 12 && offsetof(Triangle, material) == 24,
                  "a triangle is seven words");
    model.triangles.resize(r.count(28, "the triangles"));
    const std::size_t materials = std::max<std::size_t>(model.materials.size(), 1);
    const std::uint8_t* p = r.take(28 * model.triangles.size());  // the count vouched for them
    if constexpr (kLittle) {
        if (!model.triangles.empty()) {
            std::memcpy(static_cast<void*>(model.triangles.data()), p, 28 * model.triangles.size());
        }
    } else {
        for (Triangle& t : model.triangles) {
            t.indices[0] = loadU32(p), t.indices[1] = loadU32(p + 4), t.indices[2] = loadU32(p + 8);
            t.normal = {loadF32(p + 12), loadF32(p + 16), loadF32(p + 20)};
            t.material = loadU32(p + 24);
            p += 28;
        }
    }
    // Checked after, by the largest index and material and whether every
    // normal has length one or none (which a NaN or an infinity has not),
    // so that the loop has no branch; the first wrong one is then looked for.
    std::uint32_t largestIndex = 0, largestMaterial = 0;
    bool units = true;
    for (const Triangle& t : model.triangles) {
        largestIndex = std::max({largestIndex, t.indices[0], t.indices[1], t.indices[2]});
        largestMaterial = std::max(largestMaterial, t.material);
        units &= unitOrNone(t.normal);
    }
    if (largestIndex < model.vertices.size() && largestMaterial < materials) {
        // A normal of another length is made again as every importer makes
        // it: the worker's own can be one (a sliver face, whose square
        // length falls below the smallest normal float, comes out a little
        // short; one of enormous coordinates is not a number), and a
        // subverted worker's anything.
        for (std::size_t i = 0; !units && i < model.triangles.size(); ++i) {
            if (!unitOrNone(model.triangles[i].normal)) {
                model.computeFaceNormals(i, i + 1);
            }
        }
        return;
    }
    for (const Triangle& t : model.triangles) {
        for (const std::uint32_t index : t.indices) {
            if (index >= model.vertices.size()) {
                r.fail("has a triangle naming vertex " + std::to_string(index) + " of " +
                       std::to_string(model.vertices.size()));
            }
        }
        if (t.material >= materials) {
            r.fail("has a triangle naming material " + std::to_string(t.material));
        }
    }
}

struct FlatBone {
    Bone bone;
    std::vector<std::size_t> children;
};

Bone assemble(std::vector<FlatBone>& flat, std::size_t i)
{
    Bone bone = std::move(flat[i].bone);
    bone.children.reserve(flat[i].children.size());
    for (const std::size_t child : flat[i].children) {
        bone.children.push_back(assemble(flat, child));  // depth checked while reading
    }
    return bone;
}

void readBones(WireReader& r, Model& model)
{
    const std::size_t n = r.count(4 + 4 + 64 + 4, "the bones");
    if (n == 0) {
        r.fail("has no root bone");
    }
    std::vector<FlatBone> flat(n);
    std::vector<std::size_t> path;  // the ancestors of the bone being read, and itself
    for (std::size_t i = 0; i < n; ++i) {
        Bone& bone = flat[i].bone;
        bone.name = r.text("a bone's name");
        const std::int32_t parent = static_cast<std::int32_t>(r.u32("a bone's parent"));
        if (i == 0 ? parent != -1 : parent < 0) {
            r.fail("has bone " + std::to_string(i) + " with a parent that does not fit its place");
        }
        // In pre-order a bone's parent lies on the path from the root to the
        // bone before it.
        while (!path.empty() && static_cast<std::int32_t>(path.back()) != parent) {
            path.pop_back();
        }
        if (i > 0 && path.empty()) {
            r.fail("has bone " + std::to_string(i) + " whose parent is not an ancestor of the bone before it");
        }
        if (path.size() >= static_cast<std::size_t>(kMaxBoneDepth)) {
            r.fail("has bones nested deeper than " + std::to_string(kMaxBoneDepth));
        }
        if (i > 0) {
            flat[path.back()].children.push_back(i);
        }
        path.push_back(i);
        r.floats(bone.localMatrix.m, 16, "a bone's transform");
        if (!invert(bone.localMatrix, bone.inverseLocalMatrix)) {
            r.fail("has bone \"" + bone.name + "\" whose transform cannot be undone (scale 0)");
        }
        bone.weights.resize(r.count(8, "a bone's weights"));
        const std::uint8_t* p = r.take(8 * bone.weights.size());  // the count vouched for them
        // As the triangles: taken, then checked by the largest vertex and
        // the exponents' carry, then the first wrong one looked for.
        std::uint32_t largest = 0, carry = 0;
        for (VertexWeight& w : bone.weights) {
            const std::uint32_t vertex = loadU32(p), weight = loadU32(p + 4);
            p += 8;
            largest = std::max(largest, vertex);
            carry |= (weight & 0x7f800000u) + 0x00800000u;
            w.vertex = static_cast<std::int32_t>(vertex);
            w.weight = std::bit_cast<float>(weight);
        }
        if (largest < model.vertices.size() && (carry & 0x80000000u) == 0) {
            continue;
        }
        for (const VertexWeight& w : bone.weights) {
            const std::uint32_t vertex = static_cast<std::uint32_t>(w.vertex);
            if (vertex >= model.vertices.size()) {
                r.fail("has a weight of vertex " + std::to_string(vertex) + " of " +
                       std::to_string(model.vertices.size()));
            }
            if (!std::isfinite(w.weight)) {
                r.fail("has a number that is not finite in a bone's weights");
            }
        }
    }
    model.rootBone = assemble(flat, 0);
}

void readClips(WireReader& r, Model& model)
{
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    const std::size_t n = r.count(4 + 4 + 1 + 4, "the clips");
    model.animator.animations.resize(n);
    for (Animation& clip : model.animator.animations) {
        clip.name = r.text("a clip's name");
        clip.ticksPerSecond = r.f32("a clip's rate");
        if (!(clip.ticksPerSecond > 0)) {
            r.fail("has clip \"" + clip.name + "\" with a rate that is not positive");
        }
        clip.loop = r.u8("a clip") != 0;
        clip.tracks.resize(r.count(8, "a clip's tracks"));
        for (std::vector<KeyFrame>& track : clip.tracks) {
            const std::uint32_t bone = r.u32("a track");
            if (bone >= bones.size()) {
                r.fail("has a track of bone " + std::to_string(bone) + " of " + std::to_string(bones.size()));
            }
            track.resize(r.count(44, "a track's keys"));
            if (track.empty()) {
                r.fail("has an empty track in clip \"" + clip.name + "\"");
            }
            float last = 0.0f;
            for (KeyFrame& key : track) {
                float k[11];
                r.block(k, 11, "a key");
                key.time = k[0];
                if (key.time < last) {
                    r.fail("has key times that do not ascend in clip \"" + clip.name + "\"");
                }
                last = key.time;
                key.boneIndex = static_cast<std::int32_t>(bone);
                key.boneName = bones[bone]->name;
                key.rotation = {k[1], k[2], k[3], k[4]};
                key.translation = {k[5], k[6], k[7]};
                key.scale = {k[8], k[9], k[10]};
            }
            clip.length = std::max(clip.length, last);
        }
    }
}

// The bytes writeModelWire writes.
std::size_t wireSize(const Model& model, const std::vector<std::string>& notes)
{
    std::size_t n = 4 + 4 + 64 + 4 + 4;  // magic, notes, base transform, rate, materials
    for (const std::string& note : notes) {
        n += 4 + note.size();
    }
    for (const Material& m : model.materials) {
        n += 4 + m.name.size() + 64 + 4 + 4 + m.texture.size() + 4 + 2 + 4;
        n += m.embeddedTexture ? m.embeddedTexture->size() : 0;
    }
    n += 4 + 24 * model.vertices.size() + 4 + 8 * model.texCoords.size() + 4 + 28 * model.triangles.size();
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    n += 4;
    for (const Bone* bone : bones) {
        n += 4 + bone->name.size() + 4 + 64 + 4 + 8 * bone->weights.size();
    }
    n += 4;
    for (const Animation& clip : model.animator.animations) {
        n += 4 + clip.name.size() + 4 + 1 + 4;
        for (const std::vector<KeyFrame>& track : clip.tracks) {
            n += 4 + 4 + 44 * track.size();
        }
    }
    return n;
}

}  // namespace

std::vector<std::uint8_t> writeModelWire(const Model& model, const std::vector<std::string>& notes)
{
    WireWriter w;
    w.bytes.reserve(wireSize(model, notes));  // written once, never moved
    for (const std::uint8_t b : kMagic) {
        w.u8(b);
    }
    w.count(notes.size());
    for (const std::string& note : notes) {
        w.text(note);
    }
    w.floats(model.baseTransform.m, 16);
    w.f32(model.animator.rate);
    w.count(model.materials.size());
    for (const Material& m : model.materials) {
        w.text(m.name);
        w.floats(m.ambient, 4);
        w.floats(m.diffuse, 4);
        w.floats(m.specular, 4);
        w.floats(m.emissive, 4);
        w.f32(m.shininess);
        w.text(m.texture);
        w.blob(m.embeddedTexture.get());
        w.u8(static_cast<std::uint8_t>(m.wrapS));
        w.u8(static_cast<std::uint8_t>(m.wrapT));
        w.f32(m.alphaCutoff);
    }
    w.count(model.vertices.size());
    w.block(reinterpret_cast<const float*>(model.vertices.data()), 6 * model.vertices.size());
    w.count(model.texCoords.size());
    w.block(reinterpret_cast<const float*>(model.texCoords.data()), 2 * model.texCoords.size());
    w.count(model.triangles.size());
    if constexpr (kLittle) {
        if (!model.triangles.empty()) {
            w.append(model.triangles.data(), 28 * model.triangles.size());
        }
    } else {
        for (const Triangle& t : model.triangles) {
            w.u32(t.indices[0]), w.u32(t.indices[1]), w.u32(t.indices[2]);
            w.floats(&t.normal.x, 3);
            w.u32(t.material);
        }
    }
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    w.count(bones.size());
    std::int32_t next = 0;
    writeBones(w, model.rootBone, -1, next);
    w.count(model.animator.animations.size());
    for (const Animation& clip : model.animator.animations) {
        w.text(clip.name);
        w.f32(clip.ticksPerSecond);
        w.u8(clip.loop ? 1 : 0);
        w.count(clip.tracks.size());
        for (const std::vector<KeyFrame>& track : clip.tracks) {
            w.u32(static_cast<std::uint32_t>(track.front().boneIndex));
            w.count(track.size());
            for (const KeyFrame& key : track) {
                float k[11] = {key.time,          key.rotation.w,    key.rotation.x,    key.rotation.y,
                               key.rotation.z,    key.translation.x, key.translation.y, key.translation.z,
                               key.scale.x,       key.scale.y,       key.scale.z};
                w.block(k, 11);
            }
        }
    }
    assert(w.bytes.size() == wireSize(model, notes));
    return std::move(w.bytes);
}

WireModel readModelWire(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    WireReader r(data, size, fileName);
    WireModel out;
    r.magic();
    out.notes.resize(r.count(4, "the notes"));
    for (std::string& note : out.notes) {
        note = r.text("a note");
    }
    Model& model = out.model;
    r.floats(model.baseTransform.m, 16, "the base transform");
    model.animator.rate = r.f32("the rate");
    readMaterials(r, model);
    readGeometry(r, model);
    readBones(r, model);
    readClips(r, model);
    if (r.remaining() != 0) {
        r.fail("goes on after its end");
    }
    return out;
}

}  // namespace fyrel
