#include "animation/pose.h"

#include <algorithm>

#include "animation/animation_cache.h"
#include "animation/skinning.h"
#include "scene/model.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace fyrel {

namespace {

// mul(a, b, out) four elements at a time: row r of the product is
// a(r,0)·b.row0 + a(r,1)·b.row1 + a(r,2)·b.row2 + a(r,3)·b.row3, added in
// that order, so every element is the same sum as mul forms.
void product(const Matrix4& a, const Matrix4& b, Matrix4& out)
{
#if defined(__x86_64__)
    const __m128 b0 = _mm_loadu_ps(b.m), b1 = _mm_loadu_ps(b.m + 4);
    const __m128 b2 = _mm_loadu_ps(b.m + 8), b3 = _mm_loadu_ps(b.m + 12);
    float rows[16];
    for (int r = 0; r < 4; ++r) {
        const float* ar = a.m + 4 * r;
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(ar[0]), b0),
                                                            _mm_mul_ps(_mm_set1_ps(ar[1]), b1)),
                                                 _mm_mul_ps(_mm_set1_ps(ar[2]), b2)),
                                      _mm_mul_ps(_mm_set1_ps(ar[3]), b3));
        _mm_storeu_ps(rows + 4 * r, sum);
    }
    std::copy(rows, rows + 16, out.m);
#else
    mul(a, b, out);
#endif
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

void fillPalette(const Bone& bone, float*& slot)
{
    Matrix4 s;
    product(bone.worldMatrix, bone.inverseBindMatrix, s);
    writePaletteSlot(s, slot);
    slot += kPaletteFloats;
    for (const Bone& child : bone.children) {
        fillPalette(child, slot);
    }
}

}  // namespace

void evaluateBone(const Bone* parent, Bone& bone)
{
    poseBone(parent, bone);
    for (Bone& child : bone.children) {
        evaluateBone(&bone, child);
    }
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

    PoseWalk walk{cache};
    walk.slots = cache.built ? cache.sources.size() : 0;
    walk.matches = cache.built && cache.vertexCount == count;
    walk.visit(nullptr, rootBone);
    if (!walk.matches || walk.index != cache.sources.size()) {
        buildSkin(cache, rootBone, count);
        float* slot = cache.palette();
        fillPalette(rootBone, slot);
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
