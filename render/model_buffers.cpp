#include "render/model_buffers.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "animation/skinning.h"
#include "scene/model.h"

namespace fyrel {

ModelBuffers::~ModelBuffers()
{
    if (functions) {
        functions->deleteBuffers(3, names);
        if (texCoordBuffer != 0) {
            functions->deleteBuffers(1, &texCoordBuffer);
        }
    }
}

namespace {

// The triangles' indices ordered by material, opaque materials first, each
// material's triangles in file order; ranges gets one entry per material.
std::vector<std::uint32_t> sortedIndices(const Model& model, std::vector<MaterialRange>& ranges)
{
    const std::vector<Triangle>& triangles = model.triangles;
    const auto key = [&](const Triangle& t) {
        const std::uint32_t material = t.material < model.materials.size() ? t.material : UINT32_MAX;
        return std::pair{model.materialOf(t).transparent(), material};
    };
    std::vector<std::uint32_t> order(triangles.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<std::uint32_t>(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return key(triangles[a]) < key(triangles[b]); });
    std::vector<std::uint32_t> indices;
    indices.reserve(3 * triangles.size());
    ranges.clear();
    for (const std::uint32_t i : order) {
        const auto [transparent, material] = key(triangles[i]);
        if (ranges.empty() || ranges.back().material != material) {
            ranges.push_back(MaterialRange{static_cast<GlSizei>(indices.size()), 0, material, transparent, nullptr});
        }
        ranges.back().count += 3;
        indices.insert(indices.end(), std::begin(triangles[i].indices), std::end(triangles[i].indices));
    }
    return indices;
}

}  // namespace

void createBuffers(Model& model, const GlFunctions* table)
{
    if (!table || !hasBufferFunctions(*table)) {
        return;
    }
    model.buffers.reset();
    ModelBuffers& buffers = model.buffers.get<ModelBuffers>();
    const std::vector<Vertex>& vertices = model.vertices;
    const std::vector<Triangle>& triangles = model.triangles;
    std::vector<float>& skinnedPositions = buffers.positions;
    std::vector<float>& skinnedNormals = buffers.normals;
    GlUint* bufferNames = buffers.names;
    buffers.functions = table;
    table->genBuffers(3, bufferNames);

    const std::size_t count = vertices.size();
    skinnedPositions.assign(3 * count, 0.0f);
    skinnedNormals.assign(3 * count, 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
        const Vertex& v = vertices[i];
        skinnedPositions[3 * i + 0] = v.position.x;
        skinnedPositions[3 * i + 1] = v.position.y;
        skinnedPositions[3 * i + 2] = v.position.z;
        skinnedNormals[3 * i + 0] = v.normal.x;
        skinnedNormals[3 * i + 1] = v.normal.y;
        skinnedNormals[3 * i + 2] = v.normal.z;
    }
    const std::vector<std::uint32_t> indices = sortedIndices(model, buffers.ranges);

    const auto bytes = static_cast<GlSizeiptr>(count * 12);
    table->bindBuffer(kGlArrayBuffer, bufferNames[0]);
    table->bufferData(kGlArrayBuffer, bytes, skinnedPositions.data(), kGlStreamDraw);
    table->bindBuffer(kGlArrayBuffer, bufferNames[1]);
    table->bufferData(kGlArrayBuffer, bytes, skinnedNormals.data(), kGlStreamDraw);
    table->bindBuffer(kGlElementArrayBuffer, bufferNames[2]);
    table->bufferData(kGlElementArrayBuffer, static_cast<GlSizeiptr>(triangles.size() * 12), indices.data(),
                      kGlStaticDraw);
    if (!model.texCoords.empty() && model.texCoords.size() == count) {
        static_assert(sizeof(TexCoord) == 8);
        table->genBuffers(1, &buffers.texCoordBuffer);
        table->bindBuffer(kGlArrayBuffer, buffers.texCoordBuffer);
        table->bufferData(kGlArrayBuffer, static_cast<GlSizeiptr>(count * 8), model.texCoords.data(), kGlStaticDraw);
    }
}

void attachTextures(Model& model)
{
    ModelBuffers* buffers = model.buffers.find<ModelBuffers>();
    if (!buffers || !buffers->functions || buffers->texturesAttached) {
        return;
    }
    buffers->texturesAttached = true;
    for (MaterialRange& range : buffers->ranges) {
        const Material& material =
            range.material < model.materials.size() ? model.materials[range.material] : model.material;
        range.texture = acquireTexture(*buffers->functions, material);
    }
}

void uploadSkinned(Model& model)
{
    ModelBuffers* buffers = model.buffers.find<ModelBuffers>();
    if (model.rootBone.children.empty() || !buffers || !buffers->functions) {
        return;
    }
    const std::vector<Vertex>& skinnedVertices = model.skinnedVertices;
    std::vector<float>& skinnedPositions = buffers->positions;
    std::vector<float>& skinnedNormals = buffers->normals;
    const GlFunctions* bufferFunctions = buffers->functions;
    const GlUint* bufferNames = buffers->names;
    // The staging arrays follow the vertex count; they are sized again only
    // when it changes.
    if (skinnedPositions.size() != 3 * skinnedVertices.size()) {
        skinnedPositions.assign(3 * skinnedVertices.size(), 0.0f);
        skinnedNormals.assign(3 * skinnedVertices.size(), 0.0f);
    }
    const std::size_t count =
        std::min({skinnedVertices.size(), skinnedPositions.size() / 3, skinnedNormals.size() / 3});
    stageVertices(skinnedVertices.data(), count, skinnedPositions.data(), skinnedNormals.data());
    const auto bytes = static_cast<GlSizeiptr>(count * 12);
    bufferFunctions->bindBuffer(kGlArrayBuffer, bufferNames[0]);
    bufferFunctions->bufferData(kGlArrayBuffer, bytes, skinnedPositions.data(), kGlStreamDraw);
    bufferFunctions->bindBuffer(kGlArrayBuffer, bufferNames[1]);
    bufferFunctions->bufferData(kGlArrayBuffer, bytes, skinnedNormals.data(), kGlStreamDraw);
}

void createMissingBuffers(SceneList<Model>& models, const GlFunctions* table)
{
    for (Model& model : models) {
        if (!bufferFunctions(model)) {
            createBuffers(model, table);
            attachTextures(model);
        }
    }
}

const ModelBuffers* modelBuffers(const Model& model)
{
    const ModelBuffers* buffers = model.buffers.find<ModelBuffers>();
    return buffers && buffers->functions ? buffers : nullptr;
}

const GlFunctions* bufferFunctions(const Model& model)
{
    const ModelBuffers* buffers = modelBuffers(model);
    return buffers ? buffers->functions : nullptr;
}

void forgetBuffers(Model& model)
{
    if (ModelBuffers* buffers = model.buffers.find<ModelBuffers>()) {
        buffers->functions = nullptr;
        for (MaterialRange& range : buffers->ranges) {
            if (range.texture) {
                forgetTexture(*range.texture);
            }
        }
    }
    model.buffers.reset();
}

}  // namespace fyrel
