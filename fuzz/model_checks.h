#pragma once

// What every importer's fuzz target demands of the outcome of one input: a
// model that keeps the invariants the rest of the program relies on, or a
// refusal that cost little memory. A broken demand traps, which libFuzzer
// reports as a crash with the input that caused it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "diagnostics/debug_output.h"
#include "heap_meter.h"
#include "images/texture_image.h"
#include "importers/import_error.h"
#include "scene/model.h"

namespace fyrel::fuzz {

inline void require(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Every weight names a vertex; the tree is no deeper than allowed.
inline void checkBones(const Bone& bone, std::size_t vertexCount, int depth)
{
    require(depth <= kMaxBoneDepth);
    for (const VertexWeight& w : bone.weights) {
        require(w.vertex >= 0 && static_cast<std::size_t>(w.vertex) < vertexCount);
    }
    for (const Bone& child : bone.children) {
        checkBones(child, vertexCount, depth + 1);
    }
}

// Triangles name vertices, weights name vertices, and every track of keys
// drives one bone, in time order, within its clip.
inline void checkModel(const Model& m)
{
    for (const Triangle& t : m.triangles) {
        for (std::uint32_t index : t.indices) {
            require(index < m.vertices.size());
        }
    }
    checkBones(m.rootBone, m.vertices.size(), 1);
    require(m.texCoords.empty() || m.texCoords.size() == m.vertices.size());
    for (const Animation& a : m.animator.animations) {
        for (const std::vector<KeyFrame>& track : a.tracks) {
            require(!track.empty());
            for (std::size_t k = 0; k < track.size(); ++k) {
                require(track[k].boneIndex == track[0].boneIndex);
                require(k == 0 || !(track[k].time < track[k - 1].time));
                require(track[k].time <= a.length);
            }
        }
    }
}

// Copies the model and plays it a few steps the way the program does after
// an import, so that what the importer built is exercised downstream.
inline void playCopy(const Model& imported)
{
    Model m(imported);
    for (float dt : {1.0f, 0.37f, 5.0f}) {
        updateAnimator(m, dt);
        updatePose(m);
    }
}

// A decoded image holds exactly its pixels or blocks, and expands to RGBA.
inline void checkImage(const Image& image)
{
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::size_t h = static_cast<std::size_t>(image.height);
    const std::size_t blocks = ((w + 3) / 4) * ((h + 3) / 4);
    const std::size_t expected = image.format == ImageFormat::Rgba8  ? 4 * w * h
                                 : image.format == ImageFormat::Dxt1 ? 8 * blocks
                                                                     : 16 * blocks;
    require(image.width > 0 && image.height > 0 && image.data.size() == expected);
    require(toRgba(image).data.size() == 4 * w * h);
}

// The images a model file carries, decoded as the views would.
inline void decodeTextures(const Model& m)
{
    for (const Material& material : m.materials) {
        if (material.embeddedTexture) {
            Image image;
            std::string reason;
            if (decodeImage(material.embeddedTexture->data(), material.embeddedTexture->size(), image, reason)) {
                checkImage(image);
            }
        }
    }
}

// Refusing a file takes at most 100 times its size (plus 1 MiB of tables
// that do not grow with it).
inline void checkRefusalCost(const test::HeapMeasure& heap, std::size_t size)
{
    require(heap.peakAbove() <= 100 * size + (std::size_t{1} << 20));
}

// One input: import(data, size) either returns a model, which must keep the
// invariants and survive being played, or throws ImportError, which must
// have cost little memory. Anything else escapes to libFuzzer. The
// importers' debug output is silenced.
template <typename Import>
int fuzzImport(const std::uint8_t* data, std::size_t size, Import import)
{
    static const bool quiet = [] {
        setDebugSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    const test::HeapMeasure heap;
    try {
        const Model imported = import(data, size);
        checkModel(imported);
        playCopy(imported);
        decodeTextures(imported);
    } catch (const ImportError&) {
        checkRefusalCost(heap, size);
    }
    return 0;
}

}  // namespace fyrel::fuzz
