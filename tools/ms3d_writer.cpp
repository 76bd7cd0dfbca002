#include "tools/ms3d_writer.h"

#include <bit>
#include <cassert>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace fyrel {

namespace {

class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void u8(std::uint8_t v) { out_.push_back(v); }
    void i8(std::int8_t v) { u8(static_cast<std::uint8_t>(v)); }

    void u16(std::uint16_t v)
    {
        u8(static_cast<std::uint8_t>(v & 0xff));
        u8(static_cast<std::uint8_t>(v >> 8));
    }

    void count(std::size_t n)
    {
        assert(n <= 0xffff && "an MS3D count is 16 bits");
        u16(static_cast<std::uint16_t>(n));
    }

    void u32(std::uint32_t v)
    {
        for (int shift = 0; shift < 32; shift += 8) {
            u8(static_cast<std::uint8_t>((v >> shift) & 0xff));
        }
    }

    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }

    void floats(const float* v, int n)
    {
        for (int i = 0; i < n; ++i) {
            f32(v[i]);
        }
    }

    // The text cut to the field, the rest of the field zero.
    void text(const std::string& s, std::size_t fieldSize)
    {
        for (std::size_t i = 0; i < fieldSize; ++i) {
            u8(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
        }
    }

    std::size_t size() const { return out_.size(); }

private:
    std::vector<std::uint8_t>& out_;
};

void writeVertices(ByteWriter& w, const Ms3dFile& file)
{
    w.count(file.vertices.size());
    for (const Ms3dVertex& v : file.vertices) {
        w.u8(v.flags);
        w.floats(v.position, 3);
        w.i8(v.boneIndex);
        w.u8(v.referenceCount);
    }
}

void writeTriangles(ByteWriter& w, const Ms3dFile& file)
{
    w.count(file.triangles.size());
    for (const Ms3dTriangle& t : file.triangles) {
        w.u16(t.flags);
        for (std::uint16_t index : t.indices) {
            w.u16(index);
        }
        for (const float* normal : t.normals) {
            w.floats(normal, 3);
        }
        w.floats(t.s, 3);
        w.floats(t.t, 3);
        w.u8(t.smoothingGroup);
        w.u8(t.groupIndex);
    }
}

void writeGroups(ByteWriter& w, const Ms3dFile& file)
{
    w.count(file.groups.size());
    for (const Ms3dGroup& g : file.groups) {
        w.u8(g.flags);
        w.text(g.name, 32);
        w.count(g.triangles.size());
        for (std::uint16_t index : g.triangles) {
            w.u16(index);
        }
        w.i8(g.materialIndex);
    }
}

void writeMaterials(ByteWriter& w, const Ms3dFile& file)
{
    w.count(file.materials.size());
    for (const Ms3dMaterial& m : file.materials) {
        w.text(m.name, 32);
        w.floats(m.ambient, 4);
        w.floats(m.diffuse, 4);
        w.floats(m.specular, 4);
        w.floats(m.emissive, 4);
        w.f32(m.shininess);
        w.f32(m.transparency);
        w.u8(m.mode);
        w.text(m.texture, 128);
        w.text(m.alphaMap, 128);
    }
}

void writeKeys(ByteWriter& w, const std::vector<Ms3dKey>& keys)
{
    for (const Ms3dKey& k : keys) {
        w.f32(k.time);
        w.floats(k.value, 3);
    }
}

void writeJoints(ByteWriter& w, const Ms3dFile& file, Ms3dLayout& layout)
{
    layout.jointCount = w.size();
    w.count(file.joints.size());
    for (const Ms3dJoint& j : file.joints) {
        layout.joints.push_back(w.size());
        w.u8(j.flags);
        w.text(j.name, 32);
        w.text(j.parentName, 32);
        w.floats(j.rotation, 3);
        w.floats(j.position, 3);
        w.count(j.rotationKeys.size());
        w.count(j.translationKeys.size());
        writeKeys(w, j.rotationKeys);
        writeKeys(w, j.translationKeys);
    }
}

std::vector<std::uint8_t> write(const Ms3dFile& file, Ms3dLayout& layout)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter w(bytes);
    w.text(file.identifier, 10);
    w.i32(file.version);
    layout.vertexCount = w.size();
    writeVertices(w, file);
    layout.triangleCount = w.size();
    writeTriangles(w, file);
    layout.groupCount = w.size();
    writeGroups(w, file);
    layout.materialCount = w.size();
    writeMaterials(w, file);
    layout.animationBlock = w.size();
    w.f32(file.fps);
    w.f32(file.currentTime);
    w.i32(file.totalFrames);
    writeJoints(w, file, layout);
    layout.end = w.size();
    bytes.insert(bytes.end(), file.trailer.begin(), file.trailer.end());
    return bytes;
}

}  // namespace

std::vector<std::uint8_t> writeMs3d(const Ms3dFile& file)
{
    Ms3dLayout layout;
    return write(file, layout);
}

Ms3dLayout ms3dLayout(const Ms3dFile& file)
{
    Ms3dLayout layout;
    write(file, layout);
    return layout;
}

void saveMs3d(const Ms3dFile& file, const std::string& path)
{
    const std::vector<std::uint8_t> bytes = writeMs3d(file);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() ||
        std::fclose(out.release()) != 0) {
        throw std::runtime_error("Cannot write \"" + path + "\"");
    }
}

}  // namespace fyrel
