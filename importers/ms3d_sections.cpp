// The .ms3d importer's reading and checking of the file's sections.

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "importers/byte_reader.h"
#include "importers/import_error.h"
#include "importers/ms3d_records.h"

namespace fyrel::ms3d {

[[noreturn]] void fail(const std::string& fileName, const std::string& what)
{
    throw ImportError("The file \"" + fileName + "\" " + what);
}

std::string shown(const std::string& name)
{
    std::string s = "\"" + name + "\"";
    for (char& c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return s;
}

std::string ofCount(std::size_t index, std::size_t count)
{
    return std::to_string(index + 1) + " of " + std::to_string(count);
}

namespace {

// Reads the sections in file order into records and writes the summary lines
// into log. Throws ImportError at the first record that does not fit.
class SectionReader {
public:
    SectionReader(const std::uint8_t* data, std::size_t size, const std::string& fileName, std::ostream& log)
        : in_(data, size), fileName_(fileName), log_(log)
    {
    }

    void readAll(Ms3dRecords& r)
    {
        readHeader(r);
        readVertices(r);
        readTriangles(r);
        readGroups(r);
        readMaterials(r);
        readAnimationBlock(r);
        readJoints(r);
    }

private:
    // A 16-bit count that precedes a section.
    std::uint16_t count(const char* what)
    {
        if (!in_.fits(1, 2)) {
            fail(fileName_, std::string("ends before its ") + what + ".");
        }
        return in_.u16();
    }

    // A list's count, logged under label and refused when the bytes left
    // cannot hold that many records of at least recordSize bytes.
    std::uint16_t listCount(const char* label, std::size_t recordSize, const char* record)
    {
        const std::string name(record);
        const std::uint16_t n = count((name + " count").c_str());
        log_ << label << ": " << n << '\n';
        requireRecords(n, recordSize, (name + " list").c_str(), record);
        return n;
    }

    void requireRecords(std::size_t count, std::size_t recordSize, const char* list, const char* record)
    {
        if (!in_.fits(count, recordSize)) {
            fail(fileName_, std::string("ends inside the ") + list + " (" + record + " " +
                                ofCount(in_.wholeRecords(recordSize), count) + ").");
        }
    }

    void readHeader(Ms3dRecords& r)
    {
        if (!in_.fits(1, kHeaderSize)) {
            fail(fileName_, "is too short to be an MS3D model: it has " + std::to_string(in_.remaining()) +
                                " bytes, and the header alone takes 14.");
        }
        r.identifier = in_.text(10);
        r.version = in_.i32();
        log_ << "Header:\n\t" << r.identifier << "\n\tVersion: " << r.version << '\n';
    }

    void readVertices(Ms3dRecords& r)
    {
        const std::uint16_t n = listCount("Vertices", kVertexSize, "vertex");
        r.vertices.resize(n);
        for (VertexRecord& v : r.vertices) {
            in_.skip(1);  // flags
            in_.floats(v.position, 3);
            v.boneIndex = in_.i8();
            in_.skip(1);  // reference count
        }
    }

    void readTriangles(Ms3dRecords& r)
    {
        const std::uint16_t n = listCount("Triangles", kTriangleSize, "triangle");
        r.triangles.resize(n);
        for (TriangleRecord& t : r.triangles) {
            in_.skip(2);  // flags
            for (std::uint16_t& index : t.indices) {
                index = in_.u16();
            }
            in_.skip(36);  // the corners' normals: ours come from the positions
            in_.floats(t.s, 3);
            in_.floats(t.t, 3);
            in_.skip(1);  // smoothing group
            t.group = in_.u8();
        }
    }

    // Of a group, only its material reaches the model: triangles name their
    // group themselves.
    void readGroups(Ms3dRecords& r)
    {
        r.groupCount = count("group count");
        log_ << "Groups: " << r.groupCount << '\n';
        for (std::size_t g = 0; g < r.groupCount; ++g) {
            if (!in_.fits(1, kGroupFixedSize)) {
                fail(fileName_, "ends inside the group list (group " + ofCount(g, r.groupCount) + ").");
            }
            in_.skip(1 + kNameSize);
            const std::uint16_t triangles = in_.u16();
            // The triangle indices and the material index.
            if (!in_.fits(1, std::size_t{triangles} * 2 + 1)) {
                fail(fileName_, "ends inside the group list (group " + ofCount(g, r.groupCount) + ", which lists " +
                                    std::to_string(triangles) + " triangles).");
            }
            in_.skip(std::size_t{triangles} * 2);
            r.groups.push_back(GroupRecord{in_.i8()});
        }
    }

    void readMaterials(Ms3dRecords& r)
    {
        const std::uint16_t n = listCount("Materials", kMaterialSize, "material");
        r.materials.resize(n);
        for (MaterialRecord& m : r.materials) {
            m.name = in_.text(kNameSize);
            in_.floats(m.ambient, 4);
            in_.floats(m.diffuse, 4);
            in_.floats(m.specular, 4);
            in_.floats(m.emissive, 4);
            m.shininess = in_.f32();
            m.transparency = in_.f32();
            in_.skip(1);  // mode
            m.texture = in_.text(128);
            in_.skip(128);  // alpha map
        }
    }

    void readAnimationBlock(Ms3dRecords& r)
    {
        if (!in_.fits(1, kAnimationBlockSize)) {
            fail(fileName_, "ends inside its animation block (frames per second, current time, total frames).");
        }
        r.fps = in_.f32();
        r.currentTime = in_.f32();
        r.totalFrames = in_.i32();
        log_ << "Animation FPS(" << r.fps << "); CurrentTime(" << r.currentTime << "); Total Frames("
             << r.totalFrames << ")\n";
    }

    void readJoints(Ms3dRecords& r)
    {
        // Every joint takes at least its fixed part: a count that cannot fit is
        // refused before anything is allocated for it.
        const std::uint16_t n = listCount("Joints", kJointFixedSize, "joint");
        r.joints.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            readJoint(i, n, r.joints[i]);
        }
    }

    void readJoint(std::size_t i, std::size_t n, JointRecord& j)
    {
        if (!in_.fits(1, kJointFixedSize)) {
            fail(fileName_, "ends inside the joint list (joint " + ofCount(i, n) + ").");
        }
        in_.skip(1);  // flags
        j.name = in_.text(kNameSize);
        j.parentName = in_.text(kNameSize);
        in_.floats(j.rotation, 3);
        in_.floats(j.position, 3);
        const std::uint16_t rotationCount = in_.u16();
        const std::uint16_t translationCount = in_.u16();
        log_ << "Joint " << i << " named " << j.name << " with parent " << j.parentName << ".  has " << rotationCount
             << " rotational frames and " << translationCount << " translational frames.\n";
        const std::size_t keys = std::size_t{rotationCount} + translationCount;
        if (!in_.fits(keys, kKeySize)) {
            const std::size_t whole = in_.wholeRecords(kKeySize);
            const std::string key = whole < rotationCount
                                        ? "rotation key " + ofCount(whole, rotationCount)
                                        : "translation key " + ofCount(whole - rotationCount, translationCount);
            fail(fileName_, "ends inside the joint list (joint " + ofCount(i, n) + ", " + shown(j.name) + ", in its " +
                                key + ").");
        }
        readKeys(j.rotationKeys, rotationCount);
        readKeys(j.translationKeys, translationCount);
    }

    void readKeys(std::vector<KeyRecord>& keys, std::size_t count)
    {
        keys.resize(count);
        if constexpr (std::endian::native == std::endian::little && sizeof(KeyRecord) == kKeySize) {
            // A key is four little-endian floats in the file as in memory:
            // characters carry thousands, copied at once.
            if (count > 0) {
                std::memcpy(keys.data(), in_.here(), count * kKeySize);
                in_.skip(count * kKeySize);
            }
            return;
        }
        for (KeyRecord& k : keys) {
            k.time = in_.f32();
            in_.floats(k.value, 3);
        }
    }

    ByteReader in_;
    const std::string& fileName_;
    std::ostream& log_;
};

bool allFinite(const float* v, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void validate(const Ms3dRecords& r, const std::string& fileName)
{
    const std::size_t vertexCount = r.vertices.size();
    for (std::size_t i = 0; i < vertexCount; ++i) {
        if (!allFinite(r.vertices[i].position, 3)) {
            fail(fileName, "has a vertex (" + ofCount(i, vertexCount) + ") whose position is not a finite number.");
        }
    }
    for (std::size_t i = 0; i < r.triangles.size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            const std::uint16_t index = r.triangles[i].indices[c];
            if (index >= vertexCount) {
                fail(fileName, "has a triangle (" + ofCount(i, r.triangles.size()) + ") whose corner " +
                                   std::to_string(c + 1) + " names vertex " + std::to_string(index) +
                                   ", but the file has only " + std::to_string(vertexCount) + " vertices.");
            }
        }
    }
    for (std::size_t i = 0; i < r.materials.size(); ++i) {
        const MaterialRecord& m = r.materials[i];
        if (!allFinite(m.ambient, 4) || !allFinite(m.diffuse, 4) || !allFinite(m.specular, 4) ||
            !allFinite(m.emissive, 4) || !std::isfinite(m.shininess) || !std::isfinite(m.transparency)) {
            fail(fileName, "has a material (" + ofCount(i, r.materials.size()) + ", " + shown(m.name) +
                               ") with a colour, shininess or transparency that is not a finite number.");
        }
    }
    const std::size_t jointCount = r.joints.size();
    for (std::size_t i = 0; i < jointCount; ++i) {
        const JointRecord& j = r.joints[i];
        const std::string where = "joint " + ofCount(i, jointCount) + " (" + shown(j.name) + ")";
        if (!allFinite(j.rotation, 3) || !allFinite(j.position, 3)) {
            fail(fileName, "has a " + where + " whose bind rotation or position is not a finite number.");
        }
        for (std::size_t k = 0; k < j.rotationKeys.size(); ++k) {
            if (!std::isfinite(j.rotationKeys[k].time) || !allFinite(j.rotationKeys[k].value, 3)) {
                fail(fileName, "has a " + where + " whose rotation key " + ofCount(k, j.rotationKeys.size()) +
                                   " is not a finite number.");
            }
        }
        // Only the translation keys that key frames take their values from.
        const std::size_t used = std::min(j.translationKeys.size(), j.rotationKeys.size());
        for (std::size_t k = 0; k < used; ++k) {
            if (!allFinite(j.translationKeys[k].value, 3)) {
                fail(fileName, "has a " + where + " whose translation key " +
                                   ofCount(k, j.translationKeys.size()) + " is not a finite number.");
            }
        }
    }
}

void readRecords(const std::uint8_t* data, std::size_t size, const std::string& fileName, std::ostream& log,
                 Ms3dRecords& r)
{
    SectionReader(data, size, fileName, log).readAll(r);
}

}  // namespace fyrel::ms3d
