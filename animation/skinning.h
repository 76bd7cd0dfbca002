#pragma once

// Linear blend skinning by gather: the per-vertex form of a model's weights
// (SkinCache), the palette of skinning matrices, the kernels that write the
// skinned vertices, and the copy of those into the two staging arrays.
//
// Every vertex starts from zero and receives its influences in the stored
// order: position += w·(S·p), normal −= w·(S·n), each row formed as
// ((S(r,0)·x + S(r,1)·y) + S(r,2)·z) + S(r,3). The kernels compute the same
// operations in the same order, wider or not, so their results are identical
// bit for bit to the bone-by-bone scatter.

#include <cstddef>

#include "animation/animation_cache.h"
#include "math/matrix.h"

namespace fyrel {

struct Bone;
struct Vertex;

// Floats per bone in the palette: four columns of S, each as rows 0-2 and a
// zero, then the same negated for the normals; the translation column's
// second half is zero.
inline constexpr std::size_t kPaletteFloats = 32;

void writePaletteSlot(const Matrix4& s, float* slot);

// Rebuilds the per-vertex form from the bone tree (pre-order) for a model
// of vertexCount vertices, and sizes the palette for its bones. Weights that
// name a vertex out of range are left out.
void buildSkin(SkinCache& cache, const Bone& root, std::size_t vertexCount);

// Skins every vertex of in into out; both hold vertexCount vertices.
void skinVertices(const SkinCache& cache, const Vertex* in, std::size_t vertexCount, Vertex* out);

// Copies positions and normals of count vertices into the two staging arrays
// of 3 floats a vertex.
void stageVertices(const Vertex* in, std::size_t count, float* positions, float* normals);

// The kernels are written for each vector backend (math/cpu_features.h): the
// four-wide one against math/simd.h for the portable backend, SSE2 and NEON,
// and an AVX2 one on x86-64. The active backend (useVectorBackend) chooses.

}  // namespace fyrel
