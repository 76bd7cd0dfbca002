#pragma once

// What the importer tests share: the debug output caught while a check runs,
// a file's bytes, the message an import fails with, and the manifests that
// say what each regression file of tests/data must give.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/debug_output.h"
#include "importers/import_error.h"

#include "math/vector.h"

namespace fyrel {

// Exact comparison, for the values a file states or a table expects.
inline bool operator==(const Vector3& a, const Vector3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

}  // namespace fyrel

namespace fyrel::test {

// Collects the debug messages sent while it lives.
class DebugCapture {
public:
    DebugCapture()
    {
        previous_ = setDebugSink([this](const std::string& m) { text_ += m; });
    }
    ~DebugCapture() { setDebugSink(previous_); }
    const std::string& text() const { return text_; }

private:
    DebugSink previous_;
    std::string text_;
};

inline std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline const std::uint8_t* dataOf(const std::string& bytes)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// The ImportError's text followed by the debug output sent meanwhile (the .X
// importer gives its reason there); a test failure when the import succeeds.
inline std::string failureOf(const std::function<void()>& import)
{
    DebugCapture debug;
    try {
        import();
    } catch (const ImportError& e) {
        return e.what() + ("\n" + debug.text());
    }
    ADD_FAILURE() << "the import succeeded";
    return {};
}

// One line of a folder's MANIFEST: "FILE refused TEXT" (the import fails and
// its message contains TEXT), "FILE loads VERTICES TRIANGLES", or "FILE
// script" (what wrote the files). Lines starting with '#' are comments.
struct ManifestEntry {
    std::string kind;
    std::string text;
    std::size_t vertices = 0, triangles = 0;
};

// The manifest of a folder of tests/data; a test failure for every file of
// the folder it does not list and every entry naming no file. Subfolders
// named in skip belong to other suites.
inline std::map<std::string, ManifestEntry> readManifest(const std::filesystem::path& folder,
                                                         const std::vector<std::string>& skip = {})
{
    std::map<std::string, ManifestEntry> entries;
    std::istringstream lines(fileBytes((folder / "MANIFEST").string()));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        ManifestEntry e;
        if (!(words >> name >> e.kind) || name[0] == '#') {
            continue;
        }
        if (e.kind == "loads" || e.kind == "whole") {
            words >> e.vertices >> e.triangles;
        }
        std::getline(words >> std::ws, e.text);
        entries[name] = e;
    }
    EXPECT_FALSE(entries.empty()) << folder << "/MANIFEST";
    std::size_t listed = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        const std::string name = file.path().filename().string();
        if (name == "MANIFEST" || std::find(skip.begin(), skip.end(), name) != skip.end()) {
            continue;
        }
        EXPECT_TRUE(entries.count(name)) << name << " is not in " << folder << "/MANIFEST";
        listed += entries.count(name);
    }
    EXPECT_EQ(listed, entries.size()) << folder << "/MANIFEST names files that are not there";
    return entries;
}

}  // namespace fyrel::test
