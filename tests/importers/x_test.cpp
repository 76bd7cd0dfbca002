// The .X importer on files written here in the text syntax. Other encodings,
// damaged and hostile files are regression files (tests/data/x, read by
// hostile_test against their manifest).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "importers/x/x_importer.h"
#include "importers/x/x_reader.h"
#include "animation/pose.h"
#include "animation/sampling.h"
#include "support/import_check.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

// Writers of .X text, every value followed by a space (separators are
// optional). Files in the binary and compressed encodings are regression
// files of tests/data/x.
std::string xText(const std::string& body)
{
    return "xof 0303txt 0032\n" + body;
}

template <typename T>
std::string words(const std::vector<T>& values)
{
    std::ostringstream s;
    s.precision(9);
    for (const T& v : values) {
        s << v << " ";
    }
    return s.str();
}

std::string xMesh(const std::string& name, const std::vector<float>& xyz,
                  const std::vector<std::vector<std::uint32_t>>& faces, const std::string& inner = "")
{
    std::string s = "Mesh " + name + " { " + std::to_string(xyz.size() / 3) + " " + words(xyz);
    s += std::to_string(faces.size()) + " ";
    for (const auto& face : faces) {
        s += std::to_string(face.size()) + " " + words(face);
    }
    return s + inner + "}\n";
}

// A mesh of n vertices along the x axis.
std::string xLineMesh(const std::string& name, std::uint32_t n, const std::vector<std::vector<std::uint32_t>>& faces,
                      const std::string& inner = "")
{
    std::vector<float> xyz;
    for (std::uint32_t i = 0; i < n; ++i) {
        xyz.insert(xyz.end(), {static_cast<float>(i), 0.5f, 0.25f});
    }
    return xMesh(name, xyz, faces, inner);
}

// Weights of the bone, whose offset is a translation.
std::string xSkinWeights(const std::string& bone, const std::vector<std::uint32_t>& vertices,
                         const std::vector<float>& weights, float tx = 0, float ty = 0, float tz = 0)
{
    return "SkinWeights { \"" + bone + "\" " + std::to_string(vertices.size()) + " " + words(vertices) +
           words(weights) + "1 0 0 0 0 1 0 0 0 0 1 0 " + words(std::vector<float>{tx, ty, tz}) + "1 }\n";
}

std::string xTranslation(float x, float y, float z)
{
    return "FrameTransformMatrix { 1 0 0 0 0 1 0 0 0 0 1 0 " + words(std::vector<float>{x, y, z}) + "1 }\n";
}

// The file writes m (column vectors here) for row vectors: transposed.
std::string xMatrix(const char* object, const Matrix4& m)
{
    std::vector<float> values;
    for (int i = 0; i < 16; ++i) {
        values.push_back(m(i % 4, i / 4));
    }
    return std::string(object) + " " + words(values);
}

std::string repeated(const std::string& piece, std::size_t times)
{
    std::string s;
    for (std::size_t i = 0; i < times; ++i) {
        s += piece;
    }
    return s;
}


// The rest pose of a skinned model (a copy without its clips, advanced by
// one second and posed): every skinned vertex where the file put it, within
// 1e-4 of the model's size, and every joint inside the mesh's box grown by a
// tenth on each side. (Its clips' poses are the animation tests' business.)
void expectRestsOnItsMesh(const Model& imported)
{
    Model m(imported);
    m.animator.animations.clear();
    updateAnimator(m, 1.0f);
    updatePose(m);
    ASSERT_TRUE(m.hasSkin());
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (const Vertex& v : m.vertices) {
        const float p[3] = {v.position.x, v.position.y, v.position.z};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    const float size = length(Vector3{hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        Vector3 d;
        ASSERT_LT(length(difference(m.skinnedVertices[i].position, m.vertices[i].position, d)), 1e-4f * size)
            << "vertex " << i;
    }
    std::vector<const Bone*> open{&m.rootBone};
    while (!open.empty()) {
        const Bone* b = open.back();
        open.pop_back();
        for (int a = 0; a < 3; ++a) {
            const float margin = 0.1f * (hi[a] - lo[a]);
            EXPECT_GE(b->worldMatrix(a, 3), lo[a] - margin) << "joint " << b->name << " axis " << a;
            EXPECT_LE(b->worldMatrix(a, 3), hi[a] + margin) << "joint " << b->name << " axis " << a;
        }
        for (const Bone& c : b->children) {
            open.push_back(&c);
        }
    }
}

std::string frame(const std::string& name, const std::string& inner)
{
    return "Frame " + name + " {\n" + inner + "}\n";
}

// Root with child A (4 vertices, 2 faces) and A's sibling B (3 vertices, 1 face).
std::string twoMeshBody()
{
    return frame("Root", frame("A", xMesh("MA", {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {{0, 1, 2}, {0, 2, 3}})) +
                             frame("B", xMesh("MB", {5, 0, 0, 6, 0, 0, 5, 1, 0}, {{0, 1, 2}})));
}

// A skeleton frame tree, and a body whose mesh is weighted to two of its
// bones, each with its own offset.
std::string skinnedBody()
{
    const std::string skin = xSkinWeights("Hip", {0, 1}, {1.0f, 0.5f}, -1, -2, -3) +
                             xSkinWeights("Knee", {1, 2}, {0.5f, 1.0f}, 0, 0, -4);
    return frame("Skeleton", xTranslation(0, 0, 0) +
                                 frame("Hip", xTranslation(1, 2, 3) + frame("Knee", xTranslation(0, 0, 1)))) +
           frame("Body", xLineMesh("BodyMesh", 3, {{0, 1, 2}}, "XSkinMeshHeader { 2; 2; 2; }\n" + skin));
}

// A static figure two units tall as a modelling tool exports it: meshes in
// frames that place them, and the tool's camera frames (holding nothing, far
// from the figure) beside them.
std::string cameraBody()
{
    std::string cameras;
    for (const char* name : {"side", "front", "top", "persp"}) {
        cameras += frame(name, xTranslation(150, 20, -150) + frame(std::string(name) + "Target", ""));
    }
    return frame("Scene", frame("Figure", xTranslation(0, 1, 0) +
                                              xMesh("Trunk", {-0.5f, -1, 0, 0.5f, -1, 0, 0, 0.5f, 0}, {{0, 1, 2}}) +
                                              frame("Head", xTranslation(0, 0.5f, 0) +
                                                                xMesh("Face", {-0.2f, 0, 0, 0.2f, 0, 0, 0, 0.5f, 0},
                                                                      {{0, 1, 2}})) +
                                              frame("Empty", "")) +
                                cameras + frame("Legs", xMesh("Feet", {-0.5f, 0, 0.2f, 0.5f, 0, 0.2f, 0, 0, -0.2f},
                                                              {{0, 1, 2}})));
}

// "Root(A(C) B)": names, children in parentheses.
std::string treeOf(const Bone& b)
{
    std::string s = b.name;
    for (std::size_t i = 0; i < b.children.size(); ++i) {
        s += (i ? " " : "(") + treeOf(b.children[i]) + (i + 1 == b.children.size() ? ")" : "");
    }
    return s;
}

std::string trianglesOf(const Model& m)
{
    std::ostringstream s;
    for (const Triangle& t : m.triangles) {
        s << (&t == &m.triangles[0] ? "" : ",") << t.indices[0] << " " << t.indices[1] << " " << t.indices[2];
    }
    return s.str();
}

std::string weightsOf(const Bone* b)
{
    std::ostringstream s;
    for (std::size_t i = 0; b && i < b->weights.size(); ++i) {
        s << (i ? " " : "") << b->weights[i].vertex << ":" << b->weights[i].weight;
    }
    return s.str();
}

Model load(const std::string& body)
{
    DebugCapture quiet;
    const std::string file = xText(body);
    return XImporter().loadFromMemory(dataOf(file), file.size(), "test.x");
}

}  // namespace

TEST(XImporter, FramesBecomeBonesAndTheirMeshesOneMeshInFileOrder)
{
    struct Case {
        const char* what;
        std::string body;
        const char* tree;
        std::size_t vertices;
        const char* triangles;
    };
    const std::string loose = xLineMesh("Loose", 3, {{0, 1, 2}});
    const Case cases[] = {
        {"two frames", twoMeshBody(), "Root(A B)", 7, "0 1 2,0 2 3,4 5 6"},
        {"faces of more corners become fans", frame("F", xLineMesh("M", 6, {{0, 1, 2, 3}, {5, 4, 3, 2, 1}, {0, 1}})),
         "F", 6, "0 1 2,0 2 3,5 4 3,5 3 2,5 2 1"},
        {"every mesh of a frame", frame("F", xLineMesh("One", 3, {{0, 1, 2}}) + xLineMesh("Two", 4, {{3, 2, 1}})), "F",
         7, "0 1 2,6 5 4"},
        {"a mesh outside any frame gets an unnamed one", loose, "", 3, "0 1 2"},
        {"a frame that holds nothing is no bone", loose + frame("F", ""), "", 3, "0 1 2"},
        {"a mesh named by reference lives where it is named", loose + frame("F", "{ Loose }\n" + frame("G", "{Loose}\n")),
         "F(G)", 6, "0 1 2,3 4 5"},
        {"several top-level frames hang under an unnamed root", skinnedBody() + frame("Third", loose),
         "(Skeleton(Hip(Knee)) Body Third)", 6, "0 1 2,3 4 5"},
        {"unnamed frames", frame("", frame("", loose) + loose), "()", 6, "0 1 2,3 4 5"},
        {"cameras, lights and empty helpers are no bones", cameraBody(), "Scene(Figure(Head) Legs)", 9,
         "0 1 2,3 4 5,6 7 8"},
        {"nor are frames beside an animated one", frame("Root", frame("Arm", "") + frame("Idle", "")) + loose +
             "AnimationSet { Animation { { Arm } AnimationKey { 2; 1; 0; 3; 1, 2, 3;; } } }",
         "(Root(Arm) )", 3, "0 1 2"},
        {"a reference to the object itself names nothing",
         frame("F", xLineMesh("M", 3, {{0, 1, 2}}, "{ M } MeshMaterialList { 1 1 0 Material Q { 1 1 1 1 1 0 0 0 0 0 0 { Q } } }")),
         "F", 3, "0 1 2"},
        {"a few references to a mesh", xLineMesh("Big", 2000, {{0, 1, 2}}) + "Frame F {{Big}{Big}}", "F", 4000,
         "0 1 2,2000 2001 2002"},
        {"indices above the 16-bit range",
         frame("F", xLineMesh("Small", 3, {{0, 1, 2}}) +
                        frame("G", xLineMesh("Big", 70000, {{40000, 0, 1}, {69999, 65536, 65535}}))),
         "F(G)", 70003, "0 1 2,40003 3 4,70002 65539 65538"},
    };
    for (const Case& c : cases) {
        const Model m = load(c.body);
        EXPECT_EQ(treeOf(m.rootBone), c.tree) << c.what;
        EXPECT_EQ(m.vertices.size(), c.vertices) << c.what;
        EXPECT_EQ(trianglesOf(m), c.triangles) << c.what;
        EXPECT_EQ(m.animator.animations.empty(), c.body.find("AnimationSet") == std::string::npos) << c.what;
    }
    EXPECT_EQ(load(twoMeshBody()).vertices[4].position, (Vector3{5, 0, 0}));
    EXPECT_EQ(load(loose + frame("Root", repeated("Frame{{Loose}}", 60000))).rootBone.children.size(),
              60000u);  // no deep recursion
}

TEST(XImporter, SkinsWeightTheBonesTheyNameCountingFromTheirOwnMesh)
{
    struct Case {
        const char* what;
        std::string body;
        const char* bone;
        const char* weights;  // vertex:weight
        const char* summary;  // the debug output
    };
    const std::string twoMeshes =
        frame("Root", frame("Bone1", "") + frame("Bone2", "") +
                          frame("M1", xLineMesh("A", 3, {{0, 1, 2}}, xSkinWeights("Bone1", {0, 2}, {1, 1}))) +
                          frame("M2", xLineMesh("B", 4, {{0, 1, 2}}, xSkinWeights("Bone2", {0, 3}, {1, 0.25f}))));
    const std::string unnamed = frame("", frame("", "") + xLineMesh("", 3, {{0, 1, 2}}, xSkinWeights("Nobody", {0}, {1})));
    const std::string plain = skinnedBody() + frame("Plain", xLineMesh("P", 3, {{0, 1, 2}})) +
                              frame("Other", xLineMesh("O", 3, {{0, 1, 2}}, "XSkinMeshHeader { 1; 1; 0; }\n"));
    const Case cases[] = {
        {"the skeleton of another top-level frame", skinnedBody(), "Hip", "0:1 1:0.5", "There are 2 bones in Body\n"},
        {"a second bone", skinnedBody(), "Knee", "1:0.5 2:1", "There are 2 bones in Body\n"},
        {"the second mesh's first vertex", twoMeshes, "Bone2", "3:1 6:0.25", "There are 1 bones in M1\nThere are 1 bones in M2\n"},
        {"no frame of that name: the mesh follows its frame", unnamed, "", "0:1 1:1 2:1", "There are 1 bones in N/A\n"},
        {"one line per skinned mesh", plain, "Hip", "0:1 1:0.5", "There are 2 bones in Body\nThere are 0 bones in Other\n"},
    };
    for (const Case& c : cases) {
        const std::string file = xText(c.body);
        DebugCapture debug;
        const Model m = XImporter().loadFromMemory(dataOf(file), file.size(), "test.x");
        EXPECT_EQ(weightsOf(m.rootBone.find(c.bone)), c.weights) << c.what;
        EXPECT_EQ(debug.text(), c.summary) << c.what;
    }
}

TEST(XImporter, BonesRestWhereTheirFramesPutThemAndTheModelStandsUp)
{
    // The skin's offset (a quarter turn and a translation) does not replace
    // the frame's own transform.
    const std::string skin = "SkinWeights { \"Arm\"; 1; 0; 1.0; 0.0,1.0,0.0,0.0, -1.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, "
                             "3.0,-2.0,5.0,1.0;; }\n";
    const Model m = load(frame("Root", frame("Arm", xTranslation(4, 5, 6)) + xLineMesh("M", 3, {{0, 1, 2}}, skin)));
    const Bone* arm = m.rootBone.find("Arm");
    ASSERT_NE(arm, nullptr);
    Matrix4 expected, forth, back;
    translationMatrix(Vector3{4, 5, 6}, expected);
    mul(arm->localMatrix, arm->inverseLocalMatrix, forth);
    mul(arm->inverseLocalMatrix, arm->localMatrix, back);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(arm->localMatrix.m[i], expected.m[i], 1e-5f) << i;
        EXPECT_NEAR(forth.m[i], Matrix4{}.m[i], 1e-5f) << i;
        EXPECT_NEAR(back.m[i], Matrix4{}.m[i], 1e-5f) << i;
    }
    // Z is up, one unit is a hundred of the file's, and left stays left:
    // (x, y, z) -> (x, z, y) / 100.
    Vector4 out;
    transform(m.baseTransform, Vector4{100, 200, 300, 1}, out);
    EXPECT_NEAR(out.x, 1.0f, 1e-6f);
    EXPECT_NEAR(out.y, 3.0f, 1e-6f);
    EXPECT_NEAR(out.z, 2.0f, 1e-6f);
    // Normals come from the positions, not the file.
    const Model flat = load(frame("F", xMesh("M", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}})));
    EXPECT_EQ(flat.triangles[0].normal, (Vector3{0, 0, -1}));
    EXPECT_EQ(flat.vertices[2].normal, (Vector3{0, 0, -1}));

    // Thirty nested frames, each scaling by 1.2 and moving (0, 2, 0.5) in its
    // parent's units. One vertex on every joint, weighted to it, whose offset
    // is the inverse of the joint's combined transform, as exporters write it.
    std::vector<float> xyz;
    std::vector<std::vector<std::uint32_t>> faces;
    std::string skins, tree;
    double scale = 1.0, y = 0.0, z = 0.0;
    for (int k = 0; k < 30; ++k) {
        if (k > 0) {
            y += scale * 2.0;
            z += scale * 0.5;
            scale *= 1.2;
        }
        xyz.insert(xyz.end(), {static_cast<float>(k % 2), static_cast<float>(y), static_cast<float>(z)});
        if (k + 2 < 30) {
            faces.push_back({static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(k + 1),
                             static_cast<std::uint32_t>(k + 2)});
        }
        std::ostringstream w;
        w.precision(9);
        w << "SkinWeights { \"F" << k << "\"; 1; " << k << "; 1.0; " << 1 / scale << ",0,0,0, 0," << 1 / scale
          << ",0,0, 0,0," << 1 / scale << ",0, 0," << -y / scale << "," << -z / scale << ",1;; }\n";
        skins += w.str();
    }
    for (int k = 29; k >= 0; --k) {
        const char* s = k == 0 ? "1" : "1.2";
        tree = frame("F" + std::to_string(k), std::string("FrameTransformMatrix { ") + s + ",0,0,0, 0," + s +
                                                  ",0,0, 0,0," + s + ",0, 0," + (k ? "2,0.5" : "0,0") + ",1;; }\n" +
                                                  tree);
    }
    expectRestsOnItsMesh(load(frame("Body", xMesh("Skin", xyz, faces, "XSkinMeshHeader { 1; 1; 30; }\n" + skins)) + tree));
}

// The best-known skinned .X character's layout: Scene_Root holds "body"
// (scaled 1.28 / 1.12 / 1.47, its axes exchanged, moved 134 units), which
// holds an unnamed frame (moved -49.6) with the skinned mesh, and beside
// body the skeleton, a chain of 35 bones. Each bone's offset takes the mesh
// into the bone's space as the mesh stood at binding (Cᵢ⁻¹·B, B body's
// placement of the mesh); with disagree, every other bone was bound with the
// mesh 2 units further along its z. expected gets each vertex's rest place
// by the format's rule, Σ wᵢ·Cᵢ·Oᵢ·v: ring k is weighted half to bone k,
// half to bone k + 1, the last ring wholly to its bone, and the first ring's
// missing half goes to the mesh's frame.
std::string characterBody(bool disagree, std::vector<Vector3>& expected)
{
    constexpr int kBones = 35;
    Matrix4 body, turn, around, unnamed, placement;
    translationMatrix(Vector3{0, 134, 0}, body);  // a quarter turn about y, the mesh's x and z exchanged
    body(0, 0) = 0.0f;
    body(0, 2) = 1.47f;
    body(1, 1) = 1.12f;
    body(2, 0) = -1.28f;
    body(2, 2) = 0.0f;
    translationMatrix(Vector3{0, -49.6f, 0}, unnamed);
    mul(body, unnamed, placement);
    std::vector<float> xyz;
    std::vector<std::vector<std::uint32_t>> faces;
    for (int k = 0; k < kBones; ++k) {
        const float y = 4.0f * k - 75;  // from below the origin to above body's place
        xyz.insert(xyz.end(), {-10, y, -10, 10, y, -10, 10, y, 10, -10, y, 10});
        for (std::uint32_t c = 0; k > 0 && c < 4; ++c) {
            const std::uint32_t a = 4 * (k - 1);
            faces.push_back({a + c, a + (c + 1) % 4, a + 4 + (c + 1) % 4, a + 4 + c});
        }
    }
    // Bone k stands on ring k's centre, turned k times 10 degrees about z.
    std::vector<Matrix4> combined(kBones), offsets(kBones);
    std::string skeleton, skins;
    for (int k = kBones - 1; k >= 0; --k) {
        Vector4 centre;
        transform(placement, Vector4{0, 4.0f * k - 75, 0, 1}, centre);
        translationMatrix(Vector3{centre.x, centre.y, centre.z}, around);
        mul(around, eulerToMatrix(0, 0, 0.1745329f * k, turn), combined[k]);
    }
    for (int k = kBones - 1; k >= 0; --k) {
        Matrix4 local = combined[k], parentInverse, inverse, shift;
        if (k > 0) {
            invert(combined[k - 1], parentInverse);
            mul(parentInverse, combined[k], local);
        }
        skeleton = frame("Bone" + std::to_string(k), xMatrix("FrameTransformMatrix {", local) + "}\n" + skeleton);
        invert(combined[k], inverse);
        translationMatrix(Vector3{0, 0, disagree && k % 2 ? 2.0f : 0.0f}, shift);
        mul(inverse, mul(placement, shift, around), offsets[k]);
        std::vector<std::uint32_t> vertices{4u * k, 4u * k + 1, 4u * k + 2, 4u * k + 3};
        std::vector<float> weights(4, 0.5f);
        if (k > 1) {
            vertices.insert(vertices.end(), {4u * k - 4, 4u * k - 3, 4u * k - 2, 4u * k - 1});
            weights.resize(8, 0.5f);
        }
        if (k == kBones - 1) {
            std::fill(weights.begin(), weights.begin() + 4, 1.0f);
        }
        skins += "SkinWeights { \"Bone" + std::to_string(k) + "\" " + std::to_string(vertices.size()) + " " +
                 words(vertices) + words(weights) + xMatrix("", offsets[k]) + "}\n";
    }
    expected.assign(xyz.size() / 3, Vector3{});
    for (std::size_t v = 0; v < expected.size(); ++v) {
        const int ring = static_cast<int>(v / 4);
        const Vector4 p{xyz[3 * v], xyz[3 * v + 1], xyz[3 * v + 2], 1};
        Vector4 sum{0, 0, 0, 0}, q;
        const auto add = [&](const Matrix4& m, const Matrix4& o, float w) {
            transform(mul(m, o, around), p, q);
            sum = Vector4{sum.x + w * q.x, sum.y + w * q.y, sum.z + w * q.z, 0};
        };
        add(combined[ring], offsets[ring], ring == kBones - 1 ? 1.0f : 0.5f);
        if (ring + 1 < kBones) {
            add(ring > 0 ? combined[ring + 1] : placement, ring > 0 ? offsets[ring + 1] : Matrix4{}, 0.5f);
        }
        expected[v] = Vector3{sum.x, sum.y, sum.z};
    }
    const std::string mesh = xMesh("", xyz, faces, "XSkinMeshHeader { 2; 4; 35; }\n" + skins);
    return frame("Scene_Root", frame("body", xMatrix("FrameTransformMatrix {", body) + "}\n" +
                                                 frame("", xMatrix("FrameTransformMatrix {", unnamed) + "}\n" + mesh)) +
                                   skeleton);
}

// At rest a skinned model wraps its skeleton: its vertices where the skin's
// offsets and the frames put them, its faces' normals across them.
TEST(XImporter, SkinnedMeshesRestWhereTheirOffsetsPutThemAroundTheSkeleton)
{
    for (const bool disagree : {false, true}) {
        SCOPED_TRACE(disagree ? "offsets that disagree" : "offsets that agree");
        std::vector<Vector3> expected;
        const Model m = load(characterBody(disagree, expected));
        ASSERT_EQ(m.vertices.size(), expected.size());
        EXPECT_EQ(treeOf(m.rootBone).substr(0, 30), "Scene_Root(body() Bone0(Bone1(");
        for (std::size_t i = 0; i < expected.size(); ++i) {
            Vector3 d;
            ASSERT_LT(length(difference(m.vertices[i].position, expected[i], d)), 1e-3f)
                << "vertex " << i << ": " << m.vertices[i].position.x << " " << m.vertices[i].position.y << " "
                << m.vertices[i].position.z << " for " << expected[i].x << " " << expected[i].y << " " << expected[i].z;
        }
        for (const Triangle& t : m.triangles) {
            Vector3 edge;
            difference(m.vertices[t.indices[1]].position, m.vertices[t.indices[0]].position, edge);
            EXPECT_NEAR(dot(t.normal, edge), 0.0f, 1e-3f * length(edge));
        }
        expectRestsOnItsMesh(m);
    }
}

// Unskinned meshes stand where their frames put them, and follow them where
// something moves: a box of the vertices (file units) after the time.
TEST(XImporter, MeshesStandWhereTheirFramesPutThem)
{
    struct Case {
        const char* what;
        std::string body;
        float time;
        Vector3 lo, hi;
    };
    const std::string arm = frame("Root", xTranslation(0, 2, 0) +
                                              frame("Arm", xTranslation(1, 0, 0) + xLineMesh("M", 3, {{0, 1, 2}})));
    const std::string reach = "AnimationSet { Animation { { Arm } AnimationKey { 2; 2; 0; 3; 1, 0, 0;;, 4800; 3; 1, "
                              "0, 10;;; } } }\n";
    const Case cases[] = {
        {"a figure of several frames, its cameras left out", cameraBody(), 0, {-0.5f, 0, -0.2f}, {0.5f, 2, 0.2f}},
        {"nested frames", arm, 0, {1, 2.5f, 0.25f}, {3, 2.5f, 0.25f}},
        {"following its frame", arm + reach, 0.5f, {1, 2.5f, 5.25f}, {3, 2.5f, 5.25f}},
        {"with a skinned mesh beside it", arm + skinnedBody(), 0, {0, 0.5f, 0.25f}, {3, 2.5f, 0.25f}},
    };
    for (const Case& c : cases) {
        Model m = load(c.body);
        updateAnimator(m, c.time);
        updatePose(m);
        const std::vector<Vertex>& posed = m.hasSkin() ? m.skinnedVertices : m.vertices;
        ASSERT_FALSE(posed.empty()) << c.what;
        Vector3 lo = posed[0].position, hi = lo;
        for (const Vertex& v : posed) {
            lo = Vector3{std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
            hi = Vector3{std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
        }
        Vector3 d;
        EXPECT_LT(length(difference(lo, c.lo, d)), 1e-5f) << c.what << ": " << lo.x << " " << lo.y << " " << lo.z;
        EXPECT_LT(length(difference(hi, c.hi, d)), 1e-5f) << c.what << ": " << hi.x << " " << hi.y << " " << hi.z;
    }
}

TEST(XImporter, ReadsFromAPathAndRefusesWhatIsNoFile)
{
    const auto path = std::filesystem::temp_directory_path() / ("fyrel_x_path_" + std::to_string(::getpid()) + ".x");
    std::ofstream(path, std::ios::binary) << xText(twoMeshBody());
    EXPECT_EQ(XImporter().load(path.string()).vertices.size(), 7u);
    std::filesystem::remove(path);
    // The message itself names the file and says why, under the old first line.
    const auto messageOf = [](const std::string& file) {
        try {
            XImporter().load(file);
        } catch (const ImportError& e) {
            return std::string(e.what());
        }
        return std::string("loaded");
    };
    const std::string folder = std::filesystem::temp_directory_path().string();
    EXPECT_EQ(messageOf(path.string()),
              std::string(kXLoadFailedMessage) + "\n\"" + path.string() + "\" cannot be read: no such file");
    EXPECT_EQ(messageOf(folder),
              std::string(kXLoadFailedMessage) + "\n\"" + folder + "\" cannot be read: it is not a regular file");
}

TEST(XRealFiles, AssimpModelsLoadWithTheirCountsAndRestOnTheirMesh)
{
    struct Case {
        const char* file;
        std::size_t vertices, triangles;
        bool skinned;
    };
    const Case cases[] = {
        // The counts, read independently from the files' text or tokens when first checked.
        {"BCN_Epileptic.X", 3014, 5126, true},
        {"Testwuson.X", 3205, 3732, true},
        {"anim_test.x", 1720, 840, true},
        {"fromtruespace_bin32.x", 4132, 6656, false},
        {"kwxport_test_cubewithvcolors.x", 24, 12, false},
        {"test.x", 24, 12, false},
        {"test_cube_binary.x", 24, 12, true},
        {"test_cube_compressed.x", 24, 12, true},
        {"test_cube_text.x", 24, 12, true},
    };
    for (const Case& c : cases) {
        const std::string path = std::string("/usr/share/assimp/models/X/") + c.file;
        SCOPED_TRACE(path);
        DebugCapture quiet;
        const Model m = importX(path);
        EXPECT_EQ(m.vertices.size(), c.vertices);
        EXPECT_EQ(m.triangles.size(), c.triangles);
        EXPECT_EQ(m.hasSkin(), c.skinned);
        if (c.skinned) {
            expectRestsOnItsMesh(m);
        }
    }
}
