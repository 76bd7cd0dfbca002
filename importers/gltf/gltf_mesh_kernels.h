#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "importers/gltf/gltf_accessors.h"
#include "math/matrix.h"
#include "scene/mesh.h"

// The per-vertex and per-triangle loops of the glTF mesh conversion that run
// four at a time (SSE2 on x86-64; on other processors they take no four and
// the one-at-a-time steps do everything). Each does whole fours from
// its counter on and leaves the counter at the first element left; the
// caller finishes the rest one at a time with the scalar step named below,
// and the kernels give the same bits as that step. This interface is the
// seam for a portable vector layer: nothing here names an instruction set.
//
// Views and counts are the caller's, already checked (gltf_accessors.h): a
// view holds at least count elements; out holds room for them.

namespace fyrel {

// Point i of a view of three floats.
inline Vector3 gltfPoint(const GltfFloatView& xyz, std::size_t i)
{
    static_assert(sizeof(Vector3) == 3 * sizeof(float));
    Vector3 p;
    std::memcpy(&p, xyz.first + i * xyz.stride, sizeof p);
    return p;
}

// Whole fours of a triangle list's triangles, out[t …] from corners 3t on,
// each corner first + the index, material set; t ends at the first triangle
// left (of triangles). Answers 1 when a corner read is not below count, 0
// otherwise. Only for indices that lie packed (stride = sizeof(T)) as 16 or
// 32 bits; for others (and count 0) it does nothing and answers 0.
// T is std::uint8_t, std::uint16_t or std::uint32_t.
template <typename T>
std::uint32_t listGltfTriangleFours(const GltfIndexView& indices, std::size_t first, std::size_t count,
                                    std::uint32_t material, Triangle* out, std::size_t triangles, std::size_t& t);

// The positions of whole fours of vertices placed by m, as gltfPlace(m, p, 1)
// places each; i ends at the first vertex left. False when a coordinate read
// is infinite or not a number (the vertices are written all the same).
bool placeGltfFours(const Matrix4& m, const GltfFloatView& positions, std::size_t count, Vertex* out,
                    std::size_t& i);

// The normals of whole fours of vertices turned by m and made unit, as the
// mesh conversion's one-at-a-time turn does; given[n] is 0 where a turned
// normal is zero or not finite (its normal then written as 0), 1 elsewhere.
// n ends at the first vertex left.
void turnGltfFours(const Matrix4& m, const GltfFloatView& normals, std::size_t count, Vertex* out,
                   std::uint8_t* given, std::size_t& n);

}  // namespace fyrel
