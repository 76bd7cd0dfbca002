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
// Times are CPU times (each side runs on one thread), which a busy machine
// disturbs less than wall-clock times.
//
// Prints one Google Benchmark row per file and side (with MB/s), then a table
// per group of files: total MB/s of each side over the group and their ratio
// (Fyrel / Assimp, higher is better), and for the .X groups the geometric
// mean of the ratios of text, binary and compressed files.
//
//   build/bench/import_bench --benchmark_min_time=0.2
//
// The formats the import worker reads with Assimp have a table of their own:
// per family, the worker's conversion after Assimp's read (the scene to a
// Model, its wire bytes and the program's reader of them) against that read
// (ReadFile with the worker's flags), both in this run; the bound is
// a fifth. The last column is the wire's part of the conversion (bytes
// written and read back, with the reader's face normals), timed on its own.
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

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
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

// One file or more per family that the import worker reads with Assimp.
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

// Assimp's read as the worker asks for it.
void ReadAssimp(benchmark::State& state, std::string path)
{
    for (auto _ : state) {
        Assimp::Importer importer;
        fyrel::prepareAssimpImporter(importer);
        const aiScene* scene = importer.ReadFile(path, fyrel::assimpReadFlags());
        if (!scene) {
            state.SkipWithError(importer.GetErrorString());
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
    fyrel::prepareAssimpImporter(importer);
    const aiScene* scene = importer.ReadFile(path, fyrel::assimpReadFlags());
    if (!scene) {
        state.SkipWithError(importer.GetErrorString());
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

// Of that, the wire alone: the bytes written and read back by the
// program's reader (with its face normals), from a model converted before.
void WireAssimp(benchmark::State& state, std::string path)
{
    Assimp::Importer importer;
    fyrel::prepareAssimpImporter(importer);
    const aiScene* scene = importer.ReadFile(path, fyrel::assimpReadFlags());
    if (!scene) {
        state.SkipWithError(importer.GetErrorString());
        return;
    }
    std::vector<std::string> notes;
    const fyrel::Model model = fyrel::convertAssimpScene(*scene, path, endingOf(path), notes);
    for (auto _ : state) {
        const std::vector<std::uint8_t> wire = fyrel::writeModelWire(model, notes);
        fyrel::WireModel back = fyrel::readModelWire(wire.data(), wire.size(), path);
        benchmark::DoNotOptimize(back.model.vertices.data());
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
    bool complete = true;
};

}  // namespace

int main(int argc, char** argv)
{
    fyrel::setDebugSink([](const std::string&) {});  // the importers' reading summaries
    fyrel::keepFreedMemoryForReuse();  // as the program does; Assimp's side runs with it too
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "fyrel_import_bench";
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
        if (std::string(file.group) == "gltf") {
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
        const auto tinygltf = collector.seconds.find(std::string("tinygltf/") + file->path);
        g.tinygltfSeconds += tinygltf != collector.seconds.end() ? tinygltf->second : 0.0;
    }
    std::printf("\n%-14s %12s %12s %8s\n", "files", "Fyrel MB/s", "Assimp MB/s", "ratio");
    double logSum = 0;
    int xGroups = 0;
    for (const auto& [name, g] : groups) {
        if (!g.complete || g.fyrelSeconds <= 0 || g.assimpSeconds <= 0) {
            std::printf("%-14s (not every file ran)\n", name.c_str());
            continue;
        }
        const double ratio = g.assimpSeconds / g.fyrelSeconds;
        std::printf("%-14s %12.1f %12.1f %8.2f\n", name.c_str(), g.bytes / g.fyrelSeconds / 1e6,
                    g.bytes / g.assimpSeconds / 1e6, ratio);
        if (name.rfind("x-", 0) == 0) {
            logSum += std::log(ratio);
            ++xGroups;
        }
    }
    const auto gltf = groups.find("gltf");
    if (gltf != groups.end() && gltf->second.complete && gltf->second.tinygltfSeconds > 0) {
        const GroupTotal& g = gltf->second;
        std::printf("%-14s %12.1f %12s %8.2f   (tinygltf's load alone: the bound of the glTF importer)\n", "gltf document",
                    g.bytes / g.tinygltfSeconds / 1e6, "", g.assimpSeconds / g.tinygltfSeconds);
    }
    if (xGroups > 0) {
        std::printf("%-14s %12s %12s %8.2f\n", ".X geo. mean", "", "", std::exp(logSum / xGroups));
    }
    // The worker's families: conversion time over Assimp's read time.
    // The wire's share (written and read back) is printed beside it when
    // its rows ran.
    struct WorkerTimes {
        double read = 0, conversion = 0, wire = 0;
        bool complete = true, wireComplete = true;
    };
    std::map<std::string, WorkerTimes> worker;
    for (const SampleFile& file : kWorkerFiles) {
        const auto read = collector.seconds.find(std::string("read/") + file.path);
        const auto conversion = collector.seconds.find(std::string("conversion/") + file.path);
        const auto wire = collector.seconds.find(std::string("conversion.wire/") + file.path);
        WorkerTimes& w = worker[file.group];
        w.wireComplete = w.wireComplete && wire != collector.seconds.end();
        w.wire += wire != collector.seconds.end() ? wire->second : 0.0;
        if (read == collector.seconds.end() || conversion == collector.seconds.end()) {
            w.complete = false;
            continue;
        }
        w.read += read->second;
        w.conversion += conversion->second;
    }
    bool header = false;
    for (const auto& [name, w] : worker) {
        if (!w.complete && w.read == 0) {
            continue;  // none of its rows ran
        }
        if (!header) {
            std::printf("\n%-14s %14s %14s %10s %14s\n", "family", "Assimp read ms", "conversion ms", "conv/read",
                        "of it wire ms");
            header = true;
        }
        if (!w.complete) {
            std::printf("%-14s (not every file ran)\n", name.c_str());
        } else if (w.wireComplete) {
            std::printf("%-14s %14.3f %14.3f %10.3f %14.3f\n", name.c_str(), w.read * 1e3, w.conversion * 1e3,
                        w.conversion / w.read, w.wire * 1e3);
        } else {
            std::printf("%-14s %14.3f %14.3f %10.3f\n", name.c_str(), w.read * 1e3, w.conversion * 1e3,
                        w.conversion / w.read);
        }
    }
    benchmark::Shutdown();
    return 0;
}
