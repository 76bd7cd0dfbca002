#include "bench/ozz_peer.h"

#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <ozz/animation/offline/animation_builder.h>
#include <ozz/animation/offline/raw_animation.h>
#include <ozz/animation/offline/raw_skeleton.h>
#include <ozz/animation/offline/skeleton_builder.h>
#include <ozz/animation/runtime/animation.h>
#include <ozz/animation/runtime/local_to_model_job.h>
#include <ozz/animation/runtime/sampling_job.h>
#include <ozz/animation/runtime/skeleton.h>
#include <ozz/base/maths/simd_math.h>
#include <ozz/base/maths/soa_transform.h>
#include <ozz/base/memory/unique_ptr.h>
#include <ozz/geometry/runtime/skinning_job.h>

namespace fyrel::bench {

namespace {

namespace oa = ozz::animation;
namespace om = ozz::math;

om::Float3 float3(const Vector3& v) { return om::Float3(v.x, v.y, v.z); }
om::Quaternion quaternion(const Quaternion& q) { return om::Quaternion(q.x, q.y, q.z, q.w); }

oa::offline::RawSkeleton::Joint rawJoint(const Bone& bone)
{
    oa::offline::RawSkeleton::Joint joint;
    joint.name = bone.name.c_str();
    joint.transform = om::Transform::identity();
    joint.transform.translation = om::Float3(bone.localMatrix.m[3], bone.localMatrix.m[7], bone.localMatrix.m[11]);
    for (const Bone& child : bone.children) {
        joint.children.push_back(rawJoint(child));
    }
    return joint;
}

}  // namespace

struct OzzPeer::Impl {
    ozz::unique_ptr<oa::Skeleton> skeleton;
    ozz::unique_ptr<oa::Animation> animation;
    oa::SamplingJob::Context context;
    std::vector<om::SoaTransform> locals;
    std::vector<om::Float4x4> models, inverseBinds, palette;
    std::vector<int> jointOfBone;  // ozz joint of each bone in pre-order
    float time = 0.0f;
    float rate = 1.0f;
    int tracks = 0;
    int vertexCount = 0;
    int influences = 1;
    const float* vertices = nullptr;  // the model's, position and normal per vertex
    std::vector<std::uint16_t> jointIndices;
    std::vector<float> jointWeights;
    std::vector<float> out;

    void setLocal(int joint, const Vector3& t, const Quaternion& r, const Vector3& s);
};

void OzzPeer::Impl::setLocal(int joint, const Vector3& t, const Quaternion& r, const Vector3& s)
{
    // One lane of a structure of arrays: rewrite the four-wide rows lane by lane.
    om::SoaTransform& soa = locals[static_cast<std::size_t>(joint / 4)];
    const int lane = joint % 4;
    auto set = [lane](om::SimdFloat4& row, float value) {
        alignas(16) float lanes[4];
        om::StorePtr(row, lanes);
        lanes[lane] = value;
        row = om::simd_float4::LoadPtr(lanes);
    };
    set(soa.translation.x, t.x);
    set(soa.translation.y, t.y);
    set(soa.translation.z, t.z);
    set(soa.rotation.x, r.x);
    set(soa.rotation.y, r.y);
    set(soa.rotation.z, r.z);
    set(soa.rotation.w, r.w);
    set(soa.scale.x, s.x);
    set(soa.scale.y, s.y);
    set(soa.scale.z, s.z);
}

OzzPeer::OzzPeer(const Model& model) : impl_(std::make_unique<Impl>())
{
    Impl& p = *impl_;
    oa::offline::RawSkeleton rawSkeleton;
    rawSkeleton.roots.push_back(rawJoint(model.rootBone));
    p.skeleton = oa::offline::SkeletonBuilder()(rawSkeleton);
    if (!p.skeleton) {
        throw std::runtime_error("ozz: the skeleton was refused");
    }
    const int joints = p.skeleton->num_joints();
    std::map<std::string, int> jointByName;
    for (int j = 0; j < joints; ++j) {
        jointByName[p.skeleton->joint_names()[static_cast<std::size_t>(j)]] = j;
    }
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    for (const Bone* bone : bones) {
        p.jointOfBone.push_back(jointByName.at(bone->name));
    }

    const Animation& clip = model.animator.animations.at(0);
    oa::offline::RawAnimation raw;
    raw.duration = clip.length;
    raw.tracks.resize(static_cast<std::size_t>(joints));
    for (const std::vector<KeyFrame>& track : clip.tracks) {
        auto& joint = raw.tracks[static_cast<std::size_t>(p.jointOfBone.at(static_cast<std::size_t>(track[0].boneIndex)))];
        for (const KeyFrame& key : track) {
            joint.translations.push_back({key.time, float3(key.translation)});
            joint.rotations.push_back({key.time, quaternion(key.rotation)});
            joint.scales.push_back({key.time, float3(key.scale)});
        }
    }
    p.tracks = static_cast<int>(clip.tracks.size());
    p.animation = oa::offline::AnimationBuilder()(raw);
    if (!p.animation) {
        throw std::runtime_error("ozz: the animation was refused");
    }
    p.rate = model.animator.rate * clip.ticksPerSecond;
    p.context.Resize(joints);
    p.locals.assign(static_cast<std::size_t>(p.skeleton->num_soa_joints()), p.skeleton->joint_rest_poses()[0]);
    for (int s = 0; s < p.skeleton->num_soa_joints(); ++s) {
        p.locals[static_cast<std::size_t>(s)] = p.skeleton->joint_rest_poses()[static_cast<std::size_t>(s)];
    }
    p.models.resize(static_cast<std::size_t>(joints));
    p.palette.resize(static_cast<std::size_t>(joints));
    localToModel();
    for (const om::Float4x4& m : p.models) {
        p.inverseBinds.push_back(om::Invert(m));
    }

    // Per-vertex influences from the bones' weight lists.
    p.vertexCount = static_cast<int>(model.vertices.size());
    p.vertices = reinterpret_cast<const float*>(model.vertices.data());
    std::vector<std::vector<std::pair<int, float>>> influences(model.vertices.size());
    for (std::size_t b = 0; b < bones.size(); ++b) {
        for (const VertexWeight& w : bones[b]->weights) {
            influences.at(static_cast<std::size_t>(w.vertex)).push_back({p.jointOfBone[b], w.weight});
        }
    }
    for (const auto& list : influences) {
        p.influences = std::max(p.influences, static_cast<int>(list.size()));
    }
    p.influences = p.influences > 1 ? 4 : 1;
    for (const auto& list : influences) {
        for (int i = 0; i < p.influences; ++i) {
            const bool has = static_cast<std::size_t>(i) < list.size();
            p.jointIndices.push_back(static_cast<std::uint16_t>(has ? list[static_cast<std::size_t>(i)].first : 0));
            if (i + 1 < p.influences) {
                p.jointWeights.push_back(has ? list[static_cast<std::size_t>(i)].second : 0.0f);
            }
        }
    }
    p.out.resize(model.vertices.size() * 6);
}

OzzPeer::~OzzPeer() = default;

void OzzPeer::sample(float dt)
{
    Impl& p = *impl_;
    const float duration = p.animation->duration();
    p.time = std::fmod(p.time + dt * p.rate, duration);
    oa::SamplingJob job;
    job.animation = p.animation.get();
    job.context = &p.context;
    job.ratio = p.time / duration;
    job.output = ozz::make_span(p.locals);
    job.Run();
}

void OzzPeer::localToModel()
{
    Impl& p = *impl_;
    oa::LocalToModelJob job;
    job.skeleton = p.skeleton.get();
    job.input = ozz::make_span(p.locals);
    job.output = ozz::make_span(p.models);
    job.Run();
}

void OzzPeer::palette()
{
    Impl& p = *impl_;
    for (std::size_t j = 0; j < p.models.size(); ++j) {
        p.palette[j] = p.models[j] * p.inverseBinds[j];
    }
}

void OzzPeer::skin()
{
    Impl& p = *impl_;
    const std::size_t floats = static_cast<std::size_t>(p.vertexCount) * 6;
    ozz::geometry::SkinningJob job;
    job.vertex_count = p.vertexCount;
    job.influences_count = p.influences;
    job.joint_matrices = ozz::make_span(p.palette);
    job.joint_indices = ozz::make_span(p.jointIndices);
    job.joint_indices_stride = sizeof(std::uint16_t) * static_cast<std::size_t>(p.influences);
    if (p.influences > 1) {
        job.joint_weights = ozz::make_span(p.jointWeights);
        job.joint_weights_stride = sizeof(float) * static_cast<std::size_t>(p.influences - 1);
    }
    job.in_positions = {p.vertices, floats};
    job.in_positions_stride = sizeof(Vertex);
    job.in_normals = {p.vertices + 3, floats - 3};
    job.in_normals_stride = sizeof(Vertex);
    job.out_positions = {p.out.data(), floats};
    job.out_positions_stride = sizeof(Vertex);
    job.out_normals = {p.out.data() + 3, floats - 3};
    job.out_normals_stride = sizeof(Vertex);
    if (!job.Run()) {
        throw std::runtime_error("ozz: the skinning job was refused");
    }
}

void OzzPeer::takePose(const Model& model)
{
    Impl& p = *impl_;
    std::vector<const Bone*> bones;
    listBones(model.rootBone, bones);
    for (std::size_t b = 0; b < bones.size(); ++b) {
        p.setLocal(p.jointOfBone[b], bones[b]->translation, bones[b]->rotation, bones[b]->scale);
    }
}

int OzzPeer::joints() const { return impl_->skeleton->num_joints(); }
int OzzPeer::tracks() const { return impl_->tracks; }
const float* OzzPeer::skinned() const { return impl_->out.data(); }

}  // namespace fyrel::bench
