#pragma once

#include "math/vector.h"

namespace fyrel {

// 16 floats stored by rows: element (r, c) is m[4r + c]. Matrices act on column
// vectors, so in a product A·B the transform B is applied first. An affine
// transform keeps its translation in (0,3), (1,3), (2,3).
struct Matrix4 {
    float m[16] = {1, 0, 0, 0,
                   0, 1, 0, 0,
                   0, 0, 1, 0,
                   0, 0, 0, 1};

    float& operator()(int r, int c) { return m[4 * r + c]; }
    float operator()(int r, int c) const { return m[4 * r + c]; }
};

// out = A·B, every element summed over k = 0…3 in order.
Matrix4& mul(const Matrix4& a, const Matrix4& b, Matrix4& out);

// out_r = Σ_k M(r,k)·v_k for all four rows.
Vector4& transform(const Matrix4& m, const Vector4& v, Vector4& out);

// Rz(az)·Ry(ay)·Rx(ax).
Matrix4& eulerToMatrix(float ax, float ay, float az, Matrix4& out);

// The identity with t in column 3.
Matrix4& translationMatrix(const Vector3& t, Matrix4& out);

// The change between the y-up frame whose front faces +z (glTF's, most
// interchange formats') and this program's z-up world whose front faces +y:
// (x, y, z) → (−x, z, y), a proper turn, its own inverse.
Matrix4& yUpToZUpMatrix(Matrix4& out);

// m · S(s): column c of the upper 3×3 part times s_c, in place. A scale of 1
// leaves every element as it was, bit for bit.
Matrix4& scaleColumns(Matrix4& m, const Vector3& s);

// The general inverse (cofactors). A singular matrix has none: the function
// then writes the identity and returns false.
bool invert(const Matrix4& a, Matrix4& out);

// The transposed copy that OpenGL's glLoadMatrixf/glMultMatrixf read column
// by column; the stored array itself is never handed to OpenGL.
struct GlMatrix {
    float m[16];
};
GlMatrix& toGlMatrix(const Matrix4& a, GlMatrix& out);

}  // namespace fyrel
