// fyrel-make-ms3d-seeds DIR: writes the small .ms3d files that seed the
// importer's fuzzer (fuzz/seeds/ms3d). Each one reaches a different part of
// the reader: empty sections, every section filled, a tree with repeated and
// missing names, keys out of order, short translation keys, unusable frame
// rates, trailing data.

#include <cstdio>
#include <exception>
#include <string>

#include "tools/ms3d_writer.h"

namespace {

using namespace fyrel;

Ms3dVertex vertex(float x, float y, float z, int bone)
{
    Ms3dVertex v;
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    v.boneIndex = static_cast<std::int8_t>(bone);
    return v;
}

Ms3dKey key(float time, float x, float y, float z)
{
    Ms3dKey k;
    k.time = time;
    k.value[0] = x;
    k.value[1] = y;
    k.value[2] = z;
    return k;
}

Ms3dJoint joint(const char* name, const char* parent)
{
    Ms3dJoint j;
    j.name = name;
    j.parentName = parent;
    return j;
}

Ms3dFile triangleWithTwoJoints()
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0), vertex(1, 0, 0, 1), vertex(0, 1, 0.5f, -1)};
    Ms3dTriangle t;
    t.indices[1] = 2;
    t.indices[2] = 1;
    f.triangles = {t};
    Ms3dGroup g;
    g.name = "body";
    g.triangles = {0};
    g.materialIndex = 0;
    f.groups = {g};
    f.materials = {Ms3dMaterial{}};
    Ms3dJoint root = joint("root", "");
    root.rotationKeys = {key(0, 0, 0, 0), key(1, 0.5f, 0, 0)};
    root.translationKeys = {key(0, 0, 0, 1), key(1, 0, 0, 0)};
    Ms3dJoint arm = joint("arm", "root");
    arm.position[0] = 1.0f;
    arm.rotationKeys = {key(0, 0, 0, 0), key(0.5f, 0, 0, 1), key(1, 0, 0, 0)};
    arm.translationKeys = {key(0, 0, 0, 0)};
    f.joints = {root, arm};
    return f;
}

Ms3dFile tangledSkeleton()
{
    Ms3dFile f;
    for (int i = 0; i < 6; ++i) {
        f.vertices.push_back(vertex(static_cast<float>(i), 0, -1, i - 1));
    }
    Ms3dJoint a = joint("a", "ignored");
    a.rotationKeys = {key(2, 0, 0, 0), key(0, 0, 0, 0), key(2, 1, 0, 0)};
    f.joints = {a, joint("b", "a"), joint("c", "missing"), joint("b", "c"), joint("d", "b"), joint("", "")};
    f.fps = 0.0f;
    f.trailer = {1, 0, 0, 0, 'h', 'i'};
    return f;
}

Ms3dFile quad()
{
    Ms3dFile f;
    f.vertices = {vertex(0, 0, 0, 0), vertex(1, 0, 0, 0), vertex(1, 1, 0, 0), vertex(0, 1, 0, 0)};
    Ms3dTriangle a, b;
    a.indices[0] = 0;
    a.indices[1] = 2;
    a.indices[2] = 1;
    b.indices[0] = 0;
    b.indices[1] = 3;
    b.indices[2] = 2;
    f.triangles = {a, b};
    Ms3dGroup g;
    g.triangles = {0, 1};
    f.groups = {g, Ms3dGroup{}};
    f.materials = {Ms3dMaterial{}, Ms3dMaterial{}};
    f.fps = -1.0f;
    Ms3dJoint only = joint("only", "");
    only.rotationKeys = {key(0, 0, 0, 0)};
    f.joints = {only};
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fyrel-make-ms3d-seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        saveMs3d(Ms3dFile{}, dir + "/empty.ms3d");
        saveMs3d(triangleWithTwoJoints(), dir + "/triangle_two_joints.ms3d");
        saveMs3d(tangledSkeleton(), dir + "/tangled_skeleton.ms3d");
        saveMs3d(quad(), dir + "/quad.ms3d");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fyrel-make-ms3d-seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
