#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <tiny_gltf.h>

// Checked reading of glTF accessors. tinygltf parses the JSON and fetches the
// buffers but does not check that an accessor's elements lie inside its
// buffer view and buffer, nor sparse indices, nor the indices into the
// document's arrays; everything here does, before the first byte is read:
//   - the accessor, its buffer view and the view's buffer exist;
//   - the type has the component count the caller expects, the component
//     type is one of glTF's six (and one the caller allows);
//   - offset + stride · (count − 1) + element size fits in the view, the view
//     in its buffer (64-bit arithmetic that cannot wrap);
//   - a stride, when given, is at least the element size;
//   - sparse substitution: count within the accessor, its index and value
//     views checked the same way, every index below the accessor's count;
//   - at most kMaxGltfValues components in all; an accessor without a buffer
//     view (zeros, then its sparse values, as the format defines) at most
//     kMaxGltfZeroElements elements or 64 per sparse value, whichever is
//     more, so that a few bytes of JSON cannot claim gigabytes.
// Nothing is allocated before all of that holds. Anything else throws ImportError through gltfMessage,
// naming the accessor and what it was read for ("accessor 4 (POSITION of
// mesh 0): elements end beyond buffer view 2").

namespace fyrel {

inline constexpr std::size_t kMaxGltfValues = std::size_t{1} << 26;
inline constexpr std::size_t kMaxGltfZeroElements = 65536;

struct GltfAccessorRequest {
    const char* what;       // for messages: "POSITION"
    int components;         // per element: 1 SCALAR, 2 VEC2, 3 VEC3, 4 VEC4 or 16 MAT4
    bool integerOnly = false;  // indices and joints: unsigned integer components only
    const std::string* of = nullptr;  // for messages, when given: "mesh 0" makes "POSITION of mesh 0"
};

// The accessor's elements as floats, components per element in order.
// Normalized integers map onto [0, 1] or [−1, 1] as the format says; other
// integers convert as they are.
std::vector<float> readGltfFloats(const tinygltf::Model& model, int accessor, const GltfAccessorRequest& request,
                                  const std::string& fileName);

// The accessor's elements as unsigned integers (unsigned byte, short or int
// components only).
std::vector<std::uint32_t> readGltfIndices(const tinygltf::Model& model, int accessor,
                                           const GltfAccessorRequest& request, const std::string& fileName);

// An accessor's float elements where they lie, to be read without a copy:
// component c of element i at first + i · stride + 4c. An accessor that is
// not plain floats in a buffer view (sparse, zeros, integers) is converted
// into `owned` first and viewed there. Checked as readGltfFloats checks.
struct GltfFloatView {
    const std::uint8_t* first = nullptr;
    std::size_t stride = 0;
    std::size_t count = 0;  // elements
    std::vector<float> owned;

    float operator()(std::size_t i, int c) const
    {
        float v;
        std::memcpy(&v, first + i * stride + static_cast<std::size_t>(c) * sizeof(float), sizeof v);
        return v;
    }
};

GltfFloatView viewGltfFloats(const tinygltf::Model& model, int accessor, const GltfAccessorRequest& request,
                             const std::string& fileName);

// An accessor of unsigned integer scalars where they lie: element i at
// first + i · stride, `size` bytes (1, 2 or 4) each; sparse or zero
// accessors converted into `owned` (size 4) and viewed there.
struct GltfIndexView {
    const std::uint8_t* first = nullptr;
    std::size_t stride = 0;
    std::size_t count = 0;
    int size = 4;
    std::vector<std::uint32_t> owned;
};

GltfIndexView viewGltfIndices(const tinygltf::Model& model, int accessor, const GltfAccessorRequest& request,
                              const std::string& fileName);

}  // namespace fyrel
