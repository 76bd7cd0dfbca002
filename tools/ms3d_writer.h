#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A writer of Milkshape3D binary model files (.ms3d), for the demo character
// and for tests that need files of a known content. It writes what it is
// given, faithfully and without judging it: counts are taken from the vectors
// (callers that want a wrong count patch the bytes afterwards), names longer
// than their field are cut to it, and a name that fills its field exactly is
// written without a terminating zero.

namespace fyrel {

struct Ms3dVertex {
    float position[3] = {0, 0, 0};
    std::int8_t boneIndex = -1;  // -1: no bone
    std::uint8_t flags = 0;
    std::uint8_t referenceCount = 0;
};

struct Ms3dTriangle {
    std::uint16_t indices[3] = {0, 0, 0};
    float normals[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};  // per corner
    float s[3] = {0, 0, 0};
    float t[3] = {0, 0, 0};
    std::uint16_t flags = 0;
    std::uint8_t smoothingGroup = 1;
    std::uint8_t groupIndex = 0;
};

struct Ms3dGroup {
    std::string name;
    std::vector<std::uint16_t> triangles;
    std::int8_t materialIndex = -1;
    std::uint8_t flags = 0;
};

struct Ms3dMaterial {
    std::string name;
    float ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float specular[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float emissive[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float shininess = 0.0f;
    float transparency = 1.0f;
    std::uint8_t mode = 0;
    std::string texture{};   // 128-byte field
    std::string alphaMap{};  // 128-byte field
};

// A key: its time, then three values (Euler angles in radians for rotation
// keys, a displacement for translation keys).
struct Ms3dKey {
    float time = 0.0f;
    float value[3] = {0, 0, 0};
};

struct Ms3dJoint {
    std::string name;
    std::string parentName{};
    float rotation[3] = {0, 0, 0};  // bind rotation relative to the parent, X applied first
    float position[3] = {0, 0, 0};  // bind position relative to the parent
    std::vector<Ms3dKey> rotationKeys{};
    std::vector<Ms3dKey> translationKeys{};
    std::uint8_t flags = 0;
};

struct Ms3dFile {
    std::string identifier = "MS3D000000";  // 10-byte field
    std::int32_t version = 4;
    std::vector<Ms3dVertex> vertices;
    std::vector<Ms3dTriangle> triangles;
    std::vector<Ms3dGroup> groups;
    std::vector<Ms3dMaterial> materials;
    float fps = 24.0f;
    float currentTime = 0.0f;
    std::int32_t totalFrames = 0;
    std::vector<Ms3dJoint> joints;
    std::vector<std::uint8_t> trailer;  // written after the last joint (comments and the like)
};

// The file's bytes. Vectors longer than a 16-bit count can hold are a misuse
// (asserted).
std::vector<std::uint8_t> writeMs3d(const Ms3dFile& file);

// Writes the bytes to path; throws std::runtime_error naming the path when
// the file cannot be written.
void saveMs3d(const Ms3dFile& file, const std::string& path);

// Byte offsets of the sections of a written file, for tests that corrupt a
// count or cut a file at a known place.
struct Ms3dLayout {
    std::size_t vertexCount = 0;    // offset of the vertex count
    std::size_t triangleCount = 0;  // offset of the triangle count
    std::size_t groupCount = 0;
    std::size_t materialCount = 0;
    std::size_t animationBlock = 0;
    std::size_t jointCount = 0;
    std::vector<std::size_t> joints;  // offset of each joint record
    std::size_t end = 0;              // just past the last joint
};
Ms3dLayout ms3dLayout(const Ms3dFile& file);

}  // namespace fyrel
