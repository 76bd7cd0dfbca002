#pragma once

#include <vector>

#include "math/matrix.h"
#include "math/quaternion.h"
#include "math/vector.h"
#include "scene/animator.h"
#include "scene/bone.h"
#include "scene/derived_state.h"
#include "scene/material.h"
#include "scene/mesh.h"

namespace fyrel {

// One imported model. Held by value in the application's model list, whose
// element addresses stay stable while it grows. Copies and moves are the
// compiler's, field by field: nothing in a model points into it (keys name
// bones by index), and what the layers above derive from it lives in
// DerivedState slots (the skin form, the GPU buffers, the animator's
// sampling state), which a copy or move does not take: the new model
// starts without them and they are rebuilt when next needed.
//
// Posing and skinning are animation's (animation/pose.h), the GPU buffers
// render's (render/model_buffers.h): they keep what they derive in the two
// DerivedState slots.
struct Model {
    Material material;                    // for a model that brings no materials
    std::vector<Material> materials;      // what triangles' material indices name
    std::vector<Vertex> vertices;         // bind pose, as imported
    std::vector<TexCoord> texCoords;      // one a vertex, or none
    std::vector<Vertex> skinnedVertices;  // posed, written by updatePose
    std::vector<Triangle> triangles;
    Bone rootBone;
    Animator animator;
    Matrix4 baseTransform;  // the file's axes and units to the world's; exports write it
    // The model's placement, not the file's: a lift along the model's z that
    // stands its rest pose on the ground (set where models enter the
    // program, animation/bounds.h), so exports leave it out.
    float lift = 0.0f;
    Vector3 position;
    Quaternion orientation;
    DerivedState skin;     // animation's per-vertex form of the weights
    DerivedState buffers;  // render's GPU buffers and their staging arrays

    // World transform: T(position) · R(orientation) · T(0, 0, lift) · baseTransform.
    Matrix4& worldTransform(Matrix4& out) const;

    // Face and vertex normals from the positions; every face counts once.
    // A degenerate face gets a zero normal and adds nothing to its vertices.
    void computeNormals();
    // Only the normals of faces first up to last (all by default), for
    // vertices whose normals are given.
    void computeFaceNormals(std::size_t first = 0, std::size_t last = static_cast<std::size_t>(-1));

    // True when some bone of the skeleton weights a vertex of this model.
    bool hasSkin() const;

    // The material a triangle is drawn with: its own when the index names
    // one, else the model's material.
    const Material& materialOf(const Triangle& triangle) const;
};

}  // namespace fyrel
