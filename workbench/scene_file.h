#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "math/quaternion.h"
#include "math/vector.h"
#include "scene/animation_clip.h"
#include "workbench/document.h"

// Scene files (.fyrel): the document as versioned JSON (docs/scene-files.md
// describes every field). Model files are named relative to the scene file
// when they lie beside or below it, absolute otherwise; clips generated in the
// program are stored whole, because they exist nowhere else.
//
// Reading is two steps: parseScene checks the whole text and turns it into a
// SceneFile, refusing anything hostile before a model is touched; then
// buildDocument loads the models through the caller's loader (the same import
// dispatch the program's Open uses) and wires up the rest. A model that cannot
// be loaded is listed and left out with what refers to it.

namespace fyrel {

inline constexpr int kSceneVersion = 1;
inline constexpr const char* kSceneEnding = ".fyrel";

// Limits of what a scene file may hold: beyond any workbench session, far
// below what would exhaust memory or time while reading.
inline constexpr std::size_t kMaxSceneBytes = std::size_t{64} << 20;
inline constexpr int kMaxSceneDepth = 16;       // nesting of arrays and objects
inline constexpr std::size_t kMaxSceneItems = 4096;        // models, paths, bindings, controllers, views, clips
inline constexpr std::size_t kMaxScenePoints = 65536;      // points of all paths together
inline constexpr std::size_t kMaxSceneKeys = 1u << 20;     // keys of all stored clips together
inline constexpr std::size_t kMaxSceneString = 4096;       // bytes of a name or file name
// Paths of up to this many points are rebuilt point by point, as they were
// drawn, so that their tables (split at random points, continued from build
// to build) come out as they were; longer ones are built once.
inline constexpr std::size_t kMaxReplayedPoints = 512;

// A scene file that cannot be read or written: the text names the file and
// the reason ("models[1].position: expected 3 numbers").
class SceneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SceneModel {
    std::string file;    // as stored
    std::string path;    // where it is read from: beside the scene for a relative name
    Vector3 position;
    Quaternion orientation;
    int clip = 0;
    float time = 0.0f;
    float rate = 0.1f;
    std::vector<Animation> generatedClips;  // key bone names are filled by buildDocument
};

struct SceneBinding {
    std::size_t model = 0;
    std::size_t path = 0;
    long controller = -1;  // none
    float parameter = 0.0f;
    bool finished = false;
};

struct SceneController {
    std::size_t model = 0;
    std::string endEffector;
    Vector3 target;
    bool targetPlaced = false;
};

// What a scene file says, checked: every index names an element of its list.
struct SceneFile {
    int version = kSceneVersion;
    std::vector<SceneModel> models;
    std::vector<std::vector<Vector3>> paths;
    std::vector<SceneBinding> bindings;
    std::vector<SceneController> controllers;
    std::vector<ViewRecord> views;
    float transportSpeed = 1.0f;
    // Fields this version does not know (a newer Fyrel wrote them), by their
    // place in the file: kept out of the document, and reported.
    std::vector<std::string> unknownFields;
};

// Checks and reads the text (size bytes at data, no terminator needed) of the
// scene file named sceneFile (for messages, and to resolve model names).
// Throws SceneError: not JSON, nested deeper than kMaxSceneDepth, a field of
// the wrong type, a count over its limit, an index out of range, a number
// that is not finite, a model name that climbs out of the scene's folder
// ("..") or names a device (/dev, /proc, /sys), no version. A newer version
// is read as far as this one knows it; its other fields are listed in
// unknownFields.
SceneFile parseScene(const char* data, std::size_t size, const std::string& sceneFile);

// Reads at most kMaxSceneBytes of the file, then parseScene.
SceneFile readSceneFile(const std::string& sceneFile);

// The document as the JSON text of a scene file at sceneFile (model names
// relative to its folder where they lie beside or below it).
std::string writeScene(const Document& document, const std::string& sceneFile);

// Writes the document to sceneFile safely: a temporary file beside it,
// flushed to the disk, then renamed over the old one, so a crash or a full
// disk leaves the previous file whole. Throws SceneError naming the file.
void saveSceneFile(const Document& document, const std::string& sceneFile);

// Loads a model file as the program's Open does; throws a std::exception
// whose text names the file and the reason.
using ModelLoader = std::function<Model(const std::string& path)>;

// Makes document (emptied first, history too) what scene says: each model
// loaded by load and placed, its generated clips appended after the file's,
// paths, bindings and controllers wired up. A model that does not load, and
// every binding or controller of it, is left out; failures receives one line
// per model left out (the loader's message) and per clip that does not fit
// its model. The document names no file and counts as saved.
void buildDocument(const SceneFile& scene, const ModelLoader& load, Document& document,
                   std::vector<std::string>& failures);

}  // namespace fyrel
