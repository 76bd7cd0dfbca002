#include <gtest/gtest.h>

#include <lib3ds/file.h>
#include <lib3ds/io.h>
#include <lib3ds/mesh.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "importers/import_error.h"
#include "importers/three_ds_importer.h"
#include "support/source_tree.h"

using namespace fyrel;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kLoadFailed = "Unable to load 3ds file";
const char* const kAssimpModels = "/usr/share/assimp/models";

// ---- Files written by lib3ds itself -----------------------------------------

struct Sink {
    Bytes bytes;
    std::size_t position = 0;
};

Lib3dsBool sinkError(void*)
{
    return LIB3DS_FALSE;
}
long sinkTell(void* self)
{
    return static_cast<long>(static_cast<Sink*>(self)->position);
}
std::size_t sinkRead(void*, void*, std::size_t)
{
    return 0;
}

long sinkSeek(void* self, long offset, Lib3dsIoSeek origin)
{
    Sink& s = *static_cast<Sink*>(self);
    const long base = origin == LIB3DS_SEEK_SET   ? 0
                      : origin == LIB3DS_SEEK_CUR ? static_cast<long>(s.position)
                                                  : static_cast<long>(s.bytes.size());
    s.position = static_cast<std::size_t>(base + offset);
    return 0;
}

std::size_t sinkWrite(void* self, const void* buffer, std::size_t size)
{
    Sink& s = *static_cast<Sink*>(self);
    if (s.position + size > s.bytes.size()) {
        s.bytes.resize(s.position + size);
    }
    std::memcpy(s.bytes.data() + s.position, buffer, size);
    s.position += size;
    return size;
}

Bytes writeWithLib3ds(Lib3dsFile* file)
{
    Sink sink;
    Lib3dsIo* io = lib3ds_io_new(&sink, sinkError, sinkSeek, sinkTell, sinkRead, sinkWrite);
    const bool written = lib3ds_file_write(file, io);
    lib3ds_io_free(io);
    EXPECT_TRUE(written);
    return sink.bytes;
}

struct Face {
    std::uint16_t a, b, c;
};

Lib3dsMesh* makeMesh(const char* name, const std::vector<Vector3>& points, const std::vector<Face>& faces)
{
    Lib3dsMesh* mesh = lib3ds_mesh_new(name);
    lib3ds_mesh_new_point_list(mesh, static_cast<Lib3dsDword>(points.size()));
    for (std::size_t i = 0; i < points.size(); ++i) {
        mesh->pointL[i].pos[0] = points[i].x;
        mesh->pointL[i].pos[1] = points[i].y;
        mesh->pointL[i].pos[2] = points[i].z;
    }
    if (!faces.empty()) {
        lib3ds_mesh_new_face_list(mesh, static_cast<Lib3dsDword>(faces.size()));
        for (std::size_t i = 0; i < faces.size(); ++i) {
            mesh->faceL[i].points[0] = faces[i].a;
            mesh->faceL[i].points[1] = faces[i].b;
            mesh->faceL[i].points[2] = faces[i].c;
        }
    }
    return mesh;
}

// Writes the meshes in the given order. lib3ds's own insertion would sort them
// by name, so the list is linked by hand: a file's order need not be sorted.
Bytes writeMeshes(const std::vector<Lib3dsMesh*>& meshes)
{
    Lib3dsFile* file = lib3ds_file_new();
    for (std::size_t i = meshes.size(); i-- > 0;) {
        meshes[i]->next = file->meshes;
        file->meshes = meshes[i];
    }
    Bytes bytes = writeWithLib3ds(file);
    lib3ds_file_free(file);
    return bytes;
}

const std::vector<Vector3> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
const std::vector<Vector3> kTriangle = {{5, 0, 1}, {6, 0, 1}, {5, 1, 1}};

Model import(const Bytes& bytes)
{
    return import3dsFromMemory(bytes.data(), bytes.size());
}

// The text of the ImportError that importing throws; fails the test when it
// throws nothing or something else.
std::string failureOf(const Bytes& bytes)
{
    try {
        import(bytes);
    } catch (const ImportError& e) {
        return e.what();
    }
    ADD_FAILURE() << "the import did not fail";
    return {};
}

bool startsWith(const std::string& text, const std::string& head)
{
    return text.compare(0, head.size(), head) == 0;
}

// A failure of ours: our lead-in, and never anything but an ImportError.
::testing::AssertionResult failsCleanlyOrLoads(const Bytes& bytes)
{
    try {
        import(bytes);
        return ::testing::AssertionSuccess();
    } catch (const ImportError& e) {
        if (startsWith(e.what(), kLoadFailed)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "unexpected text: " << e.what();
    }
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// ---- Files put together by hand ----------------------------------------------

void append(Bytes& bytes, const Bytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
}

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes bytes;
    for (const Bytes& part : parts) {
        append(bytes, part);
    }
    return bytes;
}

void appendFloats(Bytes& bytes, const float* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t raw[4];
        std::memcpy(raw, &values[i], 4);  // little-endian host
        bytes.insert(bytes.end(), raw, raw + 4);
    }
}

Bytes chunk(std::uint16_t id, const Bytes& body)
{
    Bytes bytes = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), 0, 0, 0, 0};
    putU32(bytes, 2, static_cast<std::uint32_t>(body.size() + 6));
    append(bytes, body);
    return bytes;
}

void expectPosition(const Vector3& p, float x, float y, float z)
{
    EXPECT_FLOAT_EQ(p.x, x);
    EXPECT_FLOAT_EQ(p.y, y);
    EXPECT_FLOAT_EQ(p.z, z);
}

// ---- Synthetic files ---------------------------------------------------------

TEST(ThreeDsImport, MeshesKeepFileOrderAndLaterFacesAreOffset)
{
    // "zeta" comes first in the file although lib3ds would list it last.
    const Bytes bytes =
        writeMeshes({makeMesh("zeta", kSquare, {{0, 1, 2}, {0, 2, 3}}), makeMesh("alpha", kTriangle, {{0, 1, 2}})});
    const Model m = import(bytes);
    ASSERT_EQ(m.vertices.size(), 7u);
    ASSERT_EQ(m.triangles.size(), 3u);
    expectPosition(m.vertices[0].position, 0, 0, 0);
    expectPosition(m.vertices[2].position, 1, 1, 0);
    expectPosition(m.vertices[4].position, 5, 0, 1);
    expectPosition(m.vertices[6].position, 5, 1, 1);
    EXPECT_EQ(m.triangles[1].indices[2], 3u);
    EXPECT_EQ(m.triangles[2].indices[0], 4u);
    EXPECT_EQ(m.triangles[2].indices[1], 5u);
    EXPECT_EQ(m.triangles[2].indices[2], 6u);
}

TEST(ThreeDsImport, ModelIsStaticWithDefaults)
{
    const Model m = import(writeMeshes({makeMesh("a", kTriangle, {{0, 1, 2}})}));
    EXPECT_TRUE(m.rootBone.name.empty());
    EXPECT_TRUE(m.rootBone.children.empty());
    EXPECT_TRUE(m.animator.animations.empty());
    EXPECT_FLOAT_EQ(m.material.diffuse[0], Material{}.diffuse[0]);
    EXPECT_FLOAT_EQ(m.position.x, 0.0f);
    EXPECT_FLOAT_EQ(m.orientation.w, 1.0f);
}

TEST(ThreeDsImport, MeshWithoutFacesAddsOnlyItsVertices)
{
    const Model m = import(writeMeshes({makeMesh("a", kTriangle, {{0, 1, 2}}), makeMesh("b", kSquare, {})}));
    EXPECT_EQ(m.vertices.size(), 7u);
    EXPECT_EQ(m.triangles.size(), 1u);
    expectPosition(m.vertices[4].position, 1, 0, 0);
}

TEST(ThreeDsImport, FileWithoutMeshesGivesAnEmptyModel)
{
    const Model m = import(writeMeshes({}));
    EXPECT_TRUE(m.vertices.empty());
    EXPECT_TRUE(m.triangles.empty());
}

TEST(ThreeDsImport, PositionsAreTakenAsStoredEvenUnderAMirroringMatrix)
{
    // lib3ds 1.3 mirrors, on reading and on writing, the points of a mesh whose
    // matrix has a negative determinant, so this file is put together by hand.
    const float matrix[12] = {-1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 0, 0};
    const float points[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
    Bytes pointArray = {3, 0};
    appendFloats(pointArray, points, 9);
    Bytes matrixBody;
    appendFloats(matrixBody, matrix, 12);
    const Bytes faceArray = {1, 0, 0, 0, 1, 0, 2, 0, 0, 0};
    Bytes named = {'m', 0};
    append(named,
           chunk(0x4100, concat({chunk(0x4110, pointArray), chunk(0x4160, matrixBody), chunk(0x4120, faceArray)})));
    const Model m = import(chunk(0x4D4D, chunk(0x3D3D, chunk(0x4000, named))));
    ASSERT_EQ(m.vertices.size(), 3u);
    expectPosition(m.vertices[0].position, 1, 2, 3);
    expectPosition(m.vertices[2].position, 7, 8, 10);
}

TEST(ThreeDsImport, NormalsAreComputedFromTheFaces)
{
    const Model m = import(writeMeshes({makeMesh("a", kSquare, {{0, 1, 2}, {0, 2, 3}})}));
    // Counter-clockwise seen from +z: (p0 - p1) x (p2 - p1) points to -z.
    for (const Vertex& v : m.vertices) {
        expectPosition(v.normal, 0, 0, -1);
    }
    expectPosition(m.triangles[0].normal, 0, 0, -1);
}

TEST(ThreeDsImport, ManyMeshesKeepFileOrder)
{
    std::vector<Lib3dsMesh*> meshes;
    for (int i = 0; i < 2000; ++i) {
        // Names that sort against the file order.
        const std::string name = "m" + std::to_string(9999 - i);
        meshes.push_back(makeMesh(name.c_str(), {{static_cast<float>(i), 0, 0}}, {}));
    }
    const Model m = import(writeMeshes(meshes));
    ASSERT_EQ(m.vertices.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_FLOAT_EQ(m.vertices[i].position.x, static_cast<float>(i));
    }
}

TEST(ThreeDsImport, FaceOutsideItsMeshIsRefusedWithOurText)
{
    // Index 3 exists in the model as a whole (the first mesh has 4 vertices),
    // but not in the second mesh.
    const Bytes bytes = writeMeshes({makeMesh("a", kSquare, {}), makeMesh("b", kTriangle, {{0, 1, 3}})});
    EXPECT_EQ(failureOf(bytes), kLoadFailed + ": face 1 of mesh 2 (\"b\") uses vertex 3, but the mesh has 3 vertices");
}

TEST(ThreeDsImport, ConversionRefusesAFaceOutsideItsMesh)
{
    Lib3dsFile* file = lib3ds_file_new();
    lib3ds_file_insert_mesh(file, makeMesh("a", kTriangle, {{0, 1, 2}, {2, 1, 0}, {0, 7, 1}}));
    try {
        convert3dsFile(*file);
        ADD_FAILURE() << "the conversion did not fail";
    } catch (const ImportError& e) {
        EXPECT_STREQ(e.what(), "face 3 of mesh 1 (\"a\") uses vertex 7, but the mesh has 3 vertices");
    }
    lib3ds_file_free(file);
}

TEST(ThreeDsImport, ReadsFromAPathAndNamesItInFailures)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "fyrel_three_ds_test";
    std::filesystem::create_directories(dir);
    const std::string good = (dir / "two.3ds").string();
    const Bytes bytes = writeMeshes({makeMesh("a", kSquare, {{0, 1, 2}}), makeMesh("b", kTriangle, {{0, 1, 2}})});
    std::ofstream(good, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(import3ds(good).vertices.size(), 7u);

    const std::string missing = (dir / "missing.3ds").string();
    try {
        import3ds(missing);
        ADD_FAILURE() << "a missing file loaded";
    } catch (const ImportError& e) {
        EXPECT_EQ(std::string(e.what()), kLoadFailed + " \"" + missing + "\": the file cannot be opened");
    }
    try {
        import3ds(dir.string());
        ADD_FAILURE() << "a folder loaded";
    } catch (const ImportError& e) {
        EXPECT_TRUE(startsWith(e.what(), kLoadFailed + " \"" + dir.string() + "\"")) << e.what();
    }
    std::filesystem::remove_all(dir);
}

TEST(ThreeDsImport, BytesAfterTheMainChunkAreIgnored)
{
    Bytes bytes = writeMeshes({makeMesh("a", kSquare, {{0, 1, 2}})});
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x00});
    EXPECT_EQ(import(bytes).vertices.size(), 4u);
}

TEST(ThreeDsImport, EveryTruncationOfAWrittenFileFails)
{
    const Bytes whole =
        writeMeshes({makeMesh("a", kSquare, {{0, 1, 2}, {0, 2, 3}}), makeMesh("b", kTriangle, {{0, 1, 2}})});
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_TRUE(startsWith(failureOf(cut), kLoadFailed)) << n;
        // The same cut with the main chunk's length made to match, so that the
        // check has to find the damage inside.
        if (n >= 6) {
            Bytes resized = cut;
            putU32(resized, 2, static_cast<std::uint32_t>(n));
            EXPECT_TRUE(failsCleanlyOrLoads(resized)) << n;
        }
    }
}

// ---- Hostile files: what lib3ds 1.3 does with each, and what we say ---------

struct HostileCase {
    const char* file;
    const char* lib3dsAlone;  // what lib3ds did with it unguarded
    const char* expected;     // part of our message
};

const HostileCase kHostileCases[] = {
    {"zero_length_chunk.3ds", "loops for ever", "has an impossible length of 0"},
    {"wrapping_chunk_length.3ds", "seeks backwards and loops for ever", "claims 4294967216 bytes, but only 6 are left"},
    {"face_beyond_points.3ds", "reads outside the point array",
     "face 1 of mesh 1 (\"m\") uses vertex 60000, but the mesh has 3 vertices"},
    {"faces_without_points.3ds", "dereferences a null point array",
     "face 1 of mesh 1 (\"m\") uses vertex 0, but the mesh has 0 vertices"},
    {"material_group_face_beyond_faces.3ds", "writes outside the face array",
     "a material group of mesh 1 (\"m\") names face 60001, but the mesh has 1 faces"},
    {"truncated_scene.3ds", "reports success with made-up data", "the file is truncated"},
    {"point_count_beyond_chunk.3ds", "reads the next chunks as points and reports success",
     "the point array of mesh 1 (\"m\") at byte 36 counts 65535 entries, but its chunk holds only 1"},
    {"unterminated_group_name.3ds", "fails and leaks the mesh", "is not terminated"},
    {"unterminated_object_name.3ds", "fails and leaks what it had read", "is not terminated"},
    {"short_chunk_tail.3ds", "reads a header across its parent's end", "are too few for a chunk"},
    {"not_a_number_vertex.3ds", "passes NaN on", "has a coordinate that is not a finite number"},
};

TEST(ThreeDsHostileFiles, EachIsRefusedWithItsReason)
{
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(std::string(c.file) + " (lib3ds alone " + c.lib3dsAlone + ")");
        const Bytes bytes = readFile(sourcePath("tests/data/3ds/") + c.file);
        ASSERT_FALSE(bytes.empty());
        const std::string text = failureOf(bytes);
        EXPECT_TRUE(startsWith(text, kLoadFailed + ": ")) << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
    }
}

TEST(ThreeDsHostileFiles, DamageWhereTheModelDoesNotLookCostsNothing)
{
    // lib3ds alone leaks everything on the first and reads the second's
    // 2^31 key frames past the end of the file; neither section reaches it.
    for (const char* file : {"damaged_key_frames.3ds", "endless_key_track.3ds"}) {
        SCOPED_TRACE(file);
        const Bytes bytes = readFile(sourcePath("tests/data/3ds/") + file);
        ASSERT_FALSE(bytes.empty());
        const Model m = import(bytes);
        EXPECT_EQ(m.vertices.size(), 3u);
        EXPECT_EQ(m.triangles.size(), 1u);
    }
}

// ---- Real files --------------------------------------------------------------

std::vector<std::string> assimp3dsFiles()
{
    std::vector<std::string> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(kAssimpModels, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (it->is_regular_file() && extension == ".3ds") {
            files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ThreeDsRealFiles, AssimpModelsLoadWithTheTotalsLib3dsReads)
{
    const std::vector<std::string> files = assimp3dsFiles();
    if (files.empty()) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    int read = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Lib3dsFile* reference = lib3ds_file_load(path.c_str());
        if (reference == nullptr) {
            EXPECT_TRUE(failsCleanlyOrLoads(readFile(path)));
            continue;
        }
        std::size_t vertices = 0;
        std::size_t faces = 0;
        for (const Lib3dsMesh* mesh = reference->meshes; mesh != nullptr; mesh = mesh->next) {
            vertices += mesh->points;
            faces += mesh->faces;
        }
        lib3ds_file_free(reference);
        const Model m = import3ds(path);
        EXPECT_EQ(m.vertices.size(), vertices);
        EXPECT_EQ(m.triangles.size(), faces);
        EXPECT_GT(m.triangles.size(), 0u);
        ++read;
    }
    EXPECT_GE(read, 9);
}

Bytes realFile()
{
    return readFile(std::string(kAssimpModels) + "/3DS/test1.3ds");
}

TEST(ThreeDsRealFiles, TruncatedCopiesFail)
{
    const Bytes whole = realFile();
    if (whole.empty()) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    ASSERT_EQ(import(whole).vertices.size(), 288u);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_TRUE(startsWith(failureOf(cut), kLoadFailed)) << n;
        if (n >= 6) {
            putU32(cut, 2, static_cast<std::uint32_t>(n));
            ASSERT_TRUE(failsCleanlyOrLoads(cut)) << n;
        }
    }
}

TEST(ThreeDsRealFiles, CorruptedCopiesFailCleanlyOrLoad)
{
    const Bytes whole = realFile();
    if (whole.empty()) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    const std::uint8_t values[] = {0x00, 0x01, 0xFF};
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (std::uint8_t value : values) {
            Bytes bad = whole;
            bad[at] = value;
            ASSERT_TRUE(failsCleanlyOrLoads(bad)) << "byte " << at << " set to " << int{value};
        }
    }
}

}  // namespace
