// The regression files of tests/data, each read against its folder's
// MANIFEST (support/import_check.h): files made to eat the machine (counts
// that announce billions of records, nesting thousands deep, compressed data
// that inflates to gigabytes, references that name themselves), damaged
// copies of good files, and files that once crashed, hung or misread. A file
// must be refused with its message, and refusing it must cost little: at most
// 100 times its size in heap (plus 1 MiB for tables that do not grow with the
// file), and nothing sized by what it announces for a file marked
// "announces". The heap is counted by heap_meter, whatever allocates it
// (lib3ds and zlib too). Files that load give their counts, and those marked
// "whole" (or "same" as a whole one) are refused when cut short of their end.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <sstream>
#include <string>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "heap_meter.h"
#include "importers/gltf/gltf_importer.h"
#include "importers/model_formats.h"
#include "importers/ms3d_importer.h"
#include "importers/three_ds_importer.h"
#include "importers/x/x_importer.h"
#include "support/import_check.h"
#include "support/source_tree.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

Model importBytes(const std::string& ending, const std::string& file, const std::string& name)
{
    if (ending == ".ms3d") {
        return importMs3dFromMemory(dataOf(file), file.size(), name);
    }
    if (ending == ".3ds") {
        return import3dsFromMemory(dataOf(file), file.size());
    }
    if (ending == ".gltf") {
        return importGltfFromMemory(dataOf(file), file.size(), name);
    }
    if (ending == ".worker") {
        return importModelFile(name);  // the import worker reads the file itself
    }
    return XImporter().loadFromMemory(dataOf(file), file.size(), name);
}

// The standard .X templates are parsed once per process, on first use: that
// table is no part of any one file's cost.
void warmUpX()
{
    const std::string file = "xof 0303txt 0032 Frame F { }";
    DebugCapture quiet;
    importBytes(".x", file, "warm.x");
}

// The failure's text (empty when it loaded) and the heap it took, above the
// start. Only the message counts: it is all a user is shown.
std::pair<std::string, std::size_t> measure(const std::string& what, const std::function<void()>& import)
{
    std::string message;
    DebugCapture quiet;
    HeapMeasure heap;
    try {
        import();
    } catch (const ImportError& e) {
        message = e.what();
    }
    const std::size_t peak = heap.peakAbove();
    std::printf("[ cost     ] %s: %zu bytes of heap\n", what.c_str(), peak);
    return {message, peak};
}

// Positions, triangles and the bone tree (names, bind matrices, weights) as
// text, numbers to five digits.
std::string described(const Model& m)
{
    std::ostringstream s;
    s.precision(5);
    for (const Vertex& v : m.vertices) {
        s << v.position.x + 0.0f << " " << v.position.y + 0.0f << " " << v.position.z + 0.0f << ", ";
    }
    for (const Triangle& t : m.triangles) {
        s << t.indices[0] << " " << t.indices[1] << " " << t.indices[2] << ", ";
    }
    std::function<void(const Bone&)> walk = [&](const Bone& b) {
        s << "\n" << b.name << ":";
        for (int i = 0; i < 16; ++i) {
            s << " " << b.localMatrix.m[i] + 0.0f << "/" << b.inverseLocalMatrix.m[i] + 0.0f;
        }
        for (const VertexWeight& w : b.weights) {
            s << " " << w.vertex << "*" << w.weight;
        }
        std::for_each(b.children.begin(), b.children.end(), walk);
        s << " end";
    };
    walk(m.rootBone);
    return s.str();
}

void expectManifestHolds(const std::string& folder, const std::string& ending,
                         const std::vector<std::string>& skip = {})
{
    warmUpX();
    const auto entries = readManifest(sourcePath(folder), skip);
    for (const auto& [name, entry] : entries) {
        const std::string path = sourcePath(folder + "/" + name);
        const std::string file = fileBytes(path);
        if (entry.kind == "refused" || entry.kind == "announces") {
            const auto [message, peak] = measure(name, [&] { importBytes(ending, file, path); });
            EXPECT_NE(message.find(entry.text), std::string::npos) << name << ": " << message;
            EXPECT_LE(peak, entry.kind == "announces" ? 64 * 1024 : 100 * file.size() + (1 << 20)) << name;
            continue;
        }
        if (entry.kind == "script") {
            continue;
        }
        DebugCapture quiet;
        Model m;
        ASSERT_NO_THROW(m = importModelFile(path)) << name;
        if (entry.kind == "same") {
            EXPECT_EQ(described(m), described(importModelFile(sourcePath(folder + "/" + entry.text)))) << name;
        } else {
            ASSERT_TRUE(entry.kind == "loads" || entry.kind == "whole") << name << ": " << entry.kind;
            EXPECT_EQ(m.vertices.size(), entry.vertices) << name;
            EXPECT_EQ(m.triangles.size(), entry.triangles) << name;
        }
        // Posed, as the import command shows it.
        updateAnimator(m, 1.0f);
        updatePose(m);
        if (m.hasSkin()) {
            EXPECT_EQ(m.skinnedVertices.size(), m.vertices.size()) << name;
        }
        const bool whole = entry.kind == "whole" || (entry.kind == "same" && entries.at(entry.text).kind == "whole");
        for (std::size_t n = 0; whole && n < file.size(); ++n) {
            // A copy of exactly the prefix, so that a read past its end is
            // caught by the address sanitizer.
            const std::string prefix = file.substr(0, n);
            EXPECT_THROW(importBytes(ending, prefix, path), ImportError) << name << " cut to " << n << " bytes";
        }
    }
}

}  // namespace

TEST(Ms3dRegressionFiles, DoWhatTheirManifestSays)
{
    expectManifestHolds("tests/data/ms3d", ".ms3d");
}

TEST(ThreeDsRegressionFiles, DoWhatTheirManifestSays)
{
    expectManifestHolds("tests/data/3ds", ".3ds");
}

TEST(GltfRegressionFiles, DoWhatTheirManifestSays)
{
    expectManifestHolds("tests/data/gltf", ".gltf", {"buffers"});  // the buffer files the documents name
}

TEST(AssimpRegressionFiles, DoWhatTheirManifestSays)
{
#ifndef FYREL_HAS_IMPORT_WORKER
    GTEST_SKIP() << "this build has no Assimp and no import worker";
#endif
#ifdef FYREL_NO_MEMORY_LIMIT
    GTEST_SKIP() << "a sanitizer build's import worker has no memory limit, which one of these files needs";
#endif
    expectManifestHolds("tests/data/assimp", ".worker");
}

TEST(XRegressionFiles, DoWhatTheirManifestSays)
{
    // textures/ holds the images the texture_* models name, animated/ the
    // files of the .X animation tests.
    expectManifestHolds("tests/data/x", ".x", {"textures", "animated"});
}

TEST(ThreeDsMs3dAndXFiles, PathsThatAreNoModelFilesAreRefusedUnread)
{
    // A pipe would block the import for ever, a device could be read without end.
    const auto folder = std::filesystem::temp_directory_path() / ("fyrel_hostile_paths_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    for (const std::string ending : {".3ds", ".ms3d", ".x"}) {
        const std::string pipe = (folder / ("pipe" + ending)).string();
        const std::string zero = (folder / ("zero" + ending)).string();
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        std::filesystem::create_symlink("/dev/zero", zero);
        for (const std::string& path : {pipe, zero}) {
            const std::string m = failureOf([&] {
                ending == ".3ds" ? import3ds(path) : ending == ".ms3d" ? importMs3d(path) : importX(path);
            });
            EXPECT_NE(m.find("not a regular file"), std::string::npos) << path << ": " << m;
        }
    }
    std::filesystem::remove_all(folder);
}
