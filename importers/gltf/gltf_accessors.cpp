#include "importers/gltf/gltf_accessors.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

#include "importers/gltf/gltf_document.h"
#include "importers/import_error.h"

namespace fyrel {
namespace {

std::size_t componentSize(int componentType)
{
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    default: return 0;
    }
}

int componentCount(int type)
{
    switch (type) {
    case TINYGLTF_TYPE_SCALAR: return 1;
    case TINYGLTF_TYPE_VEC2: return 2;
    case TINYGLTF_TYPE_VEC3: return 3;
    case TINYGLTF_TYPE_VEC4: return 4;
    case TINYGLTF_TYPE_MAT2: return 4;
    case TINYGLTF_TYPE_MAT3: return 9;
    case TINYGLTF_TYPE_MAT4: return 16;
    default: return 0;
    }
}

bool isUnsignedInteger(int componentType)
{
    return componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

// One run of elements in a buffer: where it starts, the distance between
// elements, and how one element looks.
struct Run {
    const std::uint8_t* first = nullptr;  // null: zeros
    std::size_t stride = 0;
    std::size_t count = 0;
    int componentType = 0;
    int components = 0;
    bool normalized = false;
};

class AccessorReader {
public:
    AccessorReader(const tinygltf::Model& model, int index, const GltfAccessorRequest& request,
                   const std::string& fileName)
        : model_(model), index_(index), request_(request), fileName_(fileName)
    {
    }

    [[noreturn]] void fail(const std::string& what) const
    {
        throw ImportError(gltfMessage(fileName_, "accessor " + std::to_string(index_) + " (" + request_.what +
                                                     (request_.of ? " of " + *request_.of : std::string()) +
                                                     "): " + what));
    }

    const tinygltf::Accessor& accessor() const
    {
        if (index_ < 0 || static_cast<std::size_t>(index_) >= model_.accessors.size()) {
            fail("there is no such accessor");
        }
        return model_.accessors[static_cast<std::size_t>(index_)];
    }

    // The run of count elements at offset in buffer view `view`, stride from
    // the view (or packed).
    Run run(int view, std::size_t offset, std::size_t count, int componentType, int components,
            bool useViewStride) const
    {
        const std::size_t size = componentSize(componentType);
        if (size == 0) {
            fail("unknown component type " + std::to_string(componentType));
        }
        Run r;
        r.count = count;
        r.componentType = componentType;
        r.components = components;
        const std::size_t element = size * static_cast<std::size_t>(components);
        r.stride = element;
        if (view < 0) {
            return r;
        }
        if (static_cast<std::size_t>(view) >= model_.bufferViews.size()) {
            fail("buffer view " + std::to_string(view) + " does not exist");
        }
        const tinygltf::BufferView& v = model_.bufferViews[static_cast<std::size_t>(view)];
        if (v.buffer < 0 || static_cast<std::size_t>(v.buffer) >= model_.buffers.size()) {
            fail("buffer view " + std::to_string(view) + " names no buffer");
        }
        const std::vector<unsigned char>& bytes = model_.buffers[static_cast<std::size_t>(v.buffer)].data;
        if (v.byteOffset > bytes.size() || v.byteLength > bytes.size() - v.byteOffset) {
            fail("buffer view " + std::to_string(view) + " ends beyond its buffer");
        }
        if (useViewStride && v.byteStride != 0) {
            if (v.byteStride < element) {
                fail("the stride of buffer view " + std::to_string(view) + " is shorter than an element");
            }
            r.stride = v.byteStride;
        }
        if (count > 0) {
            // offset + stride · (count − 1) + element ≤ byteLength, without wrapping
            const std::size_t room = v.byteLength;
            if (offset > room || element > room - offset ||
                (count - 1) > (room - offset - element) / r.stride) {
                fail("elements end beyond buffer view " + std::to_string(view));
            }
        }
        r.first = bytes.data() + v.byteOffset + offset;
        return r;
    }

    // Component c of element i of the run as a double, normalised if asked.
    static double value(const Run& r, std::size_t i, int c)
    {
        if (!r.first) {
            return 0.0;
        }
        switch (r.componentType) {
        case TINYGLTF_COMPONENT_TYPE_BYTE: return component<std::int8_t>(r, i, c);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return component<std::uint8_t>(r, i, c);
        case TINYGLTF_COMPONENT_TYPE_SHORT: return component<std::int16_t>(r, i, c);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return component<std::uint16_t>(r, i, c);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: return component<std::uint32_t>(r, i, c);
        default: return component<float>(r, i, c);
        }
    }

    template <typename T>
    static double component(const Run& r, std::size_t i, int c)
    {
        T v;
        std::memcpy(&v, r.first + i * r.stride + static_cast<std::size_t>(c) * sizeof(T), sizeof(T));
        if constexpr (std::is_floating_point_v<T>) {
            return v;
        } else {
            if (!r.normalized) {
                return v;
            }
            constexpr double kMax = static_cast<double>(std::numeric_limits<T>::max());
            return std::max(v / kMax, -1.0);  // the signed minimum maps to -1 as well
        }
    }

    // put(element, component, value) for every value of the run: the
    // component type is looked at once, not once a value.
    template <typename Put>
    static void putAll(const Run& r, int components, Put& put)
    {
        switch (r.first ? r.componentType : -1) {
        case -1: putEach<void>(r, components, put); break;
        case TINYGLTF_COMPONENT_TYPE_BYTE: putEach<std::int8_t>(r, components, put); break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: putEach<std::uint8_t>(r, components, put); break;
        case TINYGLTF_COMPONENT_TYPE_SHORT: putEach<std::int16_t>(r, components, put); break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: putEach<std::uint16_t>(r, components, put); break;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: putEach<std::uint32_t>(r, components, put); break;
        default: putEach<float>(r, components, put); break;
        }
    }

    template <typename T, typename Put>
    static void putEach(const Run& r, int components, Put& put)
    {
        for (std::size_t i = 0; i < r.count; ++i) {
            for (int c = 0; c < components; ++c) {
                if constexpr (std::is_void_v<T>) {
                    put(i, c, 0.0);  // no buffer view: zeros
                } else {
                    put(i, c, component<T>(r, i, c));
                }
            }
        }
    }

    // Checks the accessor and everything it reads, then calls
    // prepare(count), then bulk(run) for the elements before substitution,
    // which either takes them all and answers true or leaves them to
    // put(element, component, value), one value at a time.
    template <typename Prepare, typename Bulk, typename Put>
    void read(Prepare prepare, Bulk bulk, Put put) const
    {
        Run indices, values;
        const Run base = checkedRuns(indices, values);
        prepare(base.count);
        if (!base.first || !bulk(base)) {
            putAll(base, base.components, put);
        }
        for (std::size_t k = 0; k < indices.count; ++k) {
            const double target = value(indices, k, 0);
            if (target >= static_cast<double>(base.count)) {
                fail("a sparse index lies beyond its elements");
            }
            for (int c = 0; c < base.components; ++c) {
                put(static_cast<std::size_t>(target), c, value(values, k, c));
            }
        }
    }

    // Checks the accessor and everything it reads; the run of its elements
    // before substitution, and the runs of the sparse indices and values
    // (empty when there is no substitution).
    Run checkedRuns(Run& indices, Run& values) const
    {
        const tinygltf::Accessor& a = accessor();
        const int components = componentCount(a.type);
        if (components != request_.components) {
            fail("has " + std::to_string(components) + " components per element where " +
                 std::to_string(request_.components) + " are needed");
        }
        if (request_.integerOnly && !isUnsignedInteger(a.componentType)) {
            fail("its components are not unsigned integers");
        }
        if (a.count > kMaxGltfValues / static_cast<std::size_t>(components)) {
            fail("more elements than the program reads");
        }
        const std::size_t sparseCount = a.sparse.isSparse ? static_cast<std::size_t>(std::max(a.sparse.count, 0)) : 0;
        if (a.bufferView < 0 && a.count > std::max(kMaxGltfZeroElements, 64 * sparseCount)) {
            fail("more elements without a buffer view than the program fills with zeros");
        }
        Run base = run(a.bufferView, a.byteOffset, a.count, a.componentType, components, true);
        base.normalized = a.normalized;
        if (a.sparse.isSparse) {
            sparseRuns(a, components, indices, values);
        }
        return base;
    }

private:
    void sparseRuns(const tinygltf::Accessor& a, int components, Run& indices, Run& values) const
    {
        const auto& s = a.sparse;
        if (s.count < 0 || static_cast<std::size_t>(s.count) > a.count || s.indices.byteOffset < 0 ||
            s.values.byteOffset < 0) {
            fail("its sparse substitution does not fit the accessor");
        }
        const std::size_t count = static_cast<std::size_t>(s.count);
        if (!isUnsignedInteger(s.indices.componentType)) {
            fail("its sparse indices are not unsigned integers");
        }
        if (s.indices.bufferView < 0 || s.values.bufferView < 0) {
            fail("its sparse substitution names no buffer view");
        }
        indices = run(s.indices.bufferView, static_cast<std::size_t>(s.indices.byteOffset), count,
                      s.indices.componentType, 1, false);
        values = run(s.values.bufferView, static_cast<std::size_t>(s.values.byteOffset), count, a.componentType,
                     components, false);
        values.normalized = a.normalized;
    }

    const tinygltf::Model& model_;
    int index_;
    const GltfAccessorRequest& request_;
    const std::string& fileName_;
};

// The run's unsigned components of type T, n per element, as 32-bit integers.
template <typename T>
void widenAll(const Run& r, std::size_t n, std::uint32_t* out)
{
    for (std::size_t i = 0; i < r.count; ++i) {
        const std::uint8_t* element = r.first + i * r.stride;
        for (std::size_t c = 0; c < n; ++c) {
            T v;
            std::memcpy(&v, element + c * sizeof(T), sizeof(T));
            out[i * n + c] = v;
        }
    }
}

}  // namespace

std::vector<float> readGltfFloats(const tinygltf::Model& model, int accessor, const GltfAccessorRequest& request,
                                  const std::string& fileName)
{
    const std::size_t n = static_cast<std::size_t>(request.components);
    std::vector<float> out;
    // Floats, the usual kind, are copied an element at a time.
    const auto copyFloats = [&](const Run& r) {
        if (r.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT) {
            return false;
        }
        if (r.count == 0) {
            return true;  // (memcpy may not be handed the null of an empty vector)
        }
        if (r.stride == n * sizeof(float)) {
            std::memcpy(out.data(), r.first, r.count * n * sizeof(float));
        } else {
            for (std::size_t i = 0; i < r.count; ++i) {
                std::memcpy(out.data() + i * n, r.first + i * r.stride, n * sizeof(float));
            }
        }
        return true;
    };
    AccessorReader(model, accessor, request, fileName)
        .read([&](std::size_t count) { out.resize(count * n); }, copyFloats,
              [&](std::size_t i, int c, double v) { out[i * n + static_cast<std::size_t>(c)] = static_cast<float>(v); });
    return out;
}

std::vector<std::uint32_t> readGltfIndices(const tinygltf::Model& model, int accessor,
                                           const GltfAccessorRequest& request, const std::string& fileName)
{
    GltfAccessorRequest integers = request;
    integers.integerOnly = true;
    const std::size_t n = static_cast<std::size_t>(request.components);
    std::vector<std::uint32_t> out;
    const auto widen = [&](const Run& r) {
        switch (r.componentType) {
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: widenAll<std::uint8_t>(r, n, out.data()); return true;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: widenAll<std::uint16_t>(r, n, out.data()); return true;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: widenAll<std::uint32_t>(r, n, out.data()); return true;
        default: return false;
        }
    };
    AccessorReader(model, accessor, integers, fileName)
        .read([&](std::size_t count) { out.resize(count * n); }, widen,
              [&](std::size_t i, int c, double v) {
                  out[i * n + static_cast<std::size_t>(c)] = static_cast<std::uint32_t>(v);
              });
    return out;
}

GltfFloatView viewGltfFloats(const tinygltf::Model& model, int accessor, const GltfAccessorRequest& request,
                             const std::string& fileName)
{
    Run indices, values;
    const Run base = AccessorReader(model, accessor, request, fileName).checkedRuns(indices, values);
    GltfFloatView view;
    if (base.first && base.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT && indices.count == 0) {
        view.first = base.first;
        view.stride = base.stride;
        view.count = base.count;
        return view;
    }
    view.owned = readGltfFloats(model, accessor, request, fileName);
    view.first = reinterpret_cast<const std::uint8_t*>(view.owned.data());
    view.stride = static_cast<std::size_t>(request.components) * sizeof(float);
    view.count = base.count;
    return view;
}

GltfIndexView viewGltfIndices(const tinygltf::Model& model, int accessor, const GltfAccessorRequest& scalars,
                              const std::string& fileName)
{
    GltfAccessorRequest request = scalars;
    request.integerOnly = true;
    Run indices, values;
    const Run base = AccessorReader(model, accessor, request, fileName).checkedRuns(indices, values);
    GltfIndexView view;
    view.count = base.count;
    if (base.first && indices.count == 0) {
        view.first = base.first;
        view.stride = base.stride;
        view.size = static_cast<int>(componentSize(base.componentType));
        return view;
    }
    view.owned = readGltfIndices(model, accessor, request, fileName);
    view.first = reinterpret_cast<const std::uint8_t*>(view.owned.data());
    view.stride = sizeof(std::uint32_t);
    view.size = sizeof(std::uint32_t);
    return view;
}

}  // namespace fyrel
