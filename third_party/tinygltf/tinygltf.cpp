// tinygltf, built here with RapidJSON as its JSON parser and writer. Debian's
// shared library is built with nlohmann's json, whose parse alone took longer
// than Assimp's whole import of the same files; RapidJSON reads the same
// documents two to three times faster. One copy serves the loader and the
// exporter. Images are never decoded or encoded by it (the importer keeps
// their bytes, the exporter writes none).
//
// RapidJSON's parser recurses once per nesting level: gltf_document.cpp
// refuses documents nested deeper than kMaxGltfJsonDepth before they get here.

//
// RapidJSON's pool allocator takes a document's values from a few large
// blocks instead of one malloc each, which makes a load a tenth faster; in
// return tinygltf keeps the active document in a variable of its own, one
// at a time: tinygltfLock() makes loads and saves take turns.

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_USE_RAPIDJSON
#include "fyrel_tinygltf.h"

std::mutex& fyrel::tinygltfLock()
{
    static std::mutex lock;
    return lock;
}
