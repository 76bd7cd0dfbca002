// The formats Assimp reads in the import worker: real files of
// assimp-testmodels through the whole path (worker, wire, checks), the
// worker's refusals, and the wire reader against damaged bytes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <type_traits>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/assimp/assimp_conversion.h"
#include "importers/assimp/import_worker.h"
#include "importers/assimp/model_wire.h"
#include "importers/model_formats.h"
#include "support/import_check.h"

using namespace fyrel;
using fyrel::test::DebugCapture;
using fyrel::test::failureOf;

namespace {

const std::string kModels = "/usr/share/assimp/models/";

struct Box {
    Vector3 low{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                std::numeric_limits<float>::infinity()};
    Vector3 high{-low.x, -low.y, -low.z};
    void grow(const Vector3& p)
    {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    Vector3 extent() const { return {high.x - low.x, high.y - low.y, high.z - low.z}; }
    float size() const { return length(extent()); }
};

// Under the base transform: the world's axes, before the program's lift.
Vector3 placed(const Model& m, const Vector3& p)
{
    Vector4 w;
    transform(m.baseTransform, {p.x, p.y, p.z, 1}, w);
    return {w.x, w.y, w.z};
}

void growByJoints(const Model& m, const Bone& bone, Box& box)
{
    box.grow(placed(m, {bone.worldMatrix(0, 3), bone.worldMatrix(1, 3), bone.worldMatrix(2, 3)}));
    for (const Bone& child : bone.children) {
        growByJoints(m, child, box);
    }
}

// The mesh as drawn (or the joints of a skeleton without one).
Box drawnBox(const Model& m)
{
    Box box;
    if (m.vertices.empty()) {
        growByJoints(m, m.rootBone, box);
    }
    for (const Vertex& v : m.hasSkin() ? m.skinnedVertices : m.vertices) {
        box.grow(placed(m, v.position));
    }
    return box;
}

void toRest(Bone& bone)
{
    bone.rotation = {};
    bone.translation = {};
    bone.scale = {1, 1, 1};
    for (Bone& child : bone.children) {
        toRest(child);
    }
}

std::size_t boneCount(const Bone& bone)
{
    std::size_t n = bone.name.empty() && bone.children.empty() && bone.weights.empty() ? 0 : 1;
    for (const Bone& child : bone.children) {
        n += boneCount(child);
    }
    return n;
}

// Files assimp-testmodels lacks, written once into a scratch folder: an MD5
// animation for its SimpleCube (25 frames at 24 a second, the bone joint1
// bending 60° about its own y), and its skinned, animated COLLADA box packed
// as a .zae (a zip archive, stored).
std::uint32_t crc32Of(const std::string& bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (const char ch : bytes) {
        crc ^= static_cast<std::uint8_t>(ch);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::string zipStored(const std::string& name, const std::string& data)
{
    std::string out;
    const auto u16 = [&](unsigned v) { out += static_cast<char>(v & 0xff), out += static_cast<char>(v >> 8 & 0xff); };
    const auto u32 = [&](std::uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    const std::uint32_t crc = crc32Of(data), size = static_cast<std::uint32_t>(data.size());
    u32(0x04034b50), u16(20), u16(0), u16(0), u16(0), u16(0x21), u32(crc), u32(size), u32(size);
    u16(static_cast<unsigned>(name.size())), u16(0);
    out += name + data;
    const std::uint32_t directory = static_cast<std::uint32_t>(out.size());
    u32(0x02014b50), u16(20), u16(20), u16(0), u16(0), u16(0), u16(0x21), u32(crc), u32(size), u32(size);
    u16(static_cast<unsigned>(name.size())), u16(0), u16(0), u16(0), u16(0), u32(0), u32(0);
    out += name;
    const std::uint32_t directorySize = static_cast<std::uint32_t>(out.size()) - directory;
    u32(0x06054b50), u16(0), u16(0), u16(1), u16(1), u32(directorySize), u32(directory), u16(0);
    return out;
}

std::string md5Anim()
{
    std::ostringstream a;
    a << "MD5Version 10\ncommandline \"\"\n\nnumFrames 25\nnumJoints 3\nframeRate 24\nnumAnimatedComponents 18\n\n"
         "hierarchy {\n\t\"origin\" -1 63 0\n\t\"root\" 0 63 6\n\t\"joint1\" 1 63 12\n}\n\nbounds {\n";
    for (int f = 0; f < 25; ++f) {
        a << "\t( -40 -40 -40 ) ( 40 40 80 )\n";
    }
    a << "}\n\n";
    // Each joint in its parent's frame (the mesh's joints are in the
    // model's): root as in the mesh, joint1 31.98 along root's x.
    const Quaternion root{-0.5001952911f, -0.5001951456f, 0.4998047054f, -0.4998047054f};
    const Quaternion joint1{-0.7073828827f, 0.0f, 0.0f, 0.7068305718f};
    const auto joint = [&](const Vector3& at, const Quaternion& q) {
        const float sign = q.w > 0 ? -1.0f : 1.0f;  // the file keeps x, y, z of the w ≤ 0 one
        a << at.x << ' ' << at.y << ' ' << at.z << ' ' << sign * q.x << ' ' << sign * q.y << ' ' << sign * q.z << ' ';
    };
    a << "baseframe {\n\t( 0 0 0 ) ( 0 0 0 )\n\t( 0 0 0 ) ( " << root.x << ' ' << root.y << ' ' << root.z
      << " )\n\t( 31.98034 0 0 ) ( " << joint1.x << ' ' << joint1.y << ' ' << joint1.z << " )\n}\n";
    for (int f = 0; f < 25; ++f) {
        const float half = 0.5f * (static_cast<float>(f) / 24.0f) * 1.0471976f;
        Quaternion bent;
        quatMul(joint1, Quaternion{std::cos(half), 0.0f, std::sin(half), 0.0f}, bent);
        a << "\nframe " << f << " {\n\t";
        joint({0, 0, 0}, {});
        joint({0, 0, 0}, root);
        joint({31.98034f, 0, 0}, bent);
        a << "\n}\n";
    }
    return a.str();
}

// An ASCII FBX file of two bones whose first, Hip, turns about a pivot half
// a unit above it after a pre-rotation of 90° about z, keyed in rotation
// (x 0, 45, 90° at 0, ½, 1 s; z 0 to 30°) and place (y 2, 2.5, 3 at 0, ¼,
// 1 s); Leg, a unit below, turns about y (0 to −40°). Assimp reads Hip as a
// chain of helper nodes, two of them keyed.
std::string fbxCurve(int id, const std::vector<std::pair<double, double>>& keys)
{
    const std::int64_t second = 46186158000;  // FBX time units
    std::ostringstream c;
    c << "\tAnimationCurve: " << id << ", \"AnimCurve::\", \"\" {\n\t\tDefault: 0\n\t\tKeyVer: 4008\n\t\tKeyTime: *"
      << keys.size() << " {\n\t\t\ta: ";
    for (std::size_t k = 0; k < keys.size(); ++k) {
        c << (k ? "," : "") << static_cast<std::int64_t>(keys[k].first * static_cast<double>(second));
    }
    c << "\n\t\t}\n\t\tKeyValueFloat: *" << keys.size() << " {\n\t\t\ta: ";
    for (std::size_t k = 0; k < keys.size(); ++k) {
        c << (k ? "," : "") << keys[k].second;
    }
    c << "\n\t\t}\n\t\tKeyAttrFlags: *1 {\n\t\t\ta: 8456\n\t\t}\n\t\tKeyAttrDataFloat: *4 {\n\t\t\ta: 0,0,0,0\n\t\t}\n"
      << "\t\tKeyAttrRefCount: *1 {\n\t\t\ta: " << keys.size() << "\n\t\t}\n\t}\n";
    return c.str();
}

std::string pivotFbx()
{
    const auto curveNode = [](int id, const char* kind, double y) {
        return "\tAnimationCurveNode: " + std::to_string(id) + ", \"AnimCurveNode::" + kind +
               "\", \"\" {\n\t\tProperties70:  {\n\t\t\tP: \"d|X\", \"Number\", \"\", \"A\",0\n\t\t\tP: \"d|Y\", "
               "\"Number\", \"\", \"A\"," + std::to_string(y) + "\n\t\t\tP: \"d|Z\", \"Number\", \"\", \"A\",0\n\t\t}\n\t}\n";
    };
    const auto limb = [](int id, const char* name, const std::string& properties) {
        return "\tNodeAttribute: " + std::to_string(id + 100) + ", \"NodeAttribute::\", \"LimbNode\" {\n\t\tTypeFlags: "
               "\"Skeleton\"\n\t}\n\tModel: " + std::to_string(id) + ", \"Model::" + name +
               "\", \"LimbNode\" {\n\t\tVersion: 232\n\t\tProperties70:  {\n" + properties + "\t\t}\n\t}\n";
    };
    std::string f = "; FBX 7.4.0 project file\nFBXHeaderExtension:  {\n\tFBXHeaderVersion: 1003\n\tFBXVersion: 7400\n}\n"
                    "GlobalSettings:  {\n\tVersion: 1000\n\tProperties70:  {\n"
                    "\t\tP: \"UpAxis\", \"int\", \"Integer\", \"\",1\n\t\tP: \"UnitScaleFactor\", \"double\", \"Number\", \"\",1\n"
                    "\t}\n}\nObjects:  {\n";
    f += limb(1000, "Hip",
              "\t\t\tP: \"RotationActive\", \"bool\", \"\", \"\",1\n"
              "\t\t\tP: \"PreRotation\", \"Vector3D\", \"Vector\", \"\",0,0,90\n"
              "\t\t\tP: \"RotationPivot\", \"Vector3D\", \"Vector\", \"\",0,0.5,0\n"
              "\t\t\tP: \"Lcl Translation\", \"Lcl Translation\", \"\", \"A\",0,2,0\n");
    f += limb(1001, "Leg", "\t\t\tP: \"Lcl Translation\", \"Lcl Translation\", \"\", \"A\",0,-1,0\n");
    f += "\tAnimationStack: 3000, \"AnimStack::Walk\", \"\" {\n\t}\n\tAnimationLayer: 3001, \"AnimLayer::BaseLayer\", "
         "\"\" {\n\t}\n";
    f += curveNode(3002, "R", 0) + curveNode(3004, "T", 2) + curveNode(3007, "R", 0);
    f += fbxCurve(3003, {{0, 0}, {0.5, 45}, {1, 90}}) + fbxCurve(3006, {{0, 0}, {1, 30}}) +
         fbxCurve(3005, {{0, 2}, {0.25, 2.5}, {1, 3}}) + fbxCurve(3008, {{0, 0}, {1, -40}});
    f += "}\nConnections:  {\n\tC: \"OO\",1000,0\n\tC: \"OO\",1001,1000\n\tC: \"OO\",1100,1000\n\tC: \"OO\",1101,1001\n"
         "\tC: \"OO\",3001,3000\n\tC: \"OO\",3002,3001\n\tC: \"OO\",3004,3001\n\tC: \"OO\",3007,3001\n"
         "\tC: \"OP\",3002,1000, \"Lcl Rotation\"\n\tC: \"OP\",3004,1000, \"Lcl Translation\"\n"
         "\tC: \"OP\",3007,1001, \"Lcl Rotation\"\n\tC: \"OP\",3003,3002, \"d|X\"\n\tC: \"OP\",3006,3002, \"d|Z\"\n"
         "\tC: \"OP\",3005,3004, \"d|Y\"\n\tC: \"OP\",3008,3007, \"d|Y\"\n}\n";
    return f;
}

const std::string& madeFolder()
{
    static const std::string folder = [] {
        const auto at = std::filesystem::temp_directory_path() / ("fyrel_assimp_" + std::to_string(::getpid()));
        std::filesystem::create_directories(at / "made");
        std::filesystem::copy_file(kModels + "MD5/SimpleCube.md5mesh", at / "made/SimpleCube.md5mesh",
                                   std::filesystem::copy_options::overwrite_existing);
        std::ofstream(at / "made/SimpleCube.md5anim") << md5Anim();
        std::ifstream box(kModels + "Collada/box_nested_animation.dae", std::ios::binary);
        const std::string dae((std::istreambuf_iterator<char>(box)), std::istreambuf_iterator<char>());
        std::ofstream(at / "made/box_nested_animation.zae", std::ios::binary) << zipStored("box.dae", dae);
        std::ofstream(at / "made/pivot.fbx") << pivotFbx();
        return at.string() + "/";
    }();
    static const struct Cleanup {
        ~Cleanup()
        {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    } cleanup;
    return folder;
}

// A row's file: under assimp-testmodels, or made above ("made/…").
std::string pathOf(const char* file)
{
    return (std::string(file).rfind("made/", 0) == 0 ? madeFolder() : kModels) + file;
}

struct Clip {
    const char* name;
    float seconds;
};

// Real files of every family. height: the model's height at rest in the
// world (z), which must also be the largest or a plain part of its box for
// the models that stand (upright).
struct Row {
    const char* file;
    std::size_t vertices, triangles, bones;
    std::vector<Clip> clips;
    float height;
    const char* note;  // a line the reading summary must hold, or null
};

const Row kRows[] = {
    {"FBX/huesitos.fbx", 256, 120, 12, {{"Armature|Action", 1.56f}}, 5.44f, "unit 1.000000 cm"},
    {"FBX/animation_with_skeleton.fbx", 4224, 2112, 17, {{"Armature|ArmatureAction", 0.833333f}}, 6.44f,
     "2883 vertices have more than four bone weights: the strongest four are kept, renormalised"},
    {"FBX/embedded_ascii/box.FBX", 24, 12, 0, {}, 1.2f, "1 textures carried in the file"},
    {"Collada/human.zae", 57592, 28796, 0, {}, 1.6594f, "1 textures carried in the file"},
    {"Collada/duck.dae", 8500, 4212, 0, {}, 1.5404f, nullptr},
    {"BVH/Boxing_Toes.bvh", 0, 0, 21, {{"Motion", 30.68f}}, 156.257f, nullptr},
    {"MD5/SimpleCube.md5mesh", 36, 12, 6, {}, 64.0f, nullptr},
    // With its .md5anim beside it: 24 frames' time at 24 a second.
    {"made/SimpleCube.md5mesh", 36, 12, 6, {{"Animation 0", 1.0f}}, 64.0f, nullptr},
    // The .md5anim alone: a skeleton (no stand-in mesh), joint1 31.98 above the origin.
    {"made/SimpleCube.md5anim", 0, 0, 4, {{"Animation 0", 1.0f}}, 31.9803f, nullptr},
    // A cube of side 2 on one bone, keyed for 40 frames at 24 a second.
    {"made/box_nested_animation.zae", 36, 12, 4, {{"Armature", 1.66667f}}, 2.0f, nullptr},
    {"SMD/WusonSMD.smd", 11196, 3732, 2, {{"Animation 0", 0.0f}}, 1.5158f, nullptr},
    {"B3D/WusonBlitz.b3d", 11196, 3732, 0, {}, 1.5158f, nullptr},
    {"IQM/mrfixit.iqm", 1861, 2988, 0, {}, 7.9032f, nullptr},
    {"OBJ/spider.obj", 4104, 1368, 0, {}, 79.738f, nullptr},
    {"PLY/cube.ply", 8, 12, 0, {}, 1.0f, nullptr},
    {"STL/Spider_binary.stl", 4104, 1368, 0, {}, 8.0f, nullptr},
    {"STL/Wuson.stl", 11196, 3732, 0, {}, 1.5158f, nullptr},  // its normals are zeros
    {"OFF/Cube.off", 8, 12, 0, {}, 1.0f, nullptr},
};

TEST(AssimpImport, RealFilesOfEveryFamilyKeepCountsClipsBonesAndStandUpright)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.file);
        DebugCapture summary;
        Model m = importModelFile(pathOf(row.file));
        EXPECT_EQ(m.vertices.size(), row.vertices);
        EXPECT_EQ(m.triangles.size(), row.triangles);
        EXPECT_EQ(boneCount(m.rootBone), row.bones);
        ASSERT_EQ(m.animator.animations.size(), row.clips.size());
        for (std::size_t c = 0; c < row.clips.size(); ++c) {
            EXPECT_EQ(m.animator.animations[c].name, row.clips[c].name);
            EXPECT_NEAR(m.animator.animations[c].length / m.animator.animations[c].ticksPerSecond, row.clips[c].seconds,
                        1e-3f);
        }
        if (row.note) {
            EXPECT_NE(summary.text().find(row.note), std::string::npos) << summary.text();
        }
        // Lit as the faces lie: nearly every corner's normal stands out of
        // its face's plane (to either side: some files wind their faces
        // against their normals). Not the boxes of eight corners, where no
        // one normal fits a corner's three faces.
        std::size_t corners = 0, standing = 0;
        for (const Triangle& t : m.triangles) {
            const Vector3 &a = m.vertices[t.indices[0]].position, &b = m.vertices[t.indices[1]].position,
                          &c = m.vertices[t.indices[2]].position;
            Vector3 u, w, face;
            cross(difference(b, a, u), difference(c, a, w), face);
            for (const std::uint32_t i : t.indices) {
                const Vector3& n = m.vertices[i].normal;
                corners += 1;
                standing += std::fabs(n.x * face.x + n.y * face.y + n.z * face.z) > 0.3f * length(face) ? 1 : 0;
            }
        }
        if (m.triangles.size() >= 100) {
            EXPECT_GE(standing, corners * 9 / 10) << "of " << corners << " corners";
        }
        // The face normals come from the worker: the ones the program makes.
        Model again;
        again.vertices = m.vertices;
        again.triangles = m.triangles;
        again.computeFaceNormals();
        std::size_t differing = 0;
        for (std::size_t t = 0; t < m.triangles.size(); ++t) {
            differing += std::memcmp(&again.triangles[t].normal, &m.triangles[t].normal, sizeof(Vector3)) != 0;
        }
        EXPECT_EQ(differing, 0u);
        // At rest the skinned mesh is the bind mesh.
        toRest(m.rootBone);
        updatePose(m);
        const Box rest = drawnBox(m);
        EXPECT_NEAR(rest.extent().z, row.height, 2e-3f * row.height);
        if (m.hasSkin()) {
            float worst = 0;
            for (std::size_t v = 0; v < m.vertices.size(); ++v) {
                Vector3 d;
                worst = std::max(worst, length(difference(m.skinnedVertices[v].position, m.vertices[v].position, d)));
            }
            EXPECT_LE(worst, 1e-4f * rest.size());
        }
        // Halfway through every clip the model keeps its size and place.
        for (std::size_t c = 0; c < m.animator.animations.size(); ++c) {
            Model posed(m);
            posed.animator.current = static_cast<std::int32_t>(c);
            posed.animator.time = 0;
            updateAnimator(posed, 0.5f * row.clips[c].seconds);
            updatePose(posed);
            const Box box = drawnBox(posed);
            EXPECT_TRUE(std::isfinite(box.size())) << "clip " << c;
            EXPECT_GT(box.size(), 0.3f * rest.size()) << "clip " << c;
            EXPECT_LT(box.size(), 3.0f * rest.size()) << "clip " << c;
        }
    }
}

// Assimp's node tree at a time of one of its animations: each node's
// transform from its channel's keys (places and scales as lines, rotations
// by slerp, the first or last key outside them) or its own, composed from
// the root; by node name.
template <typename Key, typename Value>
Value keyedAt(const Key* keys, unsigned count, double ticks, Value value)
{
    if (!keys || count == 0) {
        return value;
    }
    unsigned i = 0;
    while (i + 1 < count && keys[i + 1].mTime <= ticks) {
        ++i;
    }
    if (i + 1 == count || ticks <= keys[i].mTime) {
        return keys[i].mValue;
    }
    const float f = static_cast<float>((ticks - keys[i].mTime) / (keys[i + 1].mTime - keys[i].mTime));
    if constexpr (std::is_same_v<Value, aiQuaternion>) {
        aiQuaternion q;
        aiQuaternion::Interpolate(q, keys[i].mValue, keys[i + 1].mValue, f);
        return q.Normalize();
    } else {
        return keys[i].mValue + (keys[i + 1].mValue - keys[i].mValue) * f;
    }
}

void assimpGlobals(const aiNode& node, const aiMatrix4x4& parent, const aiAnimation& clip, double ticks,
                   std::map<std::string, aiMatrix4x4>& out)
{
    aiMatrix4x4 local = node.mTransformation;
    for (unsigned c = 0; c < clip.mNumChannels; ++c) {
        const aiNodeAnim& ch = *clip.mChannels[c];
        if (ch.mNodeName == node.mName) {
            aiVector3D scale, place;
            aiQuaternion turn;
            local.Decompose(scale, turn, place);
            local = aiMatrix4x4(keyedAt(ch.mScalingKeys, ch.mNumScalingKeys, ticks, scale),
                                keyedAt(ch.mRotationKeys, ch.mNumRotationKeys, ticks, turn),
                                keyedAt(ch.mPositionKeys, ch.mNumPositionKeys, ticks, place));
            break;
        }
    }
    const aiMatrix4x4 global = parent * local;
    out.try_emplace(node.mName.C_Str(), global);
    for (unsigned i = 0; i < node.mNumChildren; ++i) {
        assimpGlobals(*node.mChildren[i], global, clip, ticks, out);
    }
}

// Through its first clip every bone is where Assimp's node tree puts its
// node: folding the FBX pivot helpers into their bone (keyed helpers
// included), keys made relative to the rest transforms and nodes that are
// no bones left out move none of them, at key times and between.
TEST(AssimpImport, BonesFollowAssimpsNodeTreeThroughTheirClips)
{
    struct Case {
        const char* file;
        bool keyedHelpers;  // Assimp keys FBX pivot helpers of it
    };
    const Case cases[] = {
        {"made/pivot.fbx", true},
        {"FBX/huesitos.fbx", false},
        {"FBX/animation_with_skeleton.fbx", false},
        {"made/box_nested_animation.zae", false},
        {"made/SimpleCube.md5mesh", false},
        {"made/SimpleCube.md5anim", false},
        {"BVH/Boxing_Toes.bvh", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Assimp::Importer importer;
        prepareAssimpImporter(importer);
        const aiScene* scene = importer.ReadFile(pathOf(c.file), assimpReadFlags());
        ASSERT_TRUE(scene && scene->mNumAnimations > 0 && scene->mRootNode);
        const aiAnimation& clip = *scene->mAnimations[0];
        bool helpers = false;
        for (unsigned ch = 0; ch < clip.mNumChannels; ++ch) {
            helpers = helpers || std::strstr(clip.mChannels[ch]->mNodeName.C_Str(), "$AssimpFbx$") != nullptr;
        }
        EXPECT_EQ(helpers, c.keyedHelpers);
        const double rate = clip.mTicksPerSecond > 0 ? clip.mTicksPerSecond : kAssimpDefaultTicksPerSecond;
        Model m = importModelFile(pathOf(c.file));
        ASSERT_FALSE(m.animator.animations.empty());
        // From the first key on: before it Assimp's channels hold their
        // first key, which the program's clips do not promise.
        const Animation& played = m.animator.animations[0];
        float first = played.length;
        for (const std::vector<KeyFrame>& track : played.tracks) {
            first = std::min(first, track.front().time);
        }
        float reach = 0, worst = 0, worstTurn = 0;
        for (int k = 0; k < 16; ++k) {
            const float t = (first + (played.length - first) * static_cast<float>(k) / 16.0f) / played.ticksPerSecond;
            Model posed(m);
            posed.animator.current = 0;
            posed.animator.time = 0;
            updateAnimator(posed, t);
            updatePose(posed);
            std::map<std::string, aiMatrix4x4> globals;
            assimpGlobals(*scene->mRootNode, aiMatrix4x4(), clip, t * rate, globals);
            std::vector<const Bone*> bones;
            listBones(posed.rootBone, bones);
            for (const Bone* bone : bones) {
                const auto found = globals.find(bone->name);
                ASSERT_NE(found, globals.end()) << bone->name;
                const float* a = &found->second.a1;
                for (int r = 0; r < 3; ++r) {
                    reach = std::max(reach, std::fabs(a[4 * r + 3]));
                    worst = std::max(worst, std::fabs(a[4 * r + 3] - bone->worldMatrix(r, 3)));
                    for (int col = 0; col < 3; ++col) {
                        worstTurn = std::max(worstTurn, std::fabs(a[4 * r + col] - bone->worldMatrix(r, col)));
                    }
                }
            }
        }
        EXPECT_LE(worst, 2e-4f * reach);
        EXPECT_LE(worstTurn, 2e-4f);
    }
}

aiNode* node(const char* name, const aiVector3D& at, std::vector<aiNode*> children = {})
{
    aiNode* n = new aiNode(name);
    n->mTransformation = aiMatrix4x4(aiVector3D(1, 1, 1), aiQuaternion(), at);
    if (!children.empty()) {
        n->addChildren(static_cast<unsigned>(children.size()), children.data());
    }
    return n;
}

// An FBX scene as Assimp builds it when a bone has a pivot: a helper node
// above the bone, keyed itself. Root → Hip_$AssimpFbx$_Translation (at y 1,
// keyed to y 2 at tick 25) → Hip → Leg (y −0.5); one triangle, wholly Leg's
// (bound with Leg at the origin: offset identity), held by Root; no ticks per
// second.
TEST(AssimpImport, PivotHelpersFoldIntoTheirBoneAndDriveIt)
{
    aiScene scene;
    scene.mRootNode = node("Root", {0, 0, 0},
                           {node("Hip_$AssimpFbx$_Translation", {0, 1, 0},
                                 {node("Hip", {0, 0, 0}, {node("Leg", {0, -0.5f, 0})})})});
    scene.mRootNode->mNumMeshes = 1;
    scene.mRootNode->mMeshes = new unsigned[1]{0};
    scene.mNumMeshes = 2;
    scene.mMeshes = new aiMesh*[2]{new aiMesh, new aiMesh};
    for (aiMesh* each : {scene.mMeshes[0], scene.mMeshes[1]}) {
        each->mNumVertices = 3;
        each->mVertices = new aiVector3D[3]{{0, 0.5f, 0}, {1, 0.5f, 0}, {0, 0.5f, 1}};
        each->mNumFaces = 1;
        each->mFaces = new aiFace[1];
        each->mFaces[0].mNumIndices = 3;
        each->mFaces[0].mIndices = new unsigned[3]{0, 1, 2};
    }
    aiNode* leg = scene.mRootNode->mChildren[0]->mChildren[0]->mChildren[0];
    leg->mNumMeshes = 1;  // the second, unskinned, rides on the leg
    leg->mMeshes = new unsigned[1]{1};
    aiMesh& mesh = *scene.mMeshes[0];
    mesh.mNumBones = 1;
    mesh.mBones = new aiBone*[1]{new aiBone};
    mesh.mBones[0]->mName = "Leg";
    mesh.mBones[0]->mNumWeights = 3;
    mesh.mBones[0]->mWeights = new aiVertexWeight[3]{{0, 1}, {1, 1}, {2, 1}};
    scene.mNumAnimations = 1;
    scene.mAnimations = new aiAnimation*[1]{new aiAnimation};
    aiAnimation& clip = *scene.mAnimations[0];
    clip.mNumChannels = 1;
    clip.mChannels = new aiNodeAnim*[1]{new aiNodeAnim};
    clip.mChannels[0]->mNodeName = "Hip_$AssimpFbx$_Translation";
    clip.mChannels[0]->mNumPositionKeys = 2;
    clip.mChannels[0]->mPositionKeys = new aiVectorKey[2]{{0.0, {0, 1, 0}}, {25.0, {0, 2, 0}}};

    std::vector<std::string> notes;
    Model m = convertAssimpScene(scene, "pivots.fbx", "fbx", notes);
    std::vector<const Bone*> bones;
    listBones(m.rootBone, bones);
    ASSERT_EQ(bones.size(), 3u);
    EXPECT_EQ(bones[1]->name, "Hip");
    EXPECT_EQ(bones[1]->localMatrix(1, 3), 1.0f);  // the helper's place, folded in
    ASSERT_EQ(m.animator.animations.size(), 1u);
    EXPECT_EQ(m.animator.animations[0].length, 1.0f);  // 25 ticks at the default 25 a second
    EXPECT_NE(std::find(notes.begin(), notes.end(), "an animation gives no ticks per second: read at 25"),
              notes.end());
    EXPECT_EQ(m.vertices[1].position.x, 1.0f);
    EXPECT_EQ(m.vertices[1].position.y, 1.0f);  // at rest: where the leg's rest transform puts it
    m.animator.time = 0;
    updateAnimator(m, 0.5f);
    updatePose(m);
    EXPECT_NEAR(m.skinnedVertices[1].position.y, 1.5f, 1e-5f);  // the helper's keys move the leg's mesh
    EXPECT_NEAR(m.skinnedVertices[1].position.x, 1.0f, 1e-5f);
    EXPECT_EQ(m.vertices[4].position.y, 1.0f);  // the leg's own mesh, placed by the leg at rest
    EXPECT_NEAR(m.skinnedVertices[4].position.y, 1.5f, 1e-5f);  // and following it
}

// Normals Assimp leaves without a direction (zero, or no array at all) come
// from the faces that use the vertex, each as large as its face; the ones
// it gives are kept. Two faces of the same area on the edge v0–v1: A
// (v0, v1, v2) facing +z, B (v1, v0, v3) facing +y (counter-clockwise is
// the front, as Assimp has it). Either sharing the edge's corners, or each
// face with corners of its own, in order (as Assimp's STL reader gives
// them: A is 0, 1, 2 and B 3, 4, 5).
TEST(AssimpImport, NormalsWithoutDirectionComeFromTheirFaces)
{
    const float h = std::sqrt(0.5f);
    const aiVector3D p0{0, 0, 0}, p1{1, 0, 0}, p2{0, 1, 0}, p3{0.5f, 0, 1};
    const aiVector3D zero{0, 0, 0}, x{1, 0, 0};
    struct Case {
        const char* what;
        bool array;                       // Assimp has normals
        std::vector<aiVector3D> points;
        std::vector<aiVector3D> normals;  // when it has
        std::vector<unsigned> corners;    // of the two faces
        std::vector<Vector3> expected;
    };
    const Case cases[] = {
        {"shared, all zero", true, {p0, p1, p2, p3}, {zero, zero, zero, zero}, {0, 1, 2, 1, 0, 3},
         {{0, h, h}, {0, h, h}, {0, 0, 1}, {0, 1, 0}}},
        {"shared, one given", true, {p0, p1, p2, p3}, {zero, zero, x, zero}, {0, 1, 2, 1, 0, 3},
         {{0, h, h}, {0, h, h}, {1, 0, 0}, {0, 1, 0}}},
        {"shared, none", false, {p0, p1, p2, p3}, {}, {0, 1, 2, 1, 0, 3}, {{0, h, h}, {0, h, h}, {0, 0, 1}, {0, 1, 0}}},
        // Three vertices a face, as own corners have, but shared: the two in
        // no face point up.
        {"shared, two in no face", true, {p0, p1, p2, p3, p2, p3}, std::vector<aiVector3D>(6, zero),
         {0, 1, 2, 1, 0, 3}, {{0, h, h}, {0, h, h}, {0, 0, 1}, {0, 1, 0}, {0, 0, 1}, {0, 0, 1}}},
        {"own corners, all zero", true, {p0, p1, p2, p1, p0, p3}, std::vector<aiVector3D>(6, zero),
         {0, 1, 2, 3, 4, 5}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}}},
        {"own corners, one given", true, {p0, p1, p2, p1, p0, p3}, {zero, zero, x, zero, zero, zero},
         {0, 1, 2, 3, 4, 5}, {{0, 0, 1}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        aiScene scene;
        scene.mRootNode = node("Root", {0, 0, 0});
        scene.mRootNode->mNumMeshes = 1;
        scene.mRootNode->mMeshes = new unsigned[1]{0};
        scene.mNumMeshes = 1;
        scene.mMeshes = new aiMesh*[1]{new aiMesh};
        aiMesh& mesh = *scene.mMeshes[0];
        const unsigned n = static_cast<unsigned>(c.points.size());
        mesh.mNumVertices = n;
        mesh.mVertices = new aiVector3D[n];
        std::copy(c.points.begin(), c.points.end(), mesh.mVertices);
        if (c.array) {
            mesh.mNormals = new aiVector3D[n];
            std::copy(c.normals.begin(), c.normals.end(), mesh.mNormals);
        }
        mesh.mNumFaces = 2;
        mesh.mFaces = new aiFace[2];
        for (int f = 0; f < 2; ++f) {
            mesh.mFaces[f].mNumIndices = 3;
            mesh.mFaces[f].mIndices = new unsigned[3]{c.corners[3 * f], c.corners[3 * f + 1], c.corners[3 * f + 2]};
        }
        std::vector<std::string> notes;
        const Model m = convertAssimpScene(scene, "normals.obj", "obj", notes);
        ASSERT_EQ(m.vertices.size(), c.expected.size());
        for (std::size_t v = 0; v < c.expected.size(); ++v) {
            EXPECT_NEAR(m.vertices[v].normal.x, c.expected[v].x, 1e-6f) << v;
            EXPECT_NEAR(m.vertices[v].normal.y, c.expected[v].y, 1e-6f) << v;
            EXPECT_NEAR(m.vertices[v].normal.z, c.expected[v].z, 1e-6f) << v;
        }
    }
}

// The worker's failures are messages naming the file; the program goes on.
TEST(AssimpImport, TheWorkersCrashesLimitsAndRefusalsAreMessagesNamingTheFile)
{
    const std::string fbx = kModels + "FBX/huesitos.fbx";
    struct Case {
        const char* fault;  // FYREL_WORKER_FAULT, or null
        std::string file;
        ImportWorkerLimits limits;
        const char* message;
    };
    const Case cases[] = {
        {"crash", fbx, {}, "cannot be read: the reader crashed on it (signal 11"},
        {"hang", fbx, {1.0, std::uint64_t{4} << 30}, "cannot be read: reading it took longer than 1 s"},
        {"hog", fbx, {60.0, std::uint64_t{256} << 20}, "cannot be read: reading it needs more than 256 MiB of memory"},
        {nullptr, kModels + "invalid/OutOfMemory.off", {60.0, std::uint64_t{512} << 20},
         "cannot be read: reading it needs more than 512 MiB of memory"},
        {nullptr, kModels + "invalid/malformed.obj", {}, "cannot be read: OBJ: Invalid face index."},
        {nullptr, kModels + "invalid/empty.md5mesh", {}, "cannot be read: Failed to read valid contents"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + (c.fault ? std::string(" with ") + c.fault : std::string()));
#ifdef FYREL_NO_MEMORY_LIMIT
        if (std::string(c.message).find("of memory") != std::string::npos) {
            continue;  // a sanitizer build's worker has no memory limit (importers/CMakeLists.txt)
        }
#endif
        if (c.fault) {
            setenv("FYREL_WORKER_FAULT", c.fault, 1);
        }
        const std::string failure = failureOf([&] { importThroughWorker(c.file, c.limits); });
        unsetenv("FYREL_WORKER_FAULT");
        EXPECT_EQ(failure.rfind("\"" + c.file + "\" " + c.message, 0), 0u) << failure;
    }
    // A waiter that cancels stops the worker at once.
    setenv("FYREL_WORKER_FAULT", "hang", 1);
    const ImportWaiter before = setImportWaiter([](double, float) { return false; });
    EXPECT_THROW(importThroughWorker(fbx), ImportCancelled);
    setImportWaiter(before);
    unsetenv("FYREL_WORKER_FAULT");
    EXPECT_EQ(importThroughWorker(fbx).vertices.size(), 256u);  // and the next import works
}

// What a subverted worker could hand back: every cut of a real model's
// bytes, and each of its indices and counts spoiled, is refused by name; a
// face normal of the wrong length is made again.
TEST(AssimpImport, TheWireReaderRefusesCutAndSpoiledBytes)
{
    const std::vector<std::uint8_t> wire = readWithAssimp(kModels + "FBX/huesitos.fbx", {});
    EXPECT_EQ(readModelWire(wire.data(), wire.size(), "w").model.vertices.size(), 256u);
    for (std::size_t cut = 0; cut < wire.size(); cut += 1 + cut / 64) {
        const std::string failure = failureOf([&] { readModelWire(wire.data(), cut, "w.fbx"); });
        EXPECT_EQ(failure.rfind("\"w.fbx\" cannot be read: the import worker's result ", 0), 0u) << cut;
    }
    // The places of a few fields of this model: the first triangle's first
    // index, the second bone's parent, the first key's time.
    Model m = readModelWire(wire.data(), wire.size(), "w").model;
    const std::vector<std::uint8_t> alone = writeModelWire(m, {});
    const std::size_t notes = wire.size() - alone.size();
    const std::size_t materials = alone.size() - writeModelWire([&] {
                                                         Model n = m;
                                                         n.materials.clear();
                                                         return n;
                                                     }(),
                                                     {}).size();
    const std::size_t triangles = 4 + 4 + 64 + 4 + 4 + materials + 4 + 24 * 256 + 4 + 8 * m.texCoords.size() + 4;
    struct Spoil {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        const char* message;
    };
    const Spoil spoils[] = {
        {"a vertex index", notes + triangles, 256, "has a triangle naming vertex 256 of 256"},
        {"a material index", notes + triangles + 24, 7, "has a triangle naming material 7"},
        {"the vertex count", notes + triangles - 4 - 8 * m.texCoords.size() - 4 - 24 * 256 - 4, 0x7fffffff,
         "is cut off in the vertices"},
        {"the magic", 0, 0, "does not begin as one"},
    };
    for (const Spoil& s : spoils) {
        SCOPED_TRACE(s.what);
        std::vector<std::uint8_t> bad = wire;
        std::memcpy(bad.data() + s.at, &s.value, 4);
        EXPECT_NE(failureOf([&] { readModelWire(bad.data(), bad.size(), "w"); }).find(s.message), std::string::npos);
    }
    // Models a worker could write that name what is not there.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Wrong {
        const char* what;
        std::function<void(Model&)> spoil;
        const char* message;
    };
    const Wrong wrongs[] = {
        {"a key of a bone that is not there", [](Model& w) { w.animator.animations[0].tracks[0][0].boneIndex = 99; },
         "has a track of bone 99 of 12"},
        {"keys going back in time", [](Model& w) {
             std::vector<KeyFrame>& track = w.animator.animations[0].tracks[0];
             track.front().time = track.back().time + 1.0f;
         },
         "has key times that do not ascend in clip \"Armature|Action\""},
        {"a vertex that is not a number", [&](Model& w) { w.vertices[7].position.y = nan; },
         "has a number that is not finite in the vertices"},
        {"a weight that is not a number", [&](Model& w) { w.rootBone.children[0].weights.push_back({3, nan}); },
         "has a number that is not finite in a bone's weights"},
        {"a weight of a vertex that is not there",
         [](Model& w) { w.rootBone.children[0].weights.insert(w.rootBone.children[0].weights.begin(), {256, 0.5f}); },
         "has a weight of vertex 256 of 256"},
        {"a key that is infinite", [](Model& w) {
             w.animator.animations[0].tracks[0][1].translation.z = std::numeric_limits<float>::infinity();
         },
         "has a number that is not finite in a key"},
        {"the last texture coordinate infinite", [](Model& w) {
             w.texCoords.back().t = -std::numeric_limits<float>::infinity();
         },
         "has a number that is not finite in the texture coordinates"},
        {"a bone that cannot be undone", [](Model& w) { w.rootBone.children[0].localMatrix = Matrix4{{}}; },
         "whose transform cannot be undone (scale 0)"},
    };
    for (const Wrong& w : wrongs) {
        SCOPED_TRACE(w.what);
        Model spoilt = m;
        w.spoil(spoilt);
        const std::vector<std::uint8_t> bytes = writeModelWire(spoilt, {});
        EXPECT_NE(failureOf([&] { readModelWire(bytes.data(), bytes.size(), "w"); }).find(w.message), std::string::npos);
    }
    // A face normal of another length than one or none (twice too long, not
    // a number) is made again from the positions, as the worker made it.
    Model spoilt = m;
    spoilt.triangles.front().normal.x *= 2.0f;
    spoilt.triangles.back().normal.z = nan;
    const std::vector<std::uint8_t> bytes = writeModelWire(spoilt, {});
    const Model back = readModelWire(bytes.data(), bytes.size(), "w").model;
    for (const std::size_t t : {std::size_t{0}, m.triangles.size() - 1}) {
        EXPECT_EQ(std::memcmp(&back.triangles[t].normal, &m.triangles[t].normal, sizeof(Vector3)), 0) << t;
    }
}

}  // namespace
