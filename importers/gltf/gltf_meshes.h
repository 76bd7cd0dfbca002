#pragma once

#include "importers/gltf/gltf_conversion.h"

// The meshes of a glTF scene as the model's vertices and triangles.
//
// Every mesh of a scene node adds its primitives in turn: triangle lists,
// strips (every other triangle turned, so that all keep one winding) and
// fans, indexed by unsigned bytes, shorts or ints or not at all; points and
// lines are passed over (counted in c.skippedPrimitives), as is a primitive
// without positions. A vertex stands where its node's rest world transform
// puts it or, when skinned, where its joints' inverse bind matrices and the
// rest pose put it (gltf_skeleton.h); given normals turn with it, texture
// coordinates come from the set (and transform) its material's texture
// reads. Texture coordinates are one a vertex or none: the vertices of
// primitives before the first that has them get (0, 0).

namespace fyrel {

// Room for the vertices and triangles of every drawn primitive at once, by
// the counts the file claims, made only when all of it stays within a third
// of c.budget (a file refused later must not have cost much memory first);
// otherwise the arrays grow as the primitives are read. Reads c.doc and
// c.order; reserves c.model's vertices, texCoords and triangles and
// c.normalGiven. Checks and throws nothing.
void reserveGltfMeshes(GltfConversion& c);

// Adds the primitives of every scene node's mesh, in c.order. Reads c.doc,
// c.nodes (rest transforms, bones), c.texCoordsOf and the skins; appends to
// c.model's vertices, texCoords and triangles (face normals made) and to
// c.normalGiven; hands each vertex to the bones that move it (c.nodes'
// weights); notes morph targets once (c.notedMorphs). Throws ImportError
// when a mesh does not exist, an accessor is wrong (gltf_accessors.h),
// normals, texture coordinates or joints do not match the positions, an
// index is not below its primitive's vertex count, a position is not
// finite, the model would hold more than 2³¹ − 1 vertices, or the
// primitive would take more than the budget left.
void addGltfMeshes(GltfConversion& c);

// Vertex normals for the vertices whose normals the file does not give,
// from the face normals; those it gives are kept. Reads c.normalGiven;
// writes c.model's vertex normals.
void completeGltfNormals(GltfConversion& c);

}  // namespace fyrel
