// Model import against a reference importer, in one process on the same
// files: Fyrel's importers (by file ending, as the program picks them) and
// Assimp's ReadFile(path, 0) (no post-processing). Files come from Debian's
// assimp-testmodels; both sides read them from the page cache.
//
// glTF has few large files there, so the glTF group also reads .glb files
// the program's exporter writes at start from three of the characters
// (clips, skins, materials and textures and all), into a scratch folder
// both sides read.
//
// Realistic corpora written at start as well: real skinned, animated .X
// characters MSZIP-compressed with zlib (x-compressed-character), and
// textured, animated characters as .glb with their images inside
// (glb-character): the real .X ones through the program's exporter, with the
// jeep's picture where they have none.
//
// Times are CPU times (each side runs on one thread), which a busy machine
// disturbs less than wall-clock times.
//
// Prints one Google Benchmark row per file and side (with MB/s), then a table
// per group of files: total MB/s of each side over the group and their ratio
// (Fyrel / Assimp, higher is better) and the geometric mean of the files'
// ratios, and for the .X groups the geometric mean of the ratios of text,
// binary and compressed files.
//
//   build/bench/import_bench --benchmark_min_time=0.2
//
// The formats the import worker reads with Assimp have a table of their own:
// per family, the worker's conversion after Assimp's read (the scene to a
// Model, its wire bytes and the program's reader of them) against that read
// (ReadFile with the worker's flags and Assimp's check of the scene that the
// worker runs after it), both in this run; the bound is a fifth. Two parts
// of the conversion are timed on their own beside it: the wire (bytes
// written and read back) and the model's face normals. Files and families
// both get a line.
//
//   build/bench/import_bench --benchmark_filter='read|conversion' --benchmark_min_time=0.2
//
// On a machine whose speed drifts, repeat and interleave:
//
//   build/bench/import_bench --benchmark_min_time=0.1 --benchmark_repetitions=8
//       --benchmark_enable_random_interleaving=true

#include <benchmark/benchmark.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "exporters/gltf_exporter.h"
#include "importers/assimp/assimp_conversion.h"
#include "importers/assimp/model_wire.h"
#include "importers/gltf/gltf_document.h"
#include "importers/model_formats.h"
#include "diagnostics/debug_output.h"
#include "tools/ms3d_writer.h"

namespace {

const char* const kModels = "/usr/share/assimp/models/";

struct SampleFile {
    const char* group;  // files compared as one
    const char* path;   // under kModels
};

const SampleFile kFiles[] = {
    {"x-text", "X/BCN_Epileptic.X"},
    {"x-text", "X/Testwuson.X"},
    {"x-text", "X/anim_test.x"},
    {"x-text", "X/kwxport_test_cubewithvcolors.x"},
    {"x-text", "X/test.x"},
    {"x-text", "X/test_cube_text.x"},
    {"x-binary", "X/fromtruespace_bin32.x"},
    {"x-binary", "X/test_cube_binary.x"},
    {"x-compressed", "X/test_cube_compressed.x"},
    {"ms3d", "MS3D/Wuson.ms3d"},
    {"ms3d", "MS3D/jeep1.ms3d"},
    {"ms3d", "MS3D/twospheres.ms3d"},
    {"ms3d", "MS3D/twospheres_withmats.ms3d"},
    {"3ds", "3DS/CameraRollAnimWithChildObject.3ds"},
    {"3ds", "3DS/RotatingCube.3DS"},
    {"3ds", "3DS/cube_with_diffuse_texture.3DS"},
    {"3ds", "3DS/cubes_with_alpha.3DS"},
    {"3ds", "3DS/fels.3ds"},
    {"3ds", "3DS/test1.3ds"},
    {"gltf", "glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb"},
    {"gltf", "glTF2/BoxTextured-glTF/BoxTextured.gltf"},
    {"gltf", "glTF2/BoxTextured-glTF-Embedded/BoxTextured.gltf"},
    {"gltf", "glTF2/glTF-Sample-Models/AnimatedMorphCube-glTF/AnimatedMorphCube.gltf"},
    {"gltf", "glTF2/simple_skin/simple_skin.gltf"},
};

// Characters written as .glb before the run, named as in kFiles (the "path"
// is the exported file's name in the scratch folder).
const SampleFile kExported[] = {
    {"gltf", "X/Testwuson.X"},
    {"gltf", "X/BCN_Epileptic.X"},
    {"gltf", "MS3D/jeep1.ms3d"},
};

// Real skinned, animated .X characters, written MSZIP-compressed before the
// run (group "x-compressed-character"): assimp-testmodels' only compressed
// file is a cube.
const char* const kCompressedCharacters[] = {"X/BCN_Epileptic.X", "X/Testwuson.X", "X/anim_test.x"};

// Textured, animated characters as .glb with their images inside, written by
// the program's exporter before the run (group "glb-character"): the glTF
// files a person is likely to open, which assimp-testmodels lacks. Its
// animated characters are these .X ones (its .ms3d files have no clips).
const char* const kGlbCharacters[] = {"X/BCN_Epileptic.X", "X/Testwuson.X", "X/anim_test.x"};

// A text or binary .X file as its MSZIP form: the header's format becomes
// "tzip" or "bzip", then the inflated size (header included) and blocks of
// up to 32 KiB, each raw deflate with the block before as its dictionary, as
// DirectX writes them.
std::vector<unsigned char> compressX(const std::vector<unsigned char>& file)
{
    constexpr std::size_t kHeader = 16, kBlock = 32768;
    if (file.size() < kHeader) {
        throw std::runtime_error("too short for an .X header");
    }
    std::vector<unsigned char> out(file.begin(), file.begin() + kHeader);
    std::memcpy(out.data() + 8, file[8] == 'b' ? "bzip" : "tzip", 4);
    const auto total = static_cast<std::uint32_t>(file.size());
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(total >> (8 * i)));
    }
    for (std::size_t at = kHeader; at < file.size(); at += kBlock) {
        const std::size_t raw = std::min(kBlock, file.size() - at);
        z_stream stream{};
        if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            throw std::runtime_error("deflate could not be set up");
        }
        if (at > kHeader) {
            deflateSetDictionary(&stream, file.data() + at - kBlock, kBlock);
        }
        std::vector<unsigned char> packed(deflateBound(&stream, raw));
        stream.next_in = const_cast<unsigned char*>(file.data() + at);
        stream.avail_in = static_cast<uInt>(raw);
        stream.next_out = packed.data();
        stream.avail_out = static_cast<uInt>(packed.size());
        const int result = deflate(&stream, Z_FINISH);
        const std::size_t packedBytes = packed.size() - stream.avail_out;
        deflateEnd(&stream);
        if (result != Z_STREAM_END || packedBytes + 2 > 0xFFFF) {
            throw std::runtime_error("a block did not deflate");
        }
        for (const std::size_t field : {raw, packedBytes + 2}) {
            out.push_back(static_cast<unsigned char>(field & 0xFF));
            out.push_back(static_cast<unsigned char>(field >> 8));
        }
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packedBytes));
    }
    return out;
}

// A character without images gets a real one, the jeep's, on every material
// (texture coordinates as the file has them, or none).
void texture(fyrel::Model& model)
{
    auto give = [](fyrel::Material& m) {
        if (!m.hasTexture()) {
            m.texture = "jeep1.jpg";
            m.texturePath = std::string(kModels) + "MS3D/jeep1.jpg";
        }
    };
    give(model.material);
    std::for_each(model.materials.begin(), model.materials.end(), give);
}

std::vector<unsigned char> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("could not write " + path);
    }
}

// Milkshape characters as real ones are (a skinned body of a few thousand
// vertices under 20 to 60 joints, each with its own rotation and translation
// keys, thousands in all), written before the run with tools/ms3d_writer;
// assimp-testmodels holds none that large. Group "ms3d-character".
struct CharacterSize {
    int joints, keysPerJoint, vertices;
};
const CharacterSize kCharacters[] = {{24, 120, 2000}, {40, 240, 4000}, {60, 400, 6000}};

fyrel::Ms3dFile character(const CharacterSize& size, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    fyrel::Ms3dFile file;
    file.totalFrames = size.keysPerJoint;
    for (int j = 0; j < size.joints; ++j) {
        fyrel::Ms3dJoint joint;
        joint.name = "joint" + std::to_string(j);
        joint.parentName = j == 0 ? "" : "joint" + std::to_string(static_cast<int>(random() % static_cast<unsigned>(j)));
        joint.position[1] = 0.2f + 0.1f * unit(random);
        joint.rotation[0] = 0.3f * unit(random);
        for (int k = 0; k < size.keysPerJoint; ++k) {
            const float time = static_cast<float>(k + 1) / file.fps;
            joint.rotationKeys.push_back({time, {0.5f * unit(random), 0.5f * unit(random), 0.5f * unit(random)}});
            joint.translationKeys.push_back({time, {0.01f * unit(random), 0.01f * unit(random), 0.0f}});
        }
        file.joints.push_back(joint);
    }
    for (int v = 0; v < size.vertices; ++v) {
        fyrel::Ms3dVertex vertex;
        vertex.position[0] = unit(random);
        vertex.position[1] = 2.0f * unit(random);
        vertex.position[2] = unit(random);
        vertex.boneIndex = static_cast<std::int8_t>(v % size.joints);
        file.vertices.push_back(vertex);
    }
    fyrel::Ms3dGroup group;
    group.name = "body";
    group.materialIndex = 0;
    // A strip over the vertices; a vertex keeps its texture point in every
    // triangle, as in a mesh without seams.
    for (int t = 0; t + 2 < size.vertices; ++t) {
        fyrel::Ms3dTriangle triangle;
        for (int c = 0; c < 3; ++c) {
            const int v = t + c;
            triangle.indices[c] = static_cast<std::uint16_t>(v);
            triangle.normals[c][1] = 1.0f;
            triangle.s[c] = static_cast<float>(v % 64) / 64.0f;
            triangle.t[c] = static_cast<float>(v / 64) / 128.0f;
        }
        group.triangles.push_back(static_cast<std::uint16_t>(file.triangles.size()));
        file.triangles.push_back(triangle);
    }
    file.groups.push_back(group);
    fyrel::Ms3dMaterial material;
    material.name = "skin";
    file.materials.push_back(material);
    return file;
}

// One file or more per family that the import worker reads with Assimp;
// for STL, whose binary files Assimp reads fastest of all, every file of
// assimp-testmodels that holds a triangle (binary and text alike).
const SampleFile kWorkerFiles[] = {
    {"fbx", "FBX/huesitos.fbx"},
    {"fbx", "FBX/animation_with_skeleton.fbx"},
    {"fbx", "FBX/spider.fbx"},
    {"fbx", "FBX/embedded_ascii/box.FBX"},
    {"collada", "Collada/duck.dae"},
    {"collada", "Collada/human.zae"},
    {"collada", "Collada/teapots.DAE"},
    {"bvh", "BVH/01_01.bvh"},
    {"bvh", "BVH/Boxing_Toes.bvh"},
    {"md5", "MD5/SimpleCube.md5mesh"},
    {"smd", "SMD/WusonSMD.smd"},
    {"b3d", "B3D/WusonBlitz.b3d"},
    {"iqm", "IQM/mrfixit.iqm"},
    {"obj", "OBJ/spider.obj"},
    {"obj", "OBJ/WusonOBJ.obj"},
    {"ply", "PLY/Wuson.ply"},
    {"stl", "STL/Wuson.stl"},
    {"stl", "STL/Spider_binary.stl"},
    {"stl", "STL/3DSMaxExport.STL"},
    {"stl", "STL/Spider_ascii.stl"},
    {"stl", "STL/sphereWithHole.stl"},
    {"stl", "STL/triangle.stl"},
    {"stl", "STL/triangle_with_two_solids.stl"},
    {"off", "OFF/Wuson.off"},
};

std::string endingOf(const std::string& path)
{
    std::string e = std::filesystem::path(path).extension().string().substr(1);
    for (char& c : e) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return e;
}

// Assimp's read of the file as the import worker asks for it, with
// Assimp's check of the scene that the worker runs after it; null, the row
// skipped with Assimp's reason, when it fails.
const aiScene* readAsWorkerDoes(Assimp::Importer& importer, const std::string& path, benchmark::State& state)
{
    fyrel::prepareAssimpImporter(importer);
    const aiScene* scene = fyrel::checkAssimpScene(importer, importer.ReadFile(path, fyrel::assimpReadFlags()));
    if (!scene) {
        state.SkipWithError(importer.GetErrorString());
    }
    return scene;
}

// Assimp's read as the worker asks for it.
void ReadAssimp(benchmark::State& state, std::string path)
{
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = readAsWorkerDoes(importer, path, state);
        if (!scene) {
            return;
        }
        benchmark::DoNotOptimize(scene);
    }
}

// What follows that read: the conversion, the wire bytes, the program's
// reader of them; on one scene read before.
void ConvertAssimp(benchmark::State& state, std::string path)
{
    Assimp::Importer importer;
    const aiScene* scene = readAsWorkerDoes(importer, path, state);
    if (!scene) {
        return;
    }
    const std::string ending = endingOf(path);
    for (auto _ : state) {
        std::vector<std::string> notes;
        const fyrel::Model model = fyrel::convertAssimpScene(*scene, path, ending, notes);
        const std::vector<std::uint8_t> wire = fyrel::writeModelWire(model, notes);
        fyrel::WireModel back = fyrel::readModelWire(wire.data(), wire.size(), path);
        benchmark::DoNotOptimize(back.model.vertices.data());
    }
}

// A model converted from Assimp's read of the file as the worker does it,
// for the rows that time a part of the conversion; false (the row skipped
// with Assimp's reason) when Assimp refuses the file.
bool convertedOnce(const std::string& path, benchmark::State& state, fyrel::Model& model,
                   std::vector<std::string>& notes)
{
    Assimp::Importer importer;
    const aiScene* scene = readAsWorkerDoes(importer, path, state);
    if (scene) {
        model = fyrel::convertAssimpScene(*scene, path, endingOf(path), notes);
    }
    return scene != nullptr;
}

// Of that, the wire alone: the bytes written and read back by the
// program's reader, from a model converted before.
void WireAssimp(benchmark::State& state, std::string path)
{
    fyrel::Model model;
    std::vector<std::string> notes;
    if (!convertedOnce(path, state, model, notes)) {
        return;
    }
    for (auto _ : state) {
        const std::vector<std::uint8_t> wire = fyrel::writeModelWire(model, notes);
        fyrel::WireModel back = fyrel::readModelWire(wire.data(), wire.size(), path);
        benchmark::DoNotOptimize(back.model.vertices.data());
    }
}

// Of that, the model's face normals alone (every importer makes them), on
// a model converted before.
void FaceNormalsAssimp(benchmark::State& state, std::string path)
{
    fyrel::Model model;
    std::vector<std::string> notes;
    if (!convertedOnce(path, state, model, notes)) {
        return;
    }
    for (auto _ : state) {
        model.computeFaceNormals();
        benchmark::DoNotOptimize(model.triangles.data());
    }
}

void ImportFyrel(benchmark::State& state, std::string path, std::uintmax_t bytes)
{
    for (auto _ : state) {
        fyrel::Model model = fyrel::importModelFile(path);
        benchmark::DoNotOptimize(model.vertices.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void ImportAssimp(benchmark::State& state, std::string path, std::uintmax_t bytes)
{
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path, 0);
        if (!scene) {
            state.SkipWithError(importer.GetErrorString());
            return;
        }
        benchmark::DoNotOptimize(scene);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// tinygltf's load alone, as the glTF importer calls it (the document, no
// conversion): no importer built on it can be faster than this.
void LoadTinygltf(benchmark::State& state, std::string path, std::uintmax_t bytes)
{
    for (auto _ : state) {
        tinygltf::Model document = fyrel::loadGltfDocument(path);
        benchmark::DoNotOptimize(document.buffers.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Keeps every run's time per iteration while printing as the console does:
// the mean over repetitions, which --benchmark_enable_random_interleaving
// spreads over the whole run so that a machine slowing down for a while
// weighs on both sides alike.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;  // by run name

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                auto& [sum, count] = repetitions_[run.benchmark_name()];
                sum += run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                seconds[run.benchmark_name()] = sum / ++count;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::map<std::string, std::pair<double, int>> repetitions_;
};

struct GroupTotal {
    double bytes = 0, fyrelSeconds = 0, assimpSeconds = 0, tinygltfSeconds = 0;
    double logRatios = 0;  // sum over the files of log(Assimp's time / Fyrel's)
    int files = 0;
    bool complete = true;
};

}  // namespace

int main(int argc, char** argv)
{
    fyrel::setDebugSink([](const std::string&) {});  // the importers' reading summaries
    fyrel::keepFreedMemoryForReuse();  // as the program does; Assimp's side runs with it too
    // One folder per run: two runs at once must not write each other's files.
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("fyrel_import_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    std::vector<SampleFile> files(std::begin(kFiles), std::end(kFiles));
    std::vector<std::string> exportedNames;  // owns the paths the exported entries point at
    exportedNames.reserve(std::size(kExported));
    for (const SampleFile& source : kExported) {
        const std::filesystem::path out = scratch / (std::filesystem::path(source.path).stem().string() + ".glb");
        try {
            fyrel::exportGlbFile(fyrel::importModelFile(std::string(kModels) + source.path), out.string());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "skipped (not exported): %s: %s\n", source.path, e.what());
            continue;
        }
        exportedNames.push_back(out.string());
        files.push_back({source.group, exportedNames.back().c_str()});
    }
    std::vector<std::string> compressedNames, glbNames;
    compressedNames.reserve(std::size(kCompressedCharacters));
    glbNames.reserve(std::size(kGlbCharacters));
    for (const char* source : kCompressedCharacters) {
        const std::filesystem::path out = scratch / (std::filesystem::path(source).stem().string() + "_mszip.x");
        try {
            writeBytes(out.string(), compressX(readBytes(std::string(kModels) + source)));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "skipped (not compressed): %s: %s\n", source, e.what());
            continue;
        }
        compressedNames.push_back(out.string());
        files.push_back({"x-compressed-character", compressedNames.back().c_str()});
    }
    for (const char* source : kGlbCharacters) {
        const std::filesystem::path out = scratch / (std::filesystem::path(source).stem().string() + "_character.glb");
        try {
            fyrel::Model model = fyrel::importModelFile(std::string(kModels) + source);
            if (model.animator.animations.empty() || model.vertices.empty()) {
                std::fprintf(stderr, "skipped (not an animated character): %s\n", source);
                continue;
            }
            texture(model);
            fyrel::exportGlbFile(model, out.string());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "skipped (not exported): %s: %s\n", source, e.what());
            continue;
        }
        glbNames.push_back(out.string());
        files.push_back({"glb-character", glbNames.back().c_str()});
    }
    std::vector<std::string> characterNames;
    characterNames.reserve(std::size(kCharacters));
    for (const CharacterSize& size : kCharacters) {
        characterNames.push_back((scratch / ("character" + std::to_string(size.joints) + ".ms3d")).string());
        fyrel::saveMs3d(character(size, static_cast<unsigned>(size.joints)), characterNames.back());
        files.push_back({"ms3d-character", characterNames.back().c_str()});
    }
    std::vector<std::pair<const SampleFile*, std::uintmax_t>> present;
    for (const SampleFile& file : files) {
        const std::string path = file.path[0] == '/' ? std::string(file.path) : std::string(kModels) + file.path;
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(path, error);
        if (error) {
            std::fprintf(stderr, "skipped (not there): %s\n", path.c_str());
            continue;
        }
        present.emplace_back(&file, bytes);
        benchmark::RegisterBenchmark((std::string("fyrel/") + file.path).c_str(), ImportFyrel, path, bytes)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("assimp/") + file.path).c_str(), ImportAssimp, path, bytes)
            ->Unit(benchmark::kMicrosecond);
        if (std::string(file.group) == "gltf" || std::string(file.group) == "glb-character") {
            benchmark::RegisterBenchmark((std::string("tinygltf/") + file.path).c_str(), LoadTinygltf, path, bytes)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (const SampleFile& file : kWorkerFiles) {
        const std::string path = std::string(kModels) + file.path;
        benchmark::RegisterBenchmark((std::string("read/") + file.path).c_str(), ReadAssimp, path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("conversion/") + file.path).c_str(), ConvertAssimp, path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("conversion.wire/") + file.path).c_str(), WireAssimp, path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("conversion.faces/") + file.path).c_str(), FaceNormalsAssimp, path)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    std::map<std::string, GroupTotal> groups;
    for (const auto& [file, bytes] : present) {
        GroupTotal& g = groups[file->group];
        const auto fyrel = collector.seconds.find(std::string("fyrel/") + file->path);
        const auto assimp = collector.seconds.find(std::string("assimp/") + file->path);
        if (fyrel == collector.seconds.end() || assimp == collector.seconds.end()) {
            g.complete = false;
            continue;
        }
        g.bytes += static_cast<double>(bytes);
        g.fyrelSeconds += fyrel->second;
        g.assimpSeconds += assimp->second;
        g.logRatios += std::log(assimp->second / fyrel->second);
        ++g.files;
        const auto tinygltf = collector.seconds.find(std::string("tinygltf/") + file->path);
        g.tinygltfSeconds += tinygltf != collector.seconds.end() ? tinygltf->second : 0.0;
    }
    std::printf("\n%-22s %12s %12s %8s %9s\n", "files", "Fyrel MB/s", "Assimp MB/s", "ratio", "geo. mean");
    double logSum = 0;
    int xGroups = 0;
    for (const auto& [name, g] : groups) {
        if (!g.complete || g.fyrelSeconds <= 0 || g.assimpSeconds <= 0) {
            std::printf("%-22s (not every file ran)\n", name.c_str());
            continue;
        }
        const double ratio = g.assimpSeconds / g.fyrelSeconds;
        std::printf("%-22s %12.1f %12.1f %8.2f %9.2f\n", name.c_str(), g.bytes / g.fyrelSeconds / 1e6,
                    g.bytes / g.assimpSeconds / 1e6, ratio, std::exp(g.logRatios / g.files));
        if (name.rfind("x-", 0) == 0 && name.find("-character") == std::string::npos) {
            logSum += std::log(ratio);
            ++xGroups;
        }
    }
    for (const char* name : {"gltf", "glb-character"}) {
        const auto found = groups.find(name);
        if (found != groups.end() && found->second.complete && found->second.tinygltfSeconds > 0) {
            const GroupTotal& g = found->second;
            std::printf("%-22s %12.1f %12s %8.2f   (tinygltf's load alone: the bound of the glTF importer)\n",
                        (std::string(name) + " document").c_str(), g.bytes / g.tinygltfSeconds / 1e6, "",
                        g.assimpSeconds / g.tinygltfSeconds);
        }
    }
    if (xGroups > 0) {
        std::printf("%-22s %12s %12s %8.2f\n", ".X geo. mean", "", "", std::exp(logSum / xGroups));
    }
    // The worker's files and families: conversion time over Assimp's read
    // time, with the wire's share (written and read back) and the face
    // normals' beside it where their rows ran.
    struct WorkerTimes {
        double read = 0, conversion = 0, wire = 0, faces = 0;
        bool complete = true, wireComplete = true, facesComplete = true;

        void add(const Collector& collector, const char* path)
        {
            const auto time = [&](const char* row, double& sum, bool& all) {
                const auto found = collector.seconds.find(std::string(row) + path);
                all = all && found != collector.seconds.end();
                sum += found != collector.seconds.end() ? found->second : 0.0;
            };
            time("read/", read, complete);
            time("conversion/", conversion, complete);
            time("conversion.wire/", wire, wireComplete);
            time("conversion.faces/", faces, facesComplete);
        }
        void print(const std::string& name) const
        {
            char wireText[32] = "-", facesText[32] = "-";
            if (wireComplete) {
                std::snprintf(wireText, sizeof wireText, "%.3f", wire * 1e3);
            }
            if (facesComplete) {
                std::snprintf(facesText, sizeof facesText, "%.3f", faces * 1e3);
            }
            std::printf("%-40s %9.3f %9.3f %9.3f %9s %9s\n", name.c_str(), read * 1e3, conversion * 1e3,
                        conversion / read, wireText, facesText);
        }
    };
    const char* const header = "%-40s %9s %9s %9s %9s %9s\n";
    std::map<std::string, WorkerTimes> families;
    bool anyFile = false;
    for (const SampleFile& file : kWorkerFiles) {
        WorkerTimes one;
        one.add(collector, file.path);
        families[file.group].add(collector, file.path);
        if (one.complete) {
            if (!anyFile) {
                std::printf("\n");
                std::printf(header, "file (times in ms)", "read", "convert", "conv/read", "of it wire", "faces");
                anyFile = true;
            }
            one.print(file.path);
        }
    }
    if (anyFile) {
        std::printf("\n");
        std::printf(header, "family (times in ms)", "read", "convert", "conv/read", "of it wire", "faces");
        for (const auto& [name, w] : families) {
            if (w.complete) {
                w.print(name);
            } else if (w.read > 0) {
                std::printf("%-40s (not every file ran)\n", name.c_str());
            }
        }
    }
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
