// fyrel-make-demo OUT.ms3d: writes the demo character, a jointed figure of
// boxes about 1.9 units tall with a looping one-second walk cycle, and its
// texture walker.png beside it: hair, face, shirt, belt, trousers and shoes.
//
// The figure is described below in the scene's frame: Z up, facing +Y, its
// right hand towards +X, the soles of its feet on z = 0. Every joint's bind
// rotation is zero; the walk is written as rotation keys about the joints' X
// axes (positive swings a hanging limb forward) plus a vertical drop of the
// pelvis that keeps the lower foot on the ground.
//
// The file holds it in Milkshape's own frame, Y up and facing −Z as real
// files do: scene (x, y, z) is written as (x, z, −y), which the importer's
// base transform turns back; the lowest vertex stands at height 0, so the
// ground offset is 0.
//
// Key times are seconds, 17 keys per joint at k/16 s; the last repeats the
// first, so the loop has no seam. Fyrel plays one second of key time per
// second, so the cycle takes one second, the same pace a path binding gives it
// at full speed. The file's frames-per-second is 1, which only Milkshape's
// editor uses.
//
// Every number is rounded to 1e-5 before it is stored, so the bytes do not
// depend on the last bit of the maths library.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/ms3d_writer.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

using fyrel::Ms3dFile;
using fyrel::Ms3dJoint;
using fyrel::Ms3dKey;
using fyrel::Ms3dTriangle;
using fyrel::Ms3dVertex;

constexpr int kKeyIntervals = 16;
constexpr double kCycleSeconds = 1.0;

float quantised(double v)
{
    const double q = std::round(v * 1e5) / 1e5;
    return static_cast<float>(q == 0.0 ? 0.0 : q);  // no negative zero
}

// A point or direction of the scene's frame in the file's: (x, z, −y).
void toFile(const double scene[3], float out[3])
{
    out[0] = quantised(scene[0]);
    out[1] = quantised(scene[2]);
    out[2] = quantised(-scene[1]);
}

// Rotation angles about the scene's X and Z axes in the file's X, Y, Z
// order. The scene's X is the file's x and the scene's Z the file's y, so
// Rz(z)·Rx(x) becomes Ry(z)·Rx(x), which the file's Rz·Ry·Rx order holds
// with no z turn. Turns about the scene's Y (the file's −z) would need
// another order; the walk has none.
void anglesToFile(const double scene[3], float out[3])
{
    if (scene[1] != 0.0) {
        throw std::logic_error("the demo's walk turns a joint about the scene's Y axis");
    }
    out[0] = quantised(scene[0]);
    out[1] = quantised(scene[2]);
    out[2] = 0.0f;
}

struct JointSpec {
    const char* name;
    const char* parent;
    double x, y, z;  // bind position relative to the parent
};

// Parents before children. The left side is -X.
const JointSpec kJoints[] = {
    {"pelvis", "", 0.0, 0.0, 0.98},
    {"spine", "pelvis", 0.0, 0.0, 0.10},
    {"chest", "spine", 0.0, 0.0, 0.22},
    {"neck", "chest", 0.0, 0.0, 0.24},
    {"head", "neck", 0.0, 0.0, 0.08},
    {"upper_arm_l", "chest", -0.25, 0.0, 0.20},
    {"lower_arm_l", "upper_arm_l", 0.0, 0.0, -0.29},
    {"hand_l", "lower_arm_l", 0.0, 0.0, -0.24},
    {"upper_arm_r", "chest", 0.25, 0.0, 0.20},
    {"lower_arm_r", "upper_arm_r", 0.0, 0.0, -0.29},
    {"hand_r", "lower_arm_r", 0.0, 0.0, -0.24},
    {"thigh_l", "pelvis", -0.10, 0.0, -0.06},
    {"shin_l", "thigh_l", 0.0, 0.0, -0.42},
    {"foot_l", "shin_l", 0.0, 0.0, -0.42},
    {"thigh_r", "pelvis", 0.10, 0.0, -0.06},
    {"shin_r", "thigh_r", 0.0, 0.0, -0.42},
    {"foot_r", "shin_r", 0.0, 0.0, -0.42},
};
constexpr int kJointCount = static_cast<int>(std::size(kJoints));

int jointIndex(const std::string& name)
{
    for (int i = 0; i < kJointCount; ++i) {
        if (name == kJoints[i].name) {
            return i;
        }
    }
    return -1;
}

// An axis-aligned box in bind-pose coordinates, moved by one joint.
struct BoxSpec {
    const char* joint;
    double min[3];
    double max[3];
};

const BoxSpec kBoxes[] = {
    {"pelvis", {-0.17, -0.10, 0.88}, {0.17, 0.10, 1.08}},
    {"spine", {-0.15, -0.09, 1.08}, {0.15, 0.09, 1.30}},
    {"chest", {-0.20, -0.11, 1.30}, {0.20, 0.11, 1.54}},
    {"neck", {-0.05, -0.05, 1.54}, {0.05, 0.05, 1.62}},
    {"head", {-0.10, -0.11, 1.62}, {0.10, 0.12, 1.88}},
    {"head", {-0.02, 0.12, 1.71}, {0.02, 0.16, 1.76}},  // nose: shows where the figure faces
    {"upper_arm_l", {-0.295, -0.045, 1.21}, {-0.205, 0.045, 1.52}},
    {"lower_arm_l", {-0.29, -0.04, 0.97}, {-0.21, 0.04, 1.21}},
    {"hand_l", {-0.28, -0.035, 0.84}, {-0.22, 0.045, 0.97}},
    {"upper_arm_r", {0.205, -0.045, 1.21}, {0.295, 0.045, 1.52}},
    {"lower_arm_r", {0.21, -0.04, 0.97}, {0.29, 0.04, 1.21}},
    {"hand_r", {0.22, -0.035, 0.84}, {0.28, 0.045, 0.97}},
    {"thigh_l", {-0.17, -0.07, 0.50}, {-0.03, 0.07, 0.92}},
    {"shin_l", {-0.16, -0.06, 0.08}, {-0.04, 0.06, 0.50}},
    {"foot_l", {-0.16, -0.06, 0.0}, {-0.04, 0.20, 0.08}},
    {"thigh_r", {0.03, -0.07, 0.50}, {0.17, 0.07, 0.92}},
    {"shin_r", {0.04, -0.06, 0.08}, {0.16, 0.06, 0.50}},
    {"foot_r", {0.04, -0.06, 0.0}, {0.16, 0.20, 0.08}},
};

// Adds the six faces of a box, four vertices each so that every face shades
// flat. Triangles are wound counter-clockwise as seen from outside, as
// Milkshape writes them: the face normals computed at import then point
// inward, and skinning, which negates normals, turns them outward again.
// ---- The texture -------------------------------------------------------------------
//
// One picture of the figure seen from the front, projected along Y onto every
// face: s from x across the figure's width, t from the top of the head down
// to the soles. Faces that look forward (+Y) take the left half, which has
// the face and the buckle; all others the right half, which has neither.

constexpr double kTop = 1.88;
constexpr double kHalfWidth = 0.30;
constexpr int kTextureWidth = 128;  // two halves of 64
constexpr int kTextureHeight = 256;

struct Rgb {
    unsigned char r, g, b;
};

Rgb clothing(double x, double z, bool front)
{
    const double ax = std::abs(x);
    if (z >= 1.84) {
        return {72, 48, 32};  // hair
    }
    if (z >= 1.54) {
        if (front && z >= 1.755 && z < 1.785 && ax >= 0.03 && ax < 0.065) {
            return {35, 35, 45};  // eyes
        }
        if (front && z >= 1.66 && z < 1.675 && ax < 0.035) {
            return {150, 70, 65};  // mouth
        }
        return {226, 168, 128};  // skin
    }
    if (ax >= 0.2) {
        return z >= 1.21 ? Rgb{70, 125, 165} : Rgb{226, 168, 128};  // sleeves, then forearms and hands
    }
    if (z >= 1.10) {
        const bool button = front && ax < 0.012 && std::fmod(z - 1.12, 0.08) < 0.015;
        return button ? Rgb{225, 225, 215} : Rgb{70, 125, 165};  // shirt
    }
    if (z >= 1.05) {
        return front && ax < 0.035 ? Rgb{210, 175, 70} : Rgb{60, 40, 28};  // buckle, belt
    }
    if (z >= 0.10) {
        return {55, 70, 115};  // trousers
    }
    return {45, 32, 26};  // shoes
}

std::vector<unsigned char> walkerTexture()
{
    std::vector<unsigned char> rgb;
    for (int row = 0; row < kTextureHeight; ++row) {
        const double z = kTop * (1.0 - (row + 0.5) / kTextureHeight);
        for (int column = 0; column < kTextureWidth; ++column) {
            const int half = kTextureWidth / 2;
            const double x = kHalfWidth * (2.0 * ((column % half) + 0.5) / half - 1.0);
            const Rgb c = clothing(x, z, column < half);
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    }
    return rgb;
}

// Where a point of a face lands in the texture; front faces in the left half.
void textureCoordinates(const double position[3], bool front, float& s, float& t)
{
    const double across = std::clamp((position[0] + kHalfWidth) / (2.0 * kHalfWidth), 0.0, 1.0);
    s = quantised(0.5 * across + (front ? 0.0 : 0.5));
    t = quantised(std::clamp((kTop - position[2]) / kTop, 0.0, 1.0));
}

void addBox(Ms3dFile& file, const BoxSpec& box)
{
    const auto bone = static_cast<std::int8_t>(jointIndex(box.joint));
    for (int axis = 0; axis < 3; ++axis) {
        const int u = (axis + 1) % 3;
        const int v = (axis + 2) % 3;
        for (int side = 0; side < 2; ++side) {
            // Corners counter-clockwise as seen from the outside of this face.
            const double uv[4][2] = {{box.min[u], box.min[v]},
                                     {side ? box.max[u] : box.min[u], side ? box.min[v] : box.max[v]},
                                     {box.max[u], box.max[v]},
                                     {side ? box.min[u] : box.max[u], side ? box.max[v] : box.min[v]}};
            const auto first = static_cast<std::uint16_t>(file.vertices.size());
            const bool front = axis == 1 && side == 1;
            float s[4], t[4];
            for (std::size_t k = 0; k < 4; ++k) {
                Ms3dVertex vertex;
                double position[3];
                position[axis] = side ? box.max[axis] : box.min[axis];
                position[u] = uv[k][0];
                position[v] = uv[k][1];
                textureCoordinates(position, front, s[k], t[k]);
                toFile(position, vertex.position);
                vertex.boneIndex = bone;
                vertex.referenceCount = 1;
                file.vertices.push_back(vertex);
            }
            const std::uint16_t corners[2][3] = {{0, 1, 2}, {0, 2, 3}};
            for (const auto& c : corners) {
                Ms3dTriangle triangle;
                double normal[3] = {0, 0, 0};
                normal[axis] = side ? 1.0 : -1.0;
                for (int k = 0; k < 3; ++k) {
                    triangle.indices[k] = static_cast<std::uint16_t>(first + c[k]);
                    toFile(normal, triangle.normals[k]);
                    triangle.s[k] = s[c[k]];
                    triangle.t[k] = t[c[k]];
                }
                file.triangles.push_back(triangle);
            }
        }
    }
}

// ---- The walk ------------------------------------------------------------------------

constexpr double kThighLength = 0.42;
constexpr double kShinLength = 0.42;

struct LegPose {
    double thigh;  // swing about X, forward positive
    double knee;   // bend, backward negative
    double foot;   // keeps the sole level
};

// phase in radians; the right leg swings forward through phase 0.
LegPose legPose(double phase)
{
    LegPose p;
    p.thigh = 0.45 * std::sin(phase);
    const double swing = (1.0 + std::cos(phase)) / 2.0;  // 1 in mid-swing, 0 in mid-stance
    p.knee = -0.55 * swing * swing;
    p.foot = -(p.thigh + p.knee);
    return p;
}

// Height of the ankle below the hip.
double legReach(const LegPose& p)
{
    return kThighLength * std::cos(p.thigh) + kShinLength * std::cos(p.thigh + p.knee);
}

struct Pose {
    double rotation[kJointCount][3] = {};
    double pelvisDrop = 0.0;
};

Pose walkPose(double phase)
{
    Pose pose;
    auto turn = [&](const char* joint, int axis, double angle) { pose.rotation[jointIndex(joint)][axis] = angle; };

    const LegPose right = legPose(phase);
    const LegPose left = legPose(phase + std::numbers::pi);
    turn("thigh_r", 0, right.thigh);
    turn("shin_r", 0, right.knee);
    turn("foot_r", 0, right.foot);
    turn("thigh_l", 0, left.thigh);
    turn("shin_l", 0, left.knee);
    turn("foot_l", 0, left.foot);

    // Arms swing against the legs on their side, elbows bend more in front.
    const double arm = 0.40 * std::sin(phase);
    turn("upper_arm_r", 0, -arm);
    turn("upper_arm_l", 0, arm);
    turn("lower_arm_r", 0, 0.20 + 0.30 * (1.0 - std::sin(phase)) / 2.0);
    turn("lower_arm_l", 0, 0.20 + 0.30 * (1.0 + std::sin(phase)) / 2.0);

    // The hips turn with the forward leg, the shoulders against them; the
    // upper body leans a little forward (negative X tips an upright segment
    // forward) and the head stays level.
    const double twist = 0.10 * std::sin(phase);
    turn("pelvis", 2, -twist);
    turn("spine", 0, -0.05);
    turn("chest", 2, 1.8 * twist);
    turn("head", 0, 0.05);
    turn("head", 2, -0.8 * twist);

    // The pelvis sinks so that the longer leg just reaches the ground.
    pose.pelvisDrop = kThighLength + kShinLength - std::max(legReach(right), legReach(left));
    return pose;
}

void addWalk(Ms3dFile& file)
{
    for (int k = 0; k <= kKeyIntervals; ++k) {
        const double time = kCycleSeconds * k / kKeyIntervals;
        const double phase = 2.0 * std::numbers::pi * (k % kKeyIntervals) / kKeyIntervals;
        const Pose pose = walkPose(phase);
        for (int j = 0; j < kJointCount; ++j) {
            Ms3dKey rotation;
            rotation.time = quantised(time);
            anglesToFile(pose.rotation[j], rotation.value);
            Ms3dKey translation;
            translation.time = rotation.time;
            if (j == 0) {
                const double drop[3] = {0.0, 0.0, -pose.pelvisDrop};
                toFile(drop, translation.value);
            }
            file.joints[static_cast<std::size_t>(j)].rotationKeys.push_back(rotation);
            file.joints[static_cast<std::size_t>(j)].translationKeys.push_back(translation);
        }
    }
}

Ms3dFile makeWalker()
{
    Ms3dFile file;
    for (const JointSpec& spec : kJoints) {
        Ms3dJoint joint;
        joint.name = spec.name;
        joint.parentName = spec.parent;
        const double position[3] = {spec.x, spec.y, spec.z};
        toFile(position, joint.position);
        file.joints.push_back(joint);
    }
    for (const BoxSpec& box : kBoxes) {
        addBox(file, box);
    }

    fyrel::Ms3dGroup body;
    body.name = "body";
    body.materialIndex = 0;
    for (std::size_t i = 0; i < file.triangles.size(); ++i) {
        body.triangles.push_back(static_cast<std::uint16_t>(i));
    }
    file.groups.push_back(body);

    // The colours are the texture's: the material only lights it.
    fyrel::Ms3dMaterial skin;
    skin.name = "walker";
    skin.texture = "walker.png";
    const float ambient[4] = {0.6f, 0.6f, 0.6f, 1.0f};
    const float diffuse[4] = {0.9f, 0.9f, 0.9f, 1.0f};
    const float specular[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    std::copy(ambient, ambient + 4, skin.ambient);
    std::copy(diffuse, diffuse + 4, skin.diffuse);
    std::copy(specular, specular + 4, skin.specular);
    skin.shininess = 16.0f;
    file.materials.push_back(skin);

    file.fps = 1.0f;
    file.currentTime = 0.0f;
    file.totalFrames = 1;
    addWalk(file);
    return file;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fyrel-make-demo OUT.ms3d\n");
        return 2;
    }
    try {
        fyrel::saveMs3d(makeWalker(), argv[1]);
        const std::string folder = std::filesystem::path(argv[1]).parent_path().string();
        const std::string texture = (folder.empty() ? std::string() : folder + "/") + "walker.png";
        const std::vector<unsigned char> pixels = walkerTexture();
        if (!stbi_write_png(texture.c_str(), kTextureWidth, kTextureHeight, 3, pixels.data(), 3 * kTextureWidth)) {
            throw std::runtime_error("cannot write " + texture);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fyrel-make-demo: %s\n", e.what());
        return 1;
    }
    return 0;
}
