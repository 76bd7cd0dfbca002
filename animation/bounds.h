#pragma once

#include "math/vector.h"

namespace fyrel {

struct Model;

// The world box of the model as it is drawn now: the posed (skinned)
// vertices of a model with a skeleton that has them for every vertex, the
// bind-pose vertices otherwise, placed by its world transform. Grows low and high to take it
// in; returns false, changing nothing, for a model without vertices.
// Vertices that are not finite are left out.
bool growByPosedBox(const Model& model, Vector3& low, Vector3& high);

// The same for the origins of the model's bones as posed now (a skeleton
// without a mesh, such as a BVH motion); false for a model without a
// skeleton.
bool growByPosedJoints(const Model& model, Vector3& low, Vector3& high);

// What is drawn of the model: its posed box, or for a model without
// vertices its posed joints (a motion's skeleton is its picture).
bool growByDrawnBox(const Model& model, Vector3& low, Vector3& high);

// The model at rest: every bone at its bind transform (no rotation,
// translation or scale of its own). The mesh box is that of the vertices
// as they are drawn in that pose (skinned, by the rule of growByPosedBox),
// the joint box that of every bone's origin, a model without a skeleton
// (an unnamed root without children or weights) having none; both placed by
// the world transform, non-finite points left out. A box that is empty
// keeps low > high (infinities) and its flag false.
struct RestBoxes {
    Vector3 meshLow, meshHigh, jointLow, jointHigh;
    bool mesh = false;
    bool joints = false;
};

// Poses the model at rest and measures it, then puts the bones' own
// transforms back and poses the model by them again.
void measureRest(Model& model, RestBoxes& boxes);

// Sets model.lift so that the lowest point of the rest mesh (of the joints,
// for a model without vertices) stands on z = 0 when the model stands at
// the origin unturned; 0 when there is nothing finite to stand on.
void standOnGround(Model& model);

}  // namespace fyrel
