// libFuzzer target: any bytes read as a scene file are either refused with a
// SceneError or become a document; anything else (a crash, a sanitizer
// report, a hang, a leak, an exception of another kind) is a finding. A scene
// that reads is built into a document (models from a stand-in loader: a
// three-bone arm, except names ending in ".x", which fail as a missing file
// does), its steps undone and redone, written out, and the written text
// must read back with the same counts: a finding when it does not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "workbench/edits.h"
#include "workbench/scene_file.h"

namespace {

fyrel::Model arm()
{
    fyrel::Model model;
    model.rootBone.name = "shoulder";
    fyrel::Bone& elbow = model.rootBone.children.emplace_back();
    elbow.name = "elbow";
    elbow.children.emplace_back().name = "hand";
    model.animator.animations.emplace_back().name = "file clip";
    return model;
}

fyrel::Model load(const std::string& path)
{
    if (path.size() >= 2 && path.compare(path.size() - 2, 2, ".x") == 0) {
        throw std::runtime_error("missing");
    }
    return arm();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fyrel::SceneFile scene;
    try {
        scene = fyrel::parseScene(reinterpret_cast<const char*>(data), size, "fuzz.fyrel");
    } catch (const fyrel::SceneError&) {
        return 0;
    }
    fyrel::Document document;
    std::vector<std::string> failures;
    fyrel::buildDocument(scene, load, document, failures);
    fyrel::addPathPoint(document, {1.0f, 2.0f, 0.0f}, false);
    fyrel::moveLastTarget(document, {0.5f, 0.0f, 0.0f});
    fyrel::removeAllModels(document);
    while (fyrel::undo(document)) {
    }
    while (fyrel::redo(document)) {
    }
    fyrel::undo(document);
    fyrel::undo(document);
    const std::string text = fyrel::writeScene(document, "fuzz.fyrel");
    const fyrel::SceneFile again = fyrel::parseScene(text.data(), text.size(), "fuzz.fyrel");
    if (again.models.size() != document.models.size() || again.paths.size() != document.paths.size() ||
        again.bindings.size() != document.bindings.size() ||
        again.controllers.size() != document.ikControllers.size() || !again.unknownFields.empty()) {
        std::abort();
    }
    return 0;
}
