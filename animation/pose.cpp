#include "animation/pose.h"

#include <algorithm>
#include <cstdint>

#include "animation/animation_cache.h"
#include "animation/skinning.h"
#include "scene/model.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace fyrel {

namespace {

// mul(a, b, out) four elements at a time: row r of the product is
// a(r,0)·b.row0 + a(r,1)·b.row1 + a(r,2)·b.row2 + a(r,3)·b.row3, added in
// that order, so every element is the same sum as mul forms.
void product(const Matrix4& a, const Matrix4& b, Matrix4& out)
{
#if defined(__x86_64__)
    const __m128 b0 = _mm_loadu_ps(b.m), b1 = _mm_loadu_ps(b.m + 4);
    const __m128 b2 = _mm_loadu_ps(b.m + 8), b3 = _mm_loadu_ps(b.m + 12);
    float rows[16];
    for (int r = 0; r < 4; ++r) {
        const float* ar = a.m + 4 * r;
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(ar[0]), b0),
                                                            _mm_mul_ps(_mm_set1_ps(ar[1]), b1)),
                                                 _mm_mul_ps(_mm_set1_ps(ar[2]), b2)),
                                      _mm_mul_ps(_mm_set1_ps(ar[3]), b3));
        _mm_storeu_ps(rows + 4 * r, sum);
    }
    std::copy(rows, rows + 16, out.m);
#else
    mul(a, b, out);
#endif
}

// world = parent.world · L · T · R · S (the root: L · T · R · S) and
// inverseBind = L⁻¹ · parent.inverseBind (the root: L⁻¹).
void poseBone(const Bone* parent, Bone& bone)
{
    Matrix4 r, t, lt;
    quatToMatrix(bone.rotation, r);
    scaleColumns(r, bone.scale);
    translationMatrix(bone.translation, t);
    if (parent) {
        Matrix4 pl, plt;
        product(parent->worldMatrix, bone.localMatrix, pl);
        product(pl, t, plt);
        product(plt, r, bone.worldMatrix);
        product(bone.inverseLocalMatrix, parent->inverseBindMatrix, bone.inverseBindMatrix);
    } else {
        product(bone.localMatrix, t, lt);
        product(lt, r, bone.worldMatrix);
        bone.inverseBindMatrix = bone.inverseLocalMatrix;
    }
}

// The pose walk: poses every bone, writes its skinning matrix into its
// palette slot and checks that the skin form was built from this skeleton.
struct PoseWalk {
    SkinCache& cache;
    std::size_t slots = 0;  // palette slots available
    std::size_t index = 0;  // pre-order number of the next bone
    bool matches = true;

    void visit(const Bone* parent, Bone& bone)
    {
        poseBone(parent, bone);
        const std::size_t b = index++;
        if (b < slots) {
            Matrix4 s;
            product(bone.worldMatrix, bone.inverseBindMatrix, s);
            writePaletteSlot(s, cache.palette() + b * kPaletteFloats);
        }
        matches = matches && b < cache.sources.size() && cache.sources[b].weights == bone.weights.data() &&
                  cache.sources[b].size == bone.weights.size();
        for (Bone& child : bone.children) {
            visit(&bone, child);
        }
    }
};

// Whether a flattened skeleton's entry still describes its bone and weights.
[[gnu::always_inline]] inline bool stillMatches(const FlatBone& entry, const Bone& bone, const SkinSource& source)
{
    return bone.children.data() == entry.children && bone.children.size() == entry.childCount &&
           bone.weights.data() == source.weights && bone.weights.size() == source.size;
}

bool bottomRowIsUnit(const Matrix4& m)
{
    return m(3, 0) == 0.0f && m(3, 1) == 0.0f && m(3, 2) == 0.0f && m(3, 3) == 1.0f;
}

void flatten(SkinCache& cache, Bone& bone, std::uint32_t parent)
{
    const auto index = static_cast<std::uint32_t>(cache.skeleton.size());
    cache.skeleton.push_back(FlatBone{&bone, parent, bone.children.data(), bone.children.size()});
    cache.affine = cache.affine && bottomRowIsUnit(bone.localMatrix);
    for (Bone& child : bone.children) {
        flatten(cache, child, index);
    }
}

// The flattened skeleton, with every inverse bind matrix formed as the walk
// forms it (written to the bones too: they stay until the next rebuild).
void buildSkeleton(SkinCache& cache, Bone& root)
{
    cache.skeleton.clear();
    cache.affine = true;
    flatten(cache, root, 0);
    const std::size_t n = cache.skeleton.size();
    cache.worlds.assign(12 * n, 0.0f);
    cache.inverseBinds.assign(16 * n, 0.0f);
    for (std::size_t i = 0; i < n; ++i) {
        Bone& bone = *cache.skeleton[i].bone;
        if (i == 0) {
            bone.inverseBindMatrix = bone.inverseLocalMatrix;
        } else {
            product(bone.inverseLocalMatrix, cache.skeleton[cache.skeleton[i].parent].bone->inverseBindMatrix,
                    bone.inverseBindMatrix);
        }
        std::copy(bone.inverseBindMatrix.m, bone.inverseBindMatrix.m + 16, cache.inverseBinds.data() + 16 * i);
    }
}

#if defined(__x86_64__)

// Row r of a product: a(r,0)·b0 + a(r,1)·b1 + a(r,2)·b2 + a(r,3)·b3, added
// in that order, as mul and product form it.
[[gnu::always_inline]] inline __m128 productRow(__m128 a, __m128 b0, __m128 b1, __m128 b2, __m128 b3)
{
    const __m128 x = _mm_shuffle_ps(a, a, 0x00), y = _mm_shuffle_ps(a, a, 0x55);
    const __m128 z = _mm_shuffle_ps(a, a, 0xAA), w = _mm_shuffle_ps(a, a, 0xFF);
    return _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, b0), _mm_mul_ps(y, b1)), _mm_mul_ps(z, b2)),
                      _mm_mul_ps(w, b3));
}

// [R·S | t] of a bone by rows, each element as quatToMatrix and
// scaleColumns form it.
[[gnu::always_inline]] inline void localRows(const Bone& bone, __m128& m0, __m128& m1, __m128& m2)
{
    const float qw = bone.rotation.w, qx = bone.rotation.x, qy = bone.rotation.y, qz = bone.rotation.z;
    const Vector3& s = bone.scale;
    const Vector3& t = bone.translation;
    m0 = _mm_setr_ps((1 - 2 * qy * qy - 2 * qz * qz) * s.x, (2 * qx * qy - 2 * qw * qz) * s.y,
                     (2 * qx * qz + 2 * qw * qy) * s.z, t.x);
    m1 = _mm_setr_ps((2 * qx * qy + 2 * qw * qz) * s.x, (1 - 2 * qx * qx - 2 * qz * qz) * s.y,
                     (2 * qy * qz - 2 * qw * qx) * s.z, t.y);
    m2 = _mm_setr_ps((2 * qx * qz - 2 * qw * qy) * s.x, (2 * qy * qz + 2 * qw * qx) * s.y,
                     (1 - 2 * qx * qx - 2 * qy * qy) * s.z, t.z);
}

// The flat pose: world = parent.world · L · [R·S | t], three rows a bone,
// then the skinning matrix world · inverseBind into the palette. [R·S | t]
// is T·R·S with its zero products left out, so every element is the sum the
// walk forms, equal as a number (a zero may differ in sign) whenever the
// walk's is finite. False, with the bones posed up to that point, when an
// entry no longer matches the tree or the weights it was built from.
[[gnu::always_inline]] inline bool poseFlatBody(SkinCache& cache, Bone& root)
{
    const std::size_t n = cache.skeleton.size();
    if (n == 0 || cache.skeleton[0].bone != &root || cache.sources.size() != n) {
        return false;
    }
    float* worlds = cache.worlds.data();
    const float* inverseBinds = cache.inverseBinds.data();
    float* palette = cache.palette();
    const __m128 e3 = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
    const __m128 negate = _mm_castsi128_ps(_mm_setr_epi32(INT32_MIN, INT32_MIN, INT32_MIN, 0));
    // The root's parent: the identity, so that the root's product is formed
    // as the walk's L · T is.
    alignas(16) static const float identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    for (std::size_t i = 0; i < n; ++i) {
        const FlatBone& entry = cache.skeleton[i];
        Bone& bone = *entry.bone;
        if (!stillMatches(entry, bone, cache.sources[i])) {
            return false;
        }

        __m128 m0, m1, m2;
        localRows(bone, m0, m1, m2);

        const float* l = bone.localMatrix.m;
        const __m128 l0 = _mm_loadu_ps(l), l1 = _mm_loadu_ps(l + 4), l2 = _mm_loadu_ps(l + 8);
        const __m128 l3 = _mm_loadu_ps(l + 12);
        const float* p = i == 0 ? identity : worlds + 12 * entry.parent;
        const __m128 a0 = productRow(_mm_loadu_ps(p), l0, l1, l2, l3);
        const __m128 a1 = productRow(_mm_loadu_ps(p + 4), l0, l1, l2, l3);
        const __m128 a2 = productRow(_mm_loadu_ps(p + 8), l0, l1, l2, l3);
        const __m128 w0 = productRow(a0, m0, m1, m2, e3);
        const __m128 w1 = productRow(a1, m0, m1, m2, e3);
        const __m128 w2 = productRow(a2, m0, m1, m2, e3);
        float* world = worlds + 12 * i;
        _mm_storeu_ps(world, w0);
        _mm_storeu_ps(world + 4, w1);
        _mm_storeu_ps(world + 8, w2);
        float* out = bone.worldMatrix.m;
        _mm_storeu_ps(out, w0);
        _mm_storeu_ps(out + 4, w1);
        _mm_storeu_ps(out + 8, w2);
        _mm_storeu_ps(out + 12, e3);

        // The palette slot (writePaletteSlot's layout): the columns of S
        // with a zero below, then the first three negated.
        const float* ib = inverseBinds + 16 * i;
        const __m128 b0 = _mm_loadu_ps(ib), b1 = _mm_loadu_ps(ib + 4), b2 = _mm_loadu_ps(ib + 8);
        const __m128 b3 = _mm_loadu_ps(ib + 12);
        __m128 c0 = productRow(w0, b0, b1, b2, b3);
        __m128 c1 = productRow(w1, b0, b1, b2, b3);
        __m128 c2 = productRow(w2, b0, b1, b2, b3);
        __m128 c3 = _mm_setzero_ps();
        _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
        float* slot = palette + i * kPaletteFloats;
        _mm_store_ps(slot, c0);
        _mm_store_ps(slot + 4, _mm_xor_ps(c0, negate));
        _mm_store_ps(slot + 8, c1);
        _mm_store_ps(slot + 12, _mm_xor_ps(c1, negate));
        _mm_store_ps(slot + 16, c2);
        _mm_store_ps(slot + 20, _mm_xor_ps(c2, negate));
        _mm_store_ps(slot + 24, c3);
        _mm_store_ps(slot + 28, _mm_setzero_ps());
    }
    return true;
}

bool poseFlatSse2(SkinCache& cache, Bone& root)
{
    return poseFlatBody(cache, root);
}

// Two rows of a product at once, each lane as productRow forms it: the
// lanes of a are rows of the left matrix, b0..b3 hold a row of the right one
// in both lanes.
[[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256 productRows(__m256 a, __m256 b0, __m256 b1,
                                                                                 __m256 b2, __m256 b3)
{
    const __m256 x = _mm256_permute_ps(a, 0x00), y = _mm256_permute_ps(a, 0x55);
    const __m256 z = _mm256_permute_ps(a, 0xAA), w = _mm256_permute_ps(a, 0xFF);
    return _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(x, b0), _mm256_mul_ps(y, b1)), _mm256_mul_ps(z, b2)),
        _mm256_mul_ps(w, b3));
}

[[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256 bothLanes(__m128 row)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(row), row, 1);
}

// The flat pose with two rows to a register: rows 0-1, then row 2 with the
// bottom row (0, 0, 0, 1), which every product carries along as the walk's
// whole-matrix products do. The same sums as poseFlatBody, element for
// element.
__attribute__((target("avx2"))) bool poseFlatAvx2(SkinCache& cache, Bone& root)
{
    const std::size_t n = cache.skeleton.size();
    if (n == 0 || cache.skeleton[0].bone != &root || cache.sources.size() != n) {
        return false;
    }
    float* worlds = cache.worlds.data();
    const float* inverseBinds = cache.inverseBinds.data();
    float* palette = cache.palette();
    const __m128 e3 = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
    const __m256 zero = _mm256_setzero_ps();
    // Negates the first three floats of the upper lane: a palette column is
    // the column of S, then its negation, each with a zero fourth float.
    const __m256 negateUpper = _mm256_castsi256_ps(_mm256_setr_epi32(0, 0, 0, 0, INT32_MIN, INT32_MIN, INT32_MIN, 0));
    alignas(32) static const float identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    __m256 w01 = zero, w23 = zero;  // the world of the bone posed last
    for (std::size_t i = 0; i < n; ++i) {
        const FlatBone& entry = cache.skeleton[i];
        Bone& bone = *entry.bone;
        if (!stillMatches(entry, bone, cache.sources[i])) {
            return false;
        }

        __m128 r0, r1, r2;
        localRows(bone, r0, r1, r2);
        const __m256 m0 = bothLanes(r0), m1 = bothLanes(r1), m2 = bothLanes(r2);
        const __m256 m3 = bothLanes(e3);

        const float* l = bone.localMatrix.m;
        const __m256 l0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(l));
        const __m256 l1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(l + 4));
        const __m256 l2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(l + 8));
        const __m256 l3 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(l + 12));
        // A bone that follows its parent (a chain) takes the parent's world
        // from the registers instead of a round trip through memory.
        if (i == 0 || entry.parent + 1 != i) {
            const float* p = i == 0 ? identity : worlds + 12 * entry.parent;
            w01 = _mm256_loadu_ps(p);
            w23 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p + 8)), e3, 1);
        }
        const __m256 a01 = productRows(w01, l0, l1, l2, l3);
        const __m256 a23 = productRows(w23, l0, l1, l2, l3);
        w01 = productRows(a01, m0, m1, m2, m3);
        w23 = productRows(a23, m0, m1, m2, m3);
        float* world = worlds + 12 * i;
        _mm256_storeu_ps(world, w01);
        _mm_storeu_ps(world + 8, _mm256_castps256_ps128(w23));
        _mm256_storeu_ps(bone.worldMatrix.m, w01);
        _mm256_storeu_ps(bone.worldMatrix.m + 8, w23);

        // S = world · inverseBind; its bottom row gives way to zeros, then
        // the columns are laid out as writePaletteSlot lays them.
        const float* ib = inverseBinds + 16 * i;
        const __m256 b0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(ib));
        const __m256 b1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(ib + 4));
        const __m256 b2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(ib + 8));
        const __m256 b3 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(ib + 12));
        const __m256 c01 = productRows(w01, b0, b1, b2, b3);
        const __m256 c23 = _mm256_blend_ps(productRows(w23, b0, b1, b2, b3), zero, 0xF0);
        // Lanes (r0 | r1) and (r2 | 0) to columns: u = (r00 r20 r01 r21 | r10 0 r11 0).
        const __m256 u = _mm256_unpacklo_ps(c01, c23), v = _mm256_unpackhi_ps(c01, c23);
        const __m256 us = _mm256_permute2f128_ps(u, u, 0x01), vs = _mm256_permute2f128_ps(v, v, 0x01);
        const __m256 col0 = _mm256_unpacklo_ps(u, us), col1 = _mm256_unpackhi_ps(u, us);
        const __m256 col2 = _mm256_unpacklo_ps(v, vs), col3 = _mm256_unpackhi_ps(v, vs);
        float* slot = palette + i * kPaletteFloats;
        _mm256_store_ps(slot, _mm256_xor_ps(_mm256_permute2f128_ps(col0, col0, 0x00), negateUpper));
        _mm256_store_ps(slot + 8, _mm256_xor_ps(_mm256_permute2f128_ps(col1, col1, 0x00), negateUpper));
        _mm256_store_ps(slot + 16, _mm256_xor_ps(_mm256_permute2f128_ps(col2, col2, 0x00), negateUpper));
        _mm256_store_ps(slot + 24, _mm256_blend_ps(col3, zero, 0xF0));
    }
    return true;
}

// The skinning kernel's instruction set poses too (AVX2 only where the
// processor runs it), so that choosing a kernel tests both halves.
bool poseFlat(SkinCache& cache, Bone& root)
{
    return activeSkinKernel() == SkinKernel::Avx2 ? poseFlatAvx2(cache, root) : poseFlatSse2(cache, root);
}

#else

bool poseFlat(SkinCache&, Bone&)
{
    return false;
}

#endif

PoseEvaluation& chosenEvaluation()
{
    static PoseEvaluation evaluation = PoseEvaluation::Flat;
    return evaluation;
}

// Poses the skeleton and fills the palette; false when the skin form or the
// flattened skeleton no longer matches the model.
bool poseSkeleton(SkinCache& cache, Bone& root, bool built)
{
    if (built && cache.affine && chosenEvaluation() == PoseEvaluation::Flat) {
        return poseFlat(cache, root);
    }
    PoseWalk walk{cache};
    walk.slots = built ? cache.sources.size() : 0;
    walk.matches = built;
    walk.visit(nullptr, root);
    return walk.matches && walk.index == cache.sources.size();
}

}  // namespace

void evaluateBone(const Bone* parent, Bone& bone)
{
    poseBone(parent, bone);
    for (Bone& child : bone.children) {
        evaluateBone(&bone, child);
    }
}

void usePoseEvaluation(PoseEvaluation evaluation)
{
    chosenEvaluation() = evaluation;
}

void skinChanged(Model& model)
{
    model.skin.get<SkinCache>().built = false;
}

void updatePose(Model& model)
{
    SkinCache& cache = model.skin.get<SkinCache>();
    const std::vector<Vertex>& vertices = model.vertices;
    std::vector<Vertex>& skinnedVertices = model.skinnedVertices;
    Bone& rootBone = model.rootBone;
    const std::size_t count = vertices.size();
    if (skinnedVertices.size() != count) {
        skinnedVertices.assign(count, Vertex{});
        cache.built = false;
    }
    if (rootBone.children.empty()) {
        return;
    }

    if (!poseSkeleton(cache, rootBone, cache.built && cache.vertexCount == count)) {
        buildSkin(cache, rootBone, count);
        buildSkeleton(cache, rootBone);
        poseSkeleton(cache, rootBone, true);
    }

    if (!cache.anyWeights) {
        // Bones that weight nothing would collapse every vertex onto the
        // origin: such a model is shown in its bind pose instead, like one
        // without a skeleton. The bones are still posed for the skeleton view.
        std::copy(vertices.begin(), vertices.end(), skinnedVertices.begin());
        return;
    }
    skinVertices(cache, vertices.data(), count, skinnedVertices.data());
}

}  // namespace fyrel
