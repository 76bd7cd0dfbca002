#include "animation/pose.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "animation/animation_cache.h"
#include "animation/pose_flat.h"
#include "animation/skinning.h"
#include "math/simd.h"
#include "scene/model.h"

namespace fyrel {

namespace {

// mul(a, b, out) four elements at a time: row r of the product is
// a(r,0)·b.row0 + a(r,1)·b.row1 + a(r,2)·b.row2 + a(r,3)·b.row3, added in
// that order, so every element is the same sum as mul forms.
void product(const Matrix4& a, const Matrix4& b, Matrix4& out)
{
    using F4 = simd::Native4;
    const F4 b0 = F4::load(b.m), b1 = F4::load(b.m + 4), b2 = F4::load(b.m + 8), b3 = F4::load(b.m + 12);
    float rows[16];
    for (int r = 0; r < 4; ++r) {
        const float* ar = a.m + 4 * r;
        const F4 sum = F4::splat(ar[0]) * b0 + F4::splat(ar[1]) * b1 + F4::splat(ar[2]) * b2 + F4::splat(ar[3]) * b3;
        sum.store(rows + 4 * r);
    }
    std::copy(rows, rows + 16, out.m);
}

// world = parent.world · L · T · R · S (the root: L · T · R · S) and
// inverseBind = L⁻¹ · parent.inverseBind (the root: L⁻¹).
void poseBone(const Bone* parent, Bone& bone)
{
    Matrix4 r, t, lt;
    quatToMatrix(bone.rotation, r);
    scaleColumns(r, bone.scale);
    translationMatrix(bone.translation, t);
    if (parent) {
        Matrix4 pl, plt;
        product(parent->worldMatrix, bone.localMatrix, pl);
        product(pl, t, plt);
        product(plt, r, bone.worldMatrix);
        product(bone.inverseLocalMatrix, parent->inverseBindMatrix, bone.inverseBindMatrix);
    } else {
        product(bone.localMatrix, t, lt);
        product(lt, r, bone.worldMatrix);
        bone.inverseBindMatrix = bone.inverseLocalMatrix;
    }
}

// The pose walk: poses every bone, writes its skinning matrix into its
// palette slot and checks that the skin form was built from this skeleton.
struct PoseWalk {
    SkinCache& cache;
    std::size_t slots = 0;  // palette slots available
    std::size_t index = 0;  // pre-order number of the next bone
    bool matches = true;

    void visit(const Bone* parent, Bone& bone)
    {
        poseBone(parent, bone);
        const std::size_t b = index++;
        if (b < slots) {
            Matrix4 s;
            product(bone.worldMatrix, bone.inverseBindMatrix, s);
            writePaletteSlot(s, cache.palette() + b * kPaletteFloats);
        }
        matches = matches && b < cache.sources.size() && cache.sources[b].weights == bone.weights.data() &&
                  cache.sources[b].size == bone.weights.size();
        for (Bone& child : bone.children) {
            visit(&bone, child);
        }
    }
};

bool bottomRowIsUnit(const Matrix4& m)
{
    return m(3, 0) == 0.0f && m(3, 1) == 0.0f && m(3, 2) == 0.0f && m(3, 3) == 1.0f;
}

void flatten(SkinCache& cache, Bone& bone, std::uint32_t parent)
{
    const auto index = static_cast<std::uint32_t>(cache.skeleton.size());
    FlatBone& entry = cache.skeleton.emplace_back();
    entry.bone = &bone;
    entry.parent = parent;
    entry.children = bone.children.data();
    entry.childrenEnd = bone.children.data() + bone.children.size();
    if (listsSideBySide(bone)) {
        std::memcpy(entry.lists, &bone.children, sizeof entry.lists);
    }
    cache.affine = cache.affine && bottomRowIsUnit(bone.localMatrix);
    for (Bone& child : bone.children) {
        flatten(cache, child, index);
    }
}

// The flattened skeleton, with every inverse bind matrix formed as the walk
// forms it (written to the bones too: they stay until the next rebuild).
void buildSkeleton(SkinCache& cache, Bone& root)
{
    cache.skeleton.clear();
    cache.affine = true;
    flatten(cache, root, 0);
    const std::size_t n = cache.skeleton.size();
    const std::size_t lanes = (n + 7) / 8 * 8;
    cache.worlds.assign(16 * n, 0.0f);
    cache.inverseBinds.assign(16 * n, 0.0f);
    cache.bindLocals.assign(12 * lanes, 0.0f);
    cache.locals.assign(12 * lanes, 0.0f);
    cache.spreadInverseBinds.resize(64 * n);
    for (std::size_t i = 0; i < n; ++i) {
        Bone& bone = *cache.skeleton[i].bone;
        if (i == 0) {
            bone.inverseBindMatrix = bone.inverseLocalMatrix;
        } else {
            product(bone.inverseLocalMatrix, cache.skeleton[cache.skeleton[i].parent].bone->inverseBindMatrix,
                    bone.inverseBindMatrix);
        }
        const Matrix4& ib = bone.inverseBindMatrix;
        std::copy(ib.m, ib.m + 16, cache.inverseBinds.data() + 16 * i);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                cache.bindLocals[kGroupFloats * (i / 8) + 8 * (4 * r + c) + i % 8] = bone.localMatrix(r, c);
            }
        }
        float* spread = cache.spreadInverseBinds.data() + 64 * i;
        for (int e = 0; e < 16; ++e) {
            std::fill_n(spread + 4 * e, 4, ib.m[e]);
        }
    }
}

// The active vector backend poses too (AVX2 only where the processor runs
// it), so that choosing one tests both halves.
bool poseFlat(SkinCache& cache, Bone& root, bool withPalette)
{
    // The eight-wide evaluation reads a bone's translation and scale as six
    // floats in a row.
    static_assert(sizeof(Vector3) == 3 * sizeof(float) && sizeof(Quaternion) == 4 * sizeof(float));
    switch (activeVectorBackend()) {
#if FYREL_X86
    case VectorBackend::Avx2:
        if (&root.scale.x == &root.translation.x + 3) {
            return poseFlatAvx2(cache, root, withPalette);
        }
        return poseFlatSse2(cache, root, withPalette);
    case VectorBackend::Sse2: return poseFlatSse2(cache, root, withPalette);
#endif
#if FYREL_NEON
    case VectorBackend::Neon: return poseFlatNeon(cache, root, withPalette);
#endif
    default: return poseFlatPortable(cache, root, withPalette);
    }
}

PoseEvaluation& chosenEvaluation()
{
    static PoseEvaluation evaluation = PoseEvaluation::Flat;
    return evaluation;
}

// Poses the skeleton and fills the palette (the flat evaluation with AVX2
// only when there are vertices to skin); false when the skin form or the
// flattened skeleton no longer matches the model.
bool poseSkeleton(SkinCache& cache, Bone& root, bool built, bool skinning)
{
    if (built && cache.affine && chosenEvaluation() == PoseEvaluation::Flat) {
        return poseFlat(cache, root, skinning);
    }
    PoseWalk walk{cache};
    walk.slots = built ? cache.sources.size() : 0;
    walk.matches = built;
    walk.visit(nullptr, root);
    return walk.matches && walk.index == cache.sources.size();
}

}  // namespace

void evaluateBone(const Bone* parent, Bone& bone)
{
    poseBone(parent, bone);
    for (Bone& child : bone.children) {
        evaluateBone(&bone, child);
    }
}

void usePoseEvaluation(PoseEvaluation evaluation)
{
    chosenEvaluation() = evaluation;
}

void skinChanged(Model& model)
{
    model.skin.get<SkinCache>().built = false;
}

void updatePose(Model& model)
{
    SkinCache& cache = model.skin.get<SkinCache>();
    const std::vector<Vertex>& vertices = model.vertices;
    std::vector<Vertex>& skinnedVertices = model.skinnedVertices;
    Bone& rootBone = model.rootBone;
    const std::size_t count = vertices.size();
    if (skinnedVertices.size() != count) {
        skinnedVertices.assign(count, Vertex{});
        cache.built = false;
    }
    if (rootBone.children.empty()) {
        return;
    }

    const bool skinning = count > 0;
    if (!poseSkeleton(cache, rootBone, cache.built && cache.vertexCount == count, skinning)) {
        buildSkin(cache, rootBone, count);
        buildSkeleton(cache, rootBone);
        poseSkeleton(cache, rootBone, true, skinning);
    }

    if (!cache.anyWeights) {
        // Bones that weight nothing would collapse every vertex onto the
        // origin: such a model is shown in its bind pose instead, like one
        // without a skeleton. The bones are still posed for the skeleton view.
        std::copy(vertices.begin(), vertices.end(), skinnedVertices.begin());
        return;
    }
    skinVertices(cache, vertices.data(), count, skinnedVertices.data());
}

}  // namespace fyrel
