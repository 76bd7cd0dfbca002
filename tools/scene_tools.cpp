#include "tools/scene_tools.h"

#include <cctype>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <new>

#include "animation/bounds.h"
#include "exporters/gltf_exporter.h"
#include "importers/model_formats.h"
#include "workbench/scene_file.h"

namespace fyrel {

namespace {

// Only regular files: a scene may not make a tool wait on a pipe or read a
// device through a link.
Model loadForScene(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw std::runtime_error("\"" + path + "\" is missing or is not a regular file.");
    }
    Model model = importModelFile(path);
    standOnGround(model);
    return model;
}

// The scene read and its models loaded; the reason for each model that did
// not load, by the scene's index (empty: loaded).
struct LoadedScene {
    SceneFile scene;
    Document document;
    std::vector<std::string> reasons;
};

bool loadScene(const std::string& path, LoadedScene& loaded, std::ostream& err)
{
    try {
        loaded.scene = readSceneFile(path);
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return false;
    }
    // Each model is read once: the document's loader records the outcome.
    std::size_t next = 0;
    loaded.reasons.assign(loaded.scene.models.size(), "");
    std::vector<std::string> failures;
    buildDocument(loaded.scene,
                  [&](const std::string& file) {
                      const std::size_t index = next++;
                      try {
                          return loadForScene(file);
                      } catch (const std::bad_alloc&) {
                          loaded.reasons[index] = "there is not enough memory to load it";
                          throw;
                      } catch (const std::exception& e) {
                          loaded.reasons[index] = e.what();
                          throw;
                      }
                  },
                  loaded.document, failures);
    return true;
}

std::string printable(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\\' || c == '"') {
            const char* hex = "0123456789ABCDEF";
            out += std::string("\\x") + hex[u >> 4] + hex[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

bool isSceneName(const std::string& path)
{
    if (path.size() < 6) {
        return false;
    }
    std::string ending = path.substr(path.size() - 6);
    for (char& c : ending) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ending == kSceneEnding;
}

int printScene(std::ostream& out, std::ostream& err, const std::string& scene)
{
    LoadedScene loaded;
    if (!loadScene(scene, loaded, err)) {
        return 1;
    }
    const SceneFile& s = loaded.scene;
    int status = 0;
    out << "scene: " << printable(scene) << "\nversion: " << s.version << "\nmodels: " << s.models.size() << '\n';
    std::size_t generated = 0;
    for (std::size_t i = 0; i < s.models.size(); ++i) {
        out << "model " << i << ": file " << printable(s.models[i].file) << ", ";
        if (loaded.reasons[i].empty()) {
            out << "loads, generated clips " << s.models[i].generatedClips.size() << '\n';
            generated += s.models[i].generatedClips.size();
        } else {
            out << "does not load: " << printable(loaded.reasons[i]) << '\n';
            status = 1;
        }
    }
    out << "paths: " << s.paths.size() << '\n';
    for (std::size_t i = 0; i < s.paths.size(); ++i) {
        out << "path " << i << ": points " << s.paths[i].size() << '\n';
    }
    out << "bindings: " << s.bindings.size() << '\n';
    for (std::size_t i = 0; i < s.bindings.size(); ++i) {
        const SceneBinding& b = s.bindings[i];
        out << "binding " << i << ": model " << b.model << " walks path " << b.path;
        if (b.controller >= 0) {
            out << ", then reaches with controller " << b.controller;
        }
        out << '\n';
    }
    out << "ik controllers: " << s.controllers.size() << '\n';
    for (std::size_t i = 0; i < s.controllers.size(); ++i) {
        const SceneController& c = s.controllers[i];
        out << "controller " << i << ": model " << c.model << ", end effector " << printable(c.endEffector)
            << ", target " << c.target.x << ' ' << c.target.y << ' ' << c.target.z
            << (c.targetPlaced ? " (placed)" : " (not placed)") << '\n';
    }
    out << "generated clips: " << generated << '\n';
    for (const std::string& field : s.unknownFields) {
        out << "unknown field: " << printable(field) << '\n';
    }
    return status;
}

int convertScene(std::ostream& out, std::ostream& err, const std::string& scene, const std::string& output)
{
    LoadedScene loaded;
    if (!loadScene(scene, loaded, err)) {
        return 1;
    }
    int status = 0;
    for (std::size_t i = 0; i < loaded.reasons.size(); ++i) {
        if (!loaded.reasons[i].empty()) {
            err << loaded.reasons[i] << '\n';
            status = 1;
        }
    }
    const Document& document = loaded.document;
    if (document.models.empty()) {
        err << "\"" << scene << "\" has no model to export\n";
        return 1;
    }
    for (std::size_t i = 0; i < document.models.size(); ++i) {
        const std::string name = document.models.size() == 1
                                     ? output
                                     : output.substr(0, output.size() - 4) + "-" + std::to_string(i + 1) +
                                           output.substr(output.size() - 4);
        try {
            exportGlbFile(document.models[i], name);
            out << name << '\n';
        } catch (const std::exception& e) {
            err << e.what() << '\n';
            status = 1;
        }
    }
    return status;
}

}  // namespace fyrel
