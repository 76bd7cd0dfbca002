#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scene/model.h"

// Writers of .X files for the importer tests: content is written once in the
// text syntax, and the same content can be re-encoded as a binary token
// stream and MSZIP-compressed, so one case runs through all three encodings.

namespace fyrel::test {

// "xof 0303txt 0032" and a newline before the body.
std::string xText(std::string_view body, std::string_view version = "0303");

// The body's tokens as a binary file ("bin ", floats of floatBits bits).
// Numbers with a '.' or an exponent go into float lists, others into integer
// lists; runs of one kind share a list. Separators between values are left
// out; a string's terminator is written as a 16-bit token, or as a 32-bit one
// with longStringTerminators.
std::string xBinary(std::string_view body, int floatBits = 32, bool longStringTerminators = false,
                    std::string_view version = "0303");

// A text or binary file (as returned above) recompressed as "tzip" or "bzip",
// blockSize bytes of uncompressed data per MSZIP block, every block deflated
// with the previous 32 KiB as its dictionary.
std::string xCompressed(const std::string& file, std::size_t blockSize = 32768);

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

std::vector<std::uint8_t> bytesOf(const std::string& s);

// Checks the rest pose of a skinned model (a copy advanced by one second and
// posed): every skinned vertex where the file put it, within 1e-4 of the
// model's size, and every joint inside the mesh's box grown by a tenth of its
// extent on each side.
void expectRestsOnItsMesh(const Model& imported);

// Imports from memory with a fresh XImporter.
Model importXBytes(const std::string& file, const std::string& fileName = "test.x");

// Collects debug output while alive.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Where assimp-testmodels keeps its .X files.
inline constexpr const char* kAssimpXFolder = "/usr/share/assimp/models/X";

}  // namespace fyrel::test
