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

}  // namespace fyrel
