#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "animation/animation_cache.h"
#include "math/matrix.h"
#include "math/quaternion.h"
#include "math/vector.h"
#include "scene/gl_functions.h"

namespace fyrel {

struct Model;

// Bone trees are held by value and walked recursively (copy, find, pose
// evaluation), so importers refuse skeletons nested deeper than this: a
// crafted file must not be able to exhaust the stack.
inline constexpr int kMaxBoneDepth = 1024;

struct Material {
    float ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    float specular[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float emissive[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float shininess = 1.0f;
};

struct Vertex {
    Vector3 position;
    Vector3 normal;
};

struct Triangle {
    std::uint32_t indices[3] = {0, 0, 0};
    Vector3 normal;  // unit face normal, set by computeNormals
};

struct VertexWeight {
    std::int32_t vertex = 0;  // index into the model's vertices
    float weight = 0.0f;
};

// A joint of the skeleton. Children live inside their parent by value, so a
// Bone pointer stays valid only while no bone is added on the path from the
// root to it: code that keeps Bone pointers takes them once the skeleton is
// complete, and copies of a model re-resolve them by name (Animator::bind).
struct Bone {
    std::string name;
    Quaternion rotation;        // animated rotation relative to the bind pose
    Vector3 translation;        // animated translation relative to the bind pose
    Matrix4 localMatrix;        // bind transform relative to the parent
    Matrix4 inverseLocalMatrix; // its inverse, set by the importer
    Matrix4 worldMatrix;        // current absolute transform (pose evaluation)
    Matrix4 inverseBindMatrix;  // absolute inverse bind transform (pose evaluation)
    std::vector<Bone> children;
    std::vector<VertexWeight> weights;

    // Depth-first, this bone first, then each child's subtree in order; the
    // first exact, case-sensitive match, or null.
    Bone* find(const std::string& boneName);
    const Bone* find(const std::string& boneName) const;

    // Appends a copy of the bone with its whole subtree.
    void addChild(const Bone& bone);
    void addWeight(std::int32_t vertex, float weight);
};

struct KeyFrame {
    float time = 0.0f;
    Bone* bone = nullptr;  // the bone this key drives; not owned
    std::string boneName;  // copy of the bone's name, taken when the key is made
    Quaternion rotation;
    Vector3 translation;
};

struct Animation {
    std::string name;
    float length = 0.0f;  // the largest key time added so far
    Model* model = nullptr;
    // One track per animated bone; every key of a track drives the same bone,
    // a track is never empty and its keys ascend in time.
    std::vector<std::vector<KeyFrame>> tracks;
    bool loop = false;

    // Adds a copy of the key to the first track whose first key drives the
    // same bone (pointer comparison), after any keys of equal time; opens a
    // new track when none matches.
    void addKey(const KeyFrame& key);

    // Adds one key at the given time per bone of the subtree at bone (pre-order)
    // from the bones' current local pose; with no bone, starts at the root bone
    // of the animation's model.
    void recordPose(float time, Bone* bone = nullptr);
};

struct Animator {
    Model* model = nullptr;  // null: the per-frame advance does nothing
    std::int32_t current = 0;
    std::vector<Animation> animations;
    float time = 0.0f;
    float rate = 0.1f;

    // Points the animator and every animation at the model and resolves every
    // key's bone by name on the model's skeleton (null when none bears it).
    void bind(Model* owner);

    // Advances time by rate·dt, wraps or clamps it at the clip's length and
    // writes the sampled local pose into the bones of the current clip. The
    // key of each track is the first whose time is at or after the playback
    // time; the search starts from where it ended last frame.
    void update(float dt);

private:
    Uncopied<SamplingCache> sampling_;
};

// One imported model. Held by value in the application's model list, whose
// element addresses stay stable while it grows. A copy takes everything but
// the GPU side (buffers, staging arrays, skinned vertices) and re-binds its
// animator to itself and its own bones.
struct Model {
    Material material;
    const GlFunctions* bufferFunctions = nullptr;  // set iff bufferNames are live
    std::vector<Vertex> vertices;                   // bind pose, as imported
    std::vector<Vertex> skinnedVertices;            // posed, written by updatePose
    std::vector<Triangle> triangles;
    Bone rootBone;
    Animator animator;
    std::vector<float> skinnedPositions;  // staging: 3 floats a vertex, or empty
    std::vector<float> skinnedNormals;    // staging: 3 floats a vertex, or empty
    GlUint bufferNames[3] = {0, 0, 0};    // positions, normals, indices
    Matrix4 baseTransform;
    Vector3 position;
    Quaternion orientation;

    Model() = default;
    Model(const Model& other);
    Model& operator=(const Model& other);
    ~Model();

    // World transform: T(position) · R(orientation) · baseTransform.
    Matrix4& worldTransform(Matrix4& out) const;

    // Face and vertex normals from the positions; every face counts once.
    // A degenerate face gets a zero normal and adds nothing to its vertices.
    void computeNormals();

    // Creates the three buffers through the table and uploads the bind pose and
    // the indices. Returns without change when the table lacks a buffer entry.
    void createBuffers(const GlFunctions* table);

    // Copies skinnedVertices into the staging arrays and re-uploads positions
    // and normals. Does nothing for a model without a skeleton.
    void uploadSkinned();

    // Evaluates the bone tree and skins the vertices into skinnedVertices.
    // Every vertex gets the sum of its weighted contributions in the order of
    // the bone walk (bones in pre-order, each bone's weights in order),
    // starting from zero; weights for vertices out of range are ignored.
    // Allocates only when the vertex count or the skin changes.
    void updatePose();

    // Poses the subtree of bone: world and inverse bind matrices, parents
    // first. Does not skin.
    void evaluateBone(const Bone* parent, Bone& bone);

    // Pose evaluation keeps a per-vertex form of the bones' weights, rebuilt
    // when it sees a weight list move to new storage, grow or shrink, bones
    // come or go, or the vertex count change. Code that changes weights after
    // the first pose without any of that (editing entries, or assigning a
    // list of the same length into an existing one) calls this.
    void skinChanged();

    // True when some bone of the skeleton weights a vertex of this model.
    bool hasSkin() const;

private:
    void releaseBuffers();
    void copyFrom(const Model& other);

    Uncopied<SkinCache> skin_;  // derived from the bones' weights by updatePose
};

}  // namespace fyrel
