#pragma once

#include <mutex>

#include <tiny_gltf.h>

namespace fyrel {

// Held through every tinygltf load and save: tinygltf keeps the JSON
// document being read or written in a variable of its own (it is built with
// RapidJSON's pool allocator, tinygltf.cpp), so two at once on two threads
// would use each other's.
std::mutex& tinygltfLock();

}  // namespace fyrel
