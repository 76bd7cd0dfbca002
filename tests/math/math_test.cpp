#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "math/matrix.h"
#include "math/quaternion.h"
#include "math/vector.h"

using namespace fyrel;

namespace {

constexpr float kPi = 3.14159265358979f;

void expectQuatNear(const Quaternion& a, const Quaternion& b, float tol = 1e-6f)
{
    EXPECT_NEAR(a.w, b.w, tol);
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

void expectMatrixNear(const Matrix4& a, const Matrix4& b, float tol = 1e-6f)
{
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
    }
}

// Random unit quaternions.
std::vector<Quaternion> randomRotations(unsigned seed, int n)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss;
    std::vector<Quaternion> out;
    for (int i = 0; i < n; ++i) {
        Quaternion q{gauss(rng), gauss(rng), gauss(rng), gauss(rng)};
        out.push_back(quatNormalize(q, q));
    }
    return out;
}

}  // namespace

TEST(Math, VectorOperations)
{
    Vector3 out;
    EXPECT_FLOAT_EQ(length(Vector3{3, 4, 12}), 13.0f);
    EXPECT_EQ(difference(Vector3{1, 2, 3}, Vector3{3, 2, 1}, out).x, -2.0f);
    EXPECT_EQ(out.z, 2.0f);
    EXPECT_FLOAT_EQ(normalize(Vector3{0, 3, 4}, out).y, 0.6f);
    EXPECT_FLOAT_EQ(out.z, 0.8f);
    EXPECT_EQ(normalize(Vector3{}, out).y, 0.0f);  // no direction: zero
    Vector3 a{1, 1, 1};
    EXPECT_EQ(addAssign(a, Vector3{1, 2, 3}, out).y, 3.0f);
    EXPECT_EQ(a.z, 4.0f);
    lerp(Vector3{0, 10, -2}, Vector3{4, 20, 2}, 0.25f, out);
    EXPECT_FLOAT_EQ(out.x, 1.0f);
    EXPECT_FLOAT_EQ(out.y, 12.5f);
    EXPECT_FLOAT_EQ(out.z, -1.0f);
}

TEST(Math, MatricesComposeRightFirstInvertAndTransposeForGl)
{
    Matrix4 r, t, tr, rt, inv, id;
    eulerToMatrix(0.3f, -0.7f, 1.1f, r);
    expectMatrixNear(mul(r, Matrix4{}, tr), r, 0.0f);
    expectMatrixNear(mul(Matrix4{}, r, tr), r, 0.0f);
    translationMatrix(Vector3{1, 2, 3}, t);
    mul(t, r, tr);
    mul(r, t, rt);
    EXPECT_EQ(tr(0, 3), 1.0f);  // T·R keeps the translation in column 3
    EXPECT_EQ(tr(1, 3), 2.0f);
    EXPECT_EQ(tr(2, 3), 3.0f);
    EXPECT_NEAR(rt(0, 3), r(0, 0) + 2 * r(0, 1) + 3 * r(0, 2), 1e-6f);  // R·T turns it
    Vector4 p;
    transform(tr, Vector4{1, 0, 0, 1}, p);  // rotate first, then translate
    EXPECT_NEAR(p.x, r(0, 0) + 1, 1e-6f);
    EXPECT_NEAR(p.y, r(1, 0) + 2, 1e-6f);
    EXPECT_NEAR(p.z, r(2, 0) + 3, 1e-6f);
    EXPECT_EQ(p.w, 1.0f);

    ASSERT_TRUE(invert(rt, inv));
    expectMatrixNear(mul(rt, inv, id), Matrix4{}, 1e-5f);
    expectMatrixNear(mul(inv, rt, id), Matrix4{}, 1e-5f);
    Matrix4 singular;
    EXPECT_FALSE(invert(scaleColumns(singular, Vector3{1, 0, 1}), inv));
    expectMatrixNear(inv, Matrix4{}, 0.0f);

    GlMatrix gl;
    toGlMatrix(tr, gl);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            EXPECT_EQ(gl.m[column * 4 + row], tr(row, column));
        }
    }
}

TEST(Math, QuaternionsTurnAsTheirMatricesDo)
{
    Matrix4 m;
    quatToMatrix(Quaternion{std::cos(kPi / 4), 0, 0, std::sin(kPi / 4)}, m);  // a quarter turn about z
    Vector4 v;
    transform(m, Vector4{1, 0, 0, 0}, v);
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, 1.0f, 1e-6f);

    // The product of two rotations is the product of their matrices, the
    // right operand applied first.
    const std::vector<Quaternion> rotations = randomRotations(3u, 200);
    for (std::size_t i = 0; i + 1 < rotations.size(); ++i) {
        Quaternion ab;
        Matrix4 ma, mb, product, expected;
        quatToMatrix(quatMul(rotations[i], rotations[i + 1], ab), product);
        mul(quatToMatrix(rotations[i], ma), quatToMatrix(rotations[i + 1], mb), expected);
        expectMatrixNear(product, expected, 1e-5f);
    }
    // Euler angles: X first, then Y, then Z, as their matrix.
    Quaternion q;
    expectQuatNear(eulerToQuat(0, 0, 0.8f, q), Quaternion{std::cos(0.4f), 0, 0, std::sin(0.4f)});
    for (const auto& a : {std::vector<float>{0.3f, -1.2f, 2.5f}, {-2.0f, 0.1f, 0.7f}, {kPi / 2, 0, kPi / 2}}) {
        Matrix4 fromQuat, direct;
        quatToMatrix(eulerToQuat(a[0], a[1], a[2], q), fromQuat);
        expectMatrixNear(fromQuat, eulerToMatrix(a[0], a[1], a[2], direct), 1e-5f);
    }
    Quaternion n;
    expectQuatNear(quatNormalize(Quaternion{2, 0, 0, 0}, n), Quaternion{});
    expectQuatNear(quatNormalize(Quaternion{0, 0, 0, 0}, n), Quaternion{});
}

TEST(Math, MatrixToQuatUndoesQuatToMatrix)
{
    // Half turns about each axis among them (where the trace is lowest and a
    // naive formula divides by nearly zero).
    std::vector<Quaternion> rotations = {{0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {1, 0, 0, 0}};
    for (const Quaternion& q : randomRotations(7u, 500)) {
        rotations.push_back(q);
    }
    for (const Quaternion& q : rotations) {
        Matrix4 m;
        Quaternion back;
        matrixToQuat(quatToMatrix(q, m), back);
        const float sign = q.w * back.w + q.x * back.x + q.y * back.y + q.z * back.z < 0 ? -1.0f : 1.0f;
        expectQuatNear(back, Quaternion{sign * q.w, sign * q.x, sign * q.y, sign * q.z}, 1e-5f);
    }
}

TEST(Math, RotationsBetweenDirectionsAndFromUp)
{
    Quaternion q;
    expectQuatNear(rotationBetween(Vector3{2, 0, 0}, Vector3{1, 0, 0}, q), Quaternion{});
    expectQuatNear(rotationBetween(Vector3{1, 0, 0}, Vector3{0, 3, 0}, q),
                   Quaternion{std::cos(kPi / 4), 0, 0, std::sin(kPi / 4)});
    // Equal directions whose cosine rounds past 1 (about one in five).
    std::mt19937 rng(42u);
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    for (int i = 0; i < 1000; ++i) {
        const Vector3 v{coordinate(rng), coordinate(rng), coordinate(rng)};
        rotationBetween(v, Vector3{3 * v.x, 3 * v.y, 3 * v.z}, q);
        expectQuatNear(q, Quaternion{}, 2e-3f);
    }
    expectQuatNear(rotationFromUp(Vector3{0, 1, 0}, q), Quaternion{1, 0, 0, 0}, 0.0f);
    expectQuatNear(rotationFromUp(Vector3{0, -1, 0}, q), Quaternion{0, 0, 0, 1}, 0.0f);
    expectQuatNear(rotationFromUp(Vector3{1, 0, 0}, q), Quaternion{std::cos(kPi / 4), 0, 0, -std::sin(kPi / 4)});
}

TEST(Math, SlerpTakesTheShorterArcAndStaysUnit)
{
    Quaternion q0, q1, mid, out;
    eulerToQuat(0, 0, 0.2f, q0);
    eulerToQuat(0, 0, 1.4f, q1);
    expectQuatNear(slerp(q0, q1, 0, out), q0);
    expectQuatNear(slerp(q0, q1, 1, out), q1);
    expectQuatNear(slerp(q0, q1, 0.5f, out), eulerToQuat(0, 0, 0.8f, mid));

    // The same rotation with opposite signs (exported Euler keys at ±180°):
    // every s gives that rotation, of unit length, never a spin or a shear.
    constexpr float kWrap = 179.99f * kPi / 180.0f;
    eulerToQuat(0.3f, 0, kWrap, q0);
    eulerToQuat(0.3f, 0, -kWrap, q1);
    ASSERT_LT(q0.w * q1.w + q0.x * q1.x + q0.y * q1.y + q0.z * q1.z, 0.0f);
    for (float s = 0.0f; s <= 1.0f; s += 0.1f) {
        slerp(q0, q1, s, out);
        EXPECT_NEAR(out.w * out.w + out.x * out.x + out.y * out.y + out.z * out.z, 1.0f, 1e-6f) << s;
        EXPECT_GT(out.w * q0.w + out.x * q0.x + out.y * q0.y + out.z * q0.z, 0.99999f) << s;
    }

    // The glTF clips' variant (weights in doubles, its own lerp threshold)
    // turns the same way, the shorter arc too, to a float's rounding.
    Quaternion apart;
    eulerToQuat(0, 0, 1.4f, apart);
    for (const Quaternion& to : {apart, q1}) {
        for (float s = 0.0f; s <= 1.0f; s += 0.125f) {
            Quaternion clips;
            quatNormalize(slerpInDoubles(q0, to, s, clips), clips);
            expectQuatNear(clips, slerp(q0, to, s, out), 1e-6f);
        }
    }

    // Keys closer than kEpsilon: a normalised straight line between them.
    Quaternion close;
    eulerToQuat(0, 0, 0.2f, q0);
    eulerToQuat(0, 0, 0.2f + 1e-5f, close);
    slerp(q0, close, 0.5f, out);
    EXPECT_GT(out.z, std::min(q0.z, close.z));
    EXPECT_LT(out.z, std::max(q0.z, close.z));
    // Exactly opposite signs: no angle at all, the rotation itself.
    expectQuatNear(slerp(q0, Quaternion{-q0.w, -q0.x, -q0.y, -q0.z}, 0.5f, out), q0);
    slerp(Quaternion{NAN, 0, 0, 0}, q1, 0.5f, out);
    EXPECT_EQ(out.z, q1.z);
}
