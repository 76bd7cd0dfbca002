#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// The .ms3d importer's inside: the records that mirror the file, how they
// are read and checked (ms3d_sections.cpp), and the wording of its messages.
// Only the importer's own files include it.

namespace fyrel::ms3d {

constexpr std::size_t kHeaderSize = 14;
constexpr std::size_t kVertexSize = 15;
constexpr std::size_t kTriangleSize = 70;
constexpr std::size_t kGroupFixedSize = 35;  // flags, name, triangle count
constexpr std::size_t kMaterialSize = 361;
constexpr std::size_t kAnimationBlockSize = 12;
constexpr std::size_t kJointFixedSize = 93;  // up to and including the key counts
constexpr std::size_t kKeySize = 16;
constexpr std::size_t kNameSize = 32;

struct VertexRecord {
    float position[3];
    std::int8_t boneIndex;
};

struct TriangleRecord {
    std::uint16_t indices[3];
    float s[3];  // texture coordinates of the corners
    float t[3];
    std::uint8_t group;
};

struct GroupRecord {
    std::int8_t material = -1;  // none when negative
};

struct MaterialRecord {
    std::string name;
    float ambient[4];
    float diffuse[4];
    float specular[4];
    float emissive[4];
    float shininess;
    float transparency;  // 1 opaque
    std::string texture;
};

struct KeyRecord {
    float time;
    float value[3];
};

struct JointRecord {
    std::string name;
    std::string parentName;
    float rotation[3];
    float position[3];
    std::vector<KeyRecord> rotationKeys;
    std::vector<KeyRecord> translationKeys;
};

struct Ms3dRecords {
    std::string identifier;
    std::int32_t version = 0;
    std::vector<VertexRecord> vertices;
    std::vector<TriangleRecord> triangles;
    std::uint16_t groupCount = 0;
    std::vector<GroupRecord> groups;
    std::vector<MaterialRecord> materials;
    float fps = 0.0f;
    float currentTime = 0.0f;
    std::int32_t totalFrames = 0;
    std::vector<JointRecord> joints;
};

// Throws ImportError "The file "<fileName>" <what>".
[[noreturn]] void fail(const std::string& fileName, const std::string& what);

// A name from the file as a message shows it: quoted, control characters,
// which would break the message's lines, as '?'.
std::string shown(const std::string& name);

// "3 of 12" for index 2 of 12.
std::string ofCount(std::size_t index, std::size_t count);

// Reads the sections of data[0, size) in file order into r and writes the
// reading summary lines into log. Throws ImportError at the first record
// that does not fit.
void readRecords(const std::uint8_t* data, std::size_t size, const std::string& fileName, std::ostream& log,
                 Ms3dRecords& r);

// Rejects what the conversion cannot use: corners naming missing vertices and
// numbers that are not finite.
void validate(const Ms3dRecords& r, const std::string& fileName);

}  // namespace fyrel::ms3d
