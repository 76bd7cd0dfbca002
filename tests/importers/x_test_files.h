#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scene/model.h"

// Writers of .X files in the text syntax for the importer tests. (Files in the
// binary and compressed encodings are regression files in tests/data/x.)

namespace fyrel::test {

// "xof 0303txt 0032" and a newline before the body.
std::string xText(std::string_view body);

// A Mesh object: vertices as (x, y, z) triples, faces as index lists.
std::string xMesh(std::string_view name, const std::vector<float>& xyz,
                  const std::vector<std::vector<std::uint32_t>>& faces, std::string_view inner = "");

// A mesh of n vertices along the x axis with the given faces.
std::string xLineMesh(std::string_view name, std::uint32_t n, const std::vector<std::vector<std::uint32_t>>& faces,
                      std::string_view inner = "");

// A SkinWeights object with an identity offset plus a translation.
std::string xSkinWeights(std::string_view bone, const std::vector<std::uint32_t>& vertices,
                         const std::vector<float>& weights, float tx = 0, float ty = 0, float tz = 0);

// A FrameTransformMatrix: the identity with a translation (row-vector form).
std::string xTranslation(float x, float y, float z);

// A text file of one frame holding a triangle whose material names the texture.
std::string xTexturedTriangle(const std::string& texture);

// The piece, times times.
std::string repeated(const std::string& piece, std::size_t times);

// Imports from memory with a fresh XImporter.
Model importXBytes(const std::string& file, const std::string& fileName = "test.x");

// Checks the rest pose of a skinned model (a copy advanced by one second and
// posed): every skinned vertex where the file put it, within 1e-4 of the
// model's size, and every joint inside the mesh's box grown by a tenth of its
// extent on each side.
void expectRestsOnItsMesh(const Model& imported);

}  // namespace fyrel::test
