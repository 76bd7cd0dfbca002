#include <gtest/gtest.h>

#include "support/import_check.h"
#include "support/source_tree.h"
#include "workbench/scene_file.h"

namespace fyrel::test {
namespace {

std::string summary(const SceneFile& scene)
{
    std::size_t clips = 0;
    for (const SceneModel& model : scene.models) {
        clips += model.generatedClips.size();
    }
    std::string text = "models " + std::to_string(scene.models.size()) + " paths " + std::to_string(scene.paths.size()) +
                       " bindings " + std::to_string(scene.bindings.size()) + " controllers " +
                       std::to_string(scene.controllers.size()) + " views " + std::to_string(scene.views.size()) +
                       " clips " + std::to_string(clips) + " unknown";
    for (const std::string& field : scene.unknownFields) {
        text += " " + field;
    }
    return text;
}

// Every file of tests/data/scene gets the verdict its manifest line gives:
// refused with a message naming the file and the reason, or read whole.
TEST(SceneFile, HostileAndDamagedFilesGetTheirManifestVerdict)
{
    const std::filesystem::path folder = sourcePath("tests/data/scene");
    for (const auto& [name, entry] : readManifest(folder)) {
        SCOPED_TRACE(name);
        const std::string path = (folder / name).string();
        const std::string bytes = fileBytes(path);
        if (entry.kind == "refused") {
            try {
                parseScene(bytes.data(), bytes.size(), path);
                ADD_FAILURE() << "read";
            } catch (const SceneError& error) {
                EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
                EXPECT_NE(std::string(error.what()).find(entry.text), std::string::npos) << error.what();
            }
        } else {
            ASSERT_EQ(entry.kind, "opens");
            EXPECT_EQ(summary(parseScene(bytes.data(), bytes.size(), path)), entry.text);
            // Cut anywhere, the file is refused (a truncated save), never half read.
            for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
                EXPECT_THROW(parseScene(bytes.data(), cut, path), SceneError) << "cut at " << cut;
            }
        }
    }
}

}  // namespace
}  // namespace fyrel::test
