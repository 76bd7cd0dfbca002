#include "importers/ms3d_joint_tree.h"

#include "importers/ms3d_importer.h"

namespace fyrel::ms3d {

void checkKeyLookups(const Ms3dRecords& r, const JointTree& tree, const std::string& fileName)
{
    const std::vector<std::uint64_t> order = tree.preorder();
    std::uint64_t visits = 0;
    std::uint64_t keys = 0;
    for (const JointRecord& joint : r.joints) {
        const std::uint64_t place = order[static_cast<std::size_t>(tree.find(joint.name))];
        visits += joint.rotationKeys.size() * (place + 1);
        keys += joint.rotationKeys.size();
    }
    if (visits > kMaxMs3dKeyLookups) {
        fail(fileName, "has an animation too large for Fyrel: " + std::to_string(keys) + " key frames on " +
                           std::to_string(r.joints.size()) + " joints.");
    }
}

}  // namespace fyrel::ms3d
