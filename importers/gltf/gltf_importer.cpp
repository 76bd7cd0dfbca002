#include "importers/gltf/gltf_importer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "importers/gltf/gltf_accessors.h"
#include "importers/gltf/gltf_document.h"
#include "importers/import_error.h"
#include "scene/debug_output.h"

namespace fyrel {
namespace {

bool finite(const std::vector<double>& values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

class Converter {
public:
    Converter(const tinygltf::Model& document, const std::string& fileName, std::size_t inputBytes)
        : doc_(document), fileName_(fileName)
    {
        const std::size_t perByte = kGltfMemoryPerInputByte;
        budget_ = inputBytes > (std::numeric_limits<std::size_t>::max() - (1u << 20)) / perByte
                      ? std::numeric_limits<std::size_t>::max()
                      : inputBytes * perByte + (1u << 20);
    }

    Model convert()
    {
        for (const int root : sceneRoots()) {
            walk(root);
        }
        if (skippedPrimitives_ > 0) {
            debugOutput("glTF: " + std::to_string(skippedPrimitives_) + " primitives of points or lines in \"" +
                        fileName_ + "\" are not drawn\n");
        }
        if (model_.triangles.empty()) {
            fail("its scene holds no triangles to show");
        }
        model_.computeNormals();
        for (std::size_t i = 0; i < fileNormals_.size(); ++i) {
            if (fileNormals_[i].given) {
                model_.vertices[i].normal = fileNormals_[i].normal;
            }
        }
        placeInWorld();
        return std::move(model_);
    }

private:
    struct FileNormal {
        Vector3 normal;
        bool given = false;
    };

    [[noreturn]] void fail(const std::string& what) const { throw ImportError(gltfMessage(fileName_, what)); }

    std::vector<int> sceneRoots() const
    {
        int scene = doc_.defaultScene;
        if (scene < 0 && !doc_.scenes.empty()) {
            scene = 0;
        }
        if (scene >= 0) {
            if (static_cast<std::size_t>(scene) >= doc_.scenes.size()) {
                fail("scene " + std::to_string(scene) + " does not exist");
            }
            return doc_.scenes[static_cast<std::size_t>(scene)].nodes;
        }
        // No scene: every node that is no other node's child.
        std::vector<bool> isChild(doc_.nodes.size(), false);
        for (const tinygltf::Node& node : doc_.nodes) {
            for (const int child : node.children) {
                if (child >= 0 && static_cast<std::size_t>(child) < isChild.size()) {
                    isChild[static_cast<std::size_t>(child)] = true;
                }
            }
        }
        std::vector<int> roots;
        for (std::size_t i = 0; i < isChild.size(); ++i) {
            if (!isChild[i]) {
                roots.push_back(static_cast<int>(i));
            }
        }
        return roots;
    }

    const tinygltf::Node& node(int index) const
    {
        if (index < 0 || static_cast<std::size_t>(index) >= doc_.nodes.size()) {
            fail("node " + std::to_string(index) + " does not exist");
        }
        return doc_.nodes[static_cast<std::size_t>(index)];
    }

    // The node's transform relative to its parent: its matrix, else T·R·S.
    Matrix4 localMatrix(int index) const
    {
        const tinygltf::Node& n = node(index);
        if (!finite(n.matrix) || !finite(n.translation) || !finite(n.rotation) || !finite(n.scale)) {
            fail("node " + std::to_string(index) + " has a transform that is not a number");
        }
        Matrix4 m;
        if (n.matrix.size() == 16) {
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    m(r, c) = static_cast<float>(n.matrix[static_cast<std::size_t>(4 * c + r)]);  // column-major
                }
            }
            return m;
        }
        Quaternion q;
        if (n.rotation.size() == 4) {
            q = {static_cast<float>(n.rotation[3]), static_cast<float>(n.rotation[0]),
                 static_cast<float>(n.rotation[1]), static_cast<float>(n.rotation[2])};
            quatNormalize(q, q);
        }
        quatToMatrix(q, m);
        if (n.scale.size() == 3) {
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    m(r, c) *= static_cast<float>(n.scale[static_cast<std::size_t>(c)]);
                }
            }
        }
        if (n.translation.size() == 3) {
            for (int r = 0; r < 3; ++r) {
                m(r, 3) = static_cast<float>(n.translation[static_cast<std::size_t>(r)]);
            }
        }
        return m;
    }

    // Depth-first over the node tree with an explicit stack: a file decides
    // how deep it goes, not the call stack.
    void walk(int root)
    {
        struct Entry {
            int node;
            Matrix4 parentWorld;
            int depth;
        };
        if (visited_.empty()) {
            visited_.assign(doc_.nodes.size(), false);
        }
        std::vector<Entry> stack{{root, Matrix4{}, 1}};
        while (!stack.empty()) {
            const Entry e = stack.back();
            stack.pop_back();
            const tinygltf::Node& n = node(e.node);
            if (visited_[static_cast<std::size_t>(e.node)]) {
                fail("node " + std::to_string(e.node) + " is its own ancestor or the child of two parents");
            }
            visited_[static_cast<std::size_t>(e.node)] = true;
            if (e.depth > kMaxBoneDepth) {
                fail("nodes are nested deeper than " + std::to_string(kMaxBoneDepth) + " levels");
            }
            Matrix4 world;
            mul(e.parentWorld, localMatrix(e.node), world);
            if (n.mesh >= 0) {
                addMesh(n.mesh, world);
            }
            for (auto child = n.children.rbegin(); child != n.children.rend(); ++child) {
                stack.push_back({*child, world, e.depth + 1});
            }
        }
    }

    void spend(std::size_t bytes)
    {
        if (bytes > budget_) {
            fail("the model would take more memory than a file of this size may claim");
        }
        budget_ -= bytes;
    }

    void addMesh(int meshIndex, const Matrix4& world)
    {
        if (static_cast<std::size_t>(meshIndex) >= doc_.meshes.size()) {
            fail("mesh " + std::to_string(meshIndex) + " does not exist");
        }
        const tinygltf::Mesh& mesh = doc_.meshes[static_cast<std::size_t>(meshIndex)];
        Matrix4 normalMatrix;  // inverse transpose of world's 3×3 part
        Matrix4 inverse;
        invert(world, inverse);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                normalMatrix(r, c) = inverse(c, r);
            }
        }
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
            addPrimitive(mesh.primitives[p], "mesh " + std::to_string(meshIndex), world, normalMatrix);
        }
    }

    void addPrimitive(const tinygltf::Primitive& primitive, const std::string& mesh, const Matrix4& world,
                      const Matrix4& normalMatrix)
    {
        const int mode = primitive.mode < 0 ? TINYGLTF_MODE_TRIANGLES : primitive.mode;
        if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
            mode != TINYGLTF_MODE_TRIANGLE_FAN) {
            ++skippedPrimitives_;
            return;
        }
        const auto position = primitive.attributes.find("POSITION");
        if (position == primitive.attributes.end()) {
            return;  // nothing to place
        }
        const std::string what = mesh;
        const std::vector<float> positions = readGltfFloats(doc_, position->second, {("POSITION of " + what).c_str(), 3}, fileName_);
        const std::size_t count = positions.size() / 3;
        std::vector<float> normals;
        if (const auto normal = primitive.attributes.find("NORMAL"); normal != primitive.attributes.end()) {
            normals = readGltfFloats(doc_, normal->second, {("NORMAL of " + what).c_str(), 3}, fileName_);
            if (normals.size() != positions.size()) {
                fail("the normals of " + what + " do not match its positions");
            }
        }
        std::vector<std::uint32_t> indices;
        if (primitive.indices >= 0) {
            indices = readGltfIndices(doc_, primitive.indices, {("indices of " + what).c_str(), 1}, fileName_);
        } else {
            indices.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                indices[i] = static_cast<std::uint32_t>(i);
            }
        }
        for (const std::uint32_t index : indices) {
            if (index >= count) {
                fail("an index of " + what + " names vertex " + std::to_string(index) + " of " +
                     std::to_string(count));
            }
        }
        const std::size_t corners = indices.size();
        const std::size_t triangles = mode == TINYGLTF_MODE_TRIANGLES ? corners / 3 : (corners >= 3 ? corners - 2 : 0);
        spend(count * (sizeof(Vertex) + sizeof(FileNormal)) + triangles * sizeof(Triangle));

        const std::size_t first = model_.vertices.size();
        if (first + count > std::numeric_limits<std::uint32_t>::max()) {
            fail("the model has more vertices than the program holds");
        }
        for (std::size_t i = 0; i < count; ++i) {
            Vector4 p{positions[3 * i], positions[3 * i + 1], positions[3 * i + 2], 1.0f};
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                fail("a position of " + what + " is not a number");
            }
            Vector4 placed;
            transform(world, p, placed);
            Vertex v;
            v.position = {placed.x, placed.y, placed.z};
            model_.vertices.push_back(v);
            FileNormal n;
            if (!normals.empty()) {
                Vector4 given{normals[3 * i], normals[3 * i + 1], normals[3 * i + 2], 0.0f}, turned;
                transform(normalMatrix, given, turned);
                Vector3 t{turned.x, turned.y, turned.z};
                normalize(t, n.normal);
                n.given = std::isfinite(n.normal.x) && std::isfinite(n.normal.y) && std::isfinite(n.normal.z) &&
                          (n.normal.x != 0.0f || n.normal.y != 0.0f || n.normal.z != 0.0f);
            }
            fileNormals_.push_back(n);
        }
        const auto corner = [&](std::size_t i) { return static_cast<std::uint32_t>(first + indices[i]); };
        for (std::size_t t = 0; t < triangles; ++t) {
            Triangle tri;
            if (mode == TINYGLTF_MODE_TRIANGLES) {
                tri.indices[0] = corner(3 * t), tri.indices[1] = corner(3 * t + 1), tri.indices[2] = corner(3 * t + 2);
            } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
                // Every other triangle of a strip is turned so that all keep one winding.
                tri.indices[0] = corner(t);
                tri.indices[1] = corner(t + 1 + t % 2);
                tri.indices[2] = corner(t + 2 - t % 2);
            } else {
                tri.indices[0] = corner(t + 1), tri.indices[1] = corner(t + 2), tri.indices[2] = corner(0);
            }
            model_.triangles.push_back(tri);
        }
    }

    // y-up, front +z → z-up, front +y: (x, y, z) → (−x, z, y), then the lowest
    // vertex onto z = 0.
    void placeInWorld()
    {
        Matrix4 axes;
        axes.m[0] = -1.0f;
        axes(1, 1) = 0.0f, axes(1, 2) = 1.0f;
        axes(2, 1) = 1.0f, axes(2, 2) = 0.0f;
        float lowest = 0.0f;
        for (std::size_t i = 0; i < model_.vertices.size(); ++i) {
            lowest = i == 0 ? model_.vertices[i].position.y : std::min(lowest, model_.vertices[i].position.y);
        }
        axes(2, 3) = -lowest;
        model_.baseTransform = axes;
    }

    const tinygltf::Model& doc_;
    const std::string& fileName_;
    std::size_t budget_ = 0;
    Model model_;
    std::vector<FileNormal> fileNormals_;
    std::vector<bool> visited_;
    int skippedPrimitives_ = 0;
};

std::size_t inputBytes(const tinygltf::Model& document, std::size_t fileSize)
{
    std::size_t total = fileSize;
    for (const tinygltf::Buffer& buffer : document.buffers) {
        total += buffer.data.size();
    }
    return total;
}

}  // namespace

Model importGltf(const std::string& path)
{
    const tinygltf::Model document = loadGltfDocument(path);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return Converter(document, path, inputBytes(document, error ? 0 : static_cast<std::size_t>(size))).convert();
}

Model importGltfFromMemory(const std::uint8_t* data, std::size_t size, const std::string& fileName)
{
    const tinygltf::Model document = loadGltfDocumentFromMemory(data, size, fileName);
    return Converter(document, fileName, inputBytes(document, size)).convert();
}

}  // namespace fyrel
