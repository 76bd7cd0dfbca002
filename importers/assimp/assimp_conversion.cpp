#include "importers/assimp/assimp_conversion.h"

#include <cmath>
#include <cstring>
#include <memory>

#include <assimp/Importer.hpp>
#include <assimp/ProgressHandler.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>

#include "importers/assimp/assimp_record.h"
#include "importers/assimp/model_wire.h"
#include "importers/import_error.h"

namespace fyrel {

void failAssimp(const AssimpConversion& c, const std::string& what)
{
    throw ImportError("\"" + c.fileName + "\" cannot be read: " + what);
}

std::size_t assimpNodeNamed(const AssimpConversion& c, const aiString& name)
{
    const auto found = c.nodeByName.find(std::string(name.C_Str(), name.length));
    return found == c.nodeByName.end() ? kNoNode : found->second;
}

namespace {

bool isHelper(const aiNode& node)
{
    return std::strstr(node.mName.C_Str(), "$AssimpFbx$") != nullptr;
}

// The node tree in pre-order, walked with a stack of our own: the depth is
// checked before a node's children are taken.
void listAssimpNodes(AssimpConversion& c)
{
    if (!c.scene.mRootNode) {
        failAssimp(c, "it holds no scene");
    }
    struct Pending {
        const aiNode* node;
        std::size_t parent;
        int depth;
    };
    std::vector<Pending> stack{{c.scene.mRootNode, kNoNode, 0}};
    while (!stack.empty()) {
        const Pending p = stack.back();
        stack.pop_back();
        if (p.depth >= kMaxBoneDepth) {
            failAssimp(c, "its nodes nest deeper than " + std::to_string(kMaxBoneDepth));
        }
        AssimpNode& n = c.nodes.emplace_back();
        n.node = p.node;
        n.parent = p.parent;
        n.local = toMatrix(p.node->mTransformation);
        if (p.parent == kNoNode) {
            n.global = n.local;
        } else {
            mul(c.nodes[p.parent].global, n.local, n.global);
        }
        n.helper = isHelper(*p.node);
        c.nodeByName.try_emplace(std::string(p.node->mName.C_Str(), p.node->mName.length), c.nodes.size() - 1);
        const std::size_t self = c.nodes.size() - 1;
        for (unsigned i = p.node->mNumChildren; i-- > 0;) {  // reversed, so the first child comes out first
            if (p.node->mChildren[i]) {
                stack.push_back({p.node->mChildren[i], self, p.depth + 1});
            }
        }
    }
    // A helper's bone: follow the helper chain down to the node it serves.
    for (std::size_t i = c.nodes.size(); i-- > 0;) {
        AssimpNode& n = c.nodes[i];
        if (!n.helper) {
            n.owner = i;
        } else if (i + 1 < c.nodes.size() && c.nodes[i + 1].parent == i) {
            n.owner = c.nodes[i + 1].owner;  // the first child, pre-order's next
        }
    }
}

void markBone(AssimpConversion& c, std::size_t node)
{
    if (node == kNoNode) {
        return;
    }
    const std::size_t owner = c.nodes[node].owner;
    if (owner == kNoNode) {
        return;  // a helper that serves no node
    }
    for (std::size_t i = owner; i != kNoNode && !c.nodes[i].bone; i = c.nodes[i].parent) {
        if (!c.nodes[i].helper) {
            c.nodes[i].bone = true;
            c.skeleton = true;
        }
    }
}

void chooseAssimpBones(AssimpConversion& c)
{
    const aiScene& s = c.scene;
    for (unsigned m = 0; s.mMeshes && m < s.mNumMeshes; ++m) {
        const aiMesh* mesh = s.mMeshes[m];
        for (unsigned b = 0; mesh && mesh->mBones && b < mesh->mNumBones; ++b) {
            if (mesh->mBones[b]) {
                markBone(c, assimpNodeNamed(c, mesh->mBones[b]->mName));
            }
        }
    }
    for (unsigned a = 0; s.mAnimations && a < s.mNumAnimations; ++a) {
        const aiAnimation* animation = s.mAnimations[a];
        for (unsigned ch = 0; animation && animation->mChannels && ch < animation->mNumChannels; ++ch) {
            if (animation->mChannels[ch]) {
                markBone(c, assimpNodeNamed(c, animation->mChannels[ch]->mNodeName));
            }
        }
    }
    if (!c.skeleton) {
        return;
    }
    for (std::size_t i = 0; i < c.nodes.size(); ++i) {
        if (c.nodes[i].node->mNumMeshes > 0) {
            markBone(c, i);
        }
    }
}

// The bone of node i with the subtree of bones below it; helpers between
// it and its parent bone multiply into its rest transform (chain).
Bone makeBone(AssimpConversion& c, std::size_t i, const Matrix4& chain)
{
    Bone bone;
    const aiNode& node = *c.nodes[i].node;
    bone.name.assign(node.mName.C_Str(), node.mName.length);
    mul(chain, c.nodes[i].local, bone.localMatrix);
    if (!invert(bone.localMatrix, bone.inverseLocalMatrix)) {
        failAssimp(c, "node \"" + bone.name + "\" has a transform that cannot be undone (scale 0)");
    }
    // The bones below: children in the tree's order, through helper chains.
    std::vector<std::pair<std::size_t, Matrix4>> pending;
    for (std::size_t child = i + 1; child < c.nodes.size() && c.nodes[child].parent != kNoNode; ++child) {
        // Pre-order: the children of i follow it; scan only direct children
        // and helpers' children reached through them.
        const std::size_t parent = c.nodes[child].parent;
        if (parent < i) {
            break;  // left i's subtree
        }
        Matrix4 through;
        bool reachable = parent == i;
        if (!reachable) {
            for (const auto& [helper, m] : pending) {
                if (helper == parent) {
                    through = m;
                    reachable = true;
                    break;
                }
            }
        }
        if (!reachable) {
            continue;
        }
        if (c.nodes[child].helper) {
            Matrix4 m;
            mul(through, c.nodes[child].local, m);
            pending.emplace_back(child, m);
        } else if (c.nodes[child].bone) {
            bone.children.push_back(makeBone(c, child, through));
        }
    }
    return bone;
}

void buildAssimpSkeleton(AssimpConversion& c)
{
    if (!c.skeleton) {
        return;
    }
    c.model.rootBone = makeBone(c, 0, Matrix4{});
    listBones(c.model.rootBone, c.bones);
    // Pre-order of the bones is pre-order of their nodes.
    std::int32_t next = 0;
    for (AssimpNode& n : c.nodes) {
        if (n.bone) {
            n.boneIndex = next++;
        }
    }
}

// An FBX file's axes and unit, from its GlobalSettings (kept by Assimp as the
// scene's metadata): the matrix that takes the file's right, up and front
// axes to x, y and z, in metres.
Matrix4 fbxAxes(const aiScene& scene, std::vector<std::string>& notes)
{
    Matrix4 m;
    if (!scene.mMetaData) {
        return m;
    }
    const auto integer = [&](const char* key, int fallback) {
        int value = fallback;
        return scene.mMetaData->Get(key, value) ? value : fallback;
    };
    int up = integer("UpAxis", 1), front = integer("FrontAxis", 2), coord = integer("CoordAxis", 0);
    const int upSign = integer("UpAxisSign", 1), frontSign = integer("FrontAxisSign", 1),
              coordSign = integer("CoordAxisSign", 1);
    double unit = 1.0;
    float unitFloat = 1.0f;
    if (scene.mMetaData->Get("UnitScaleFactor", unit)) {
    } else if (scene.mMetaData->Get("UnitScaleFactor", unitFloat)) {
        unit = unitFloat;
    }
    if (!std::isfinite(unit) || unit <= 0) {
        unit = 1.0;
    }
    const bool valid = up >= 0 && up < 3 && front >= 0 && front < 3 && coord >= 0 && coord < 3 && up != front &&
                       up != coord && front != coord;
    if (!valid) {
        notes.push_back("its axes are not three different ones: read as y up");
        up = 1, front = 2, coord = 0;
    }
    const float scale = static_cast<float>(unit / 100.0);  // the file's unit in centimetres
    for (int col = 0; col < 3; ++col) {
        m(0, col) = col == coord ? (coordSign < 0 ? -scale : scale) : 0.0f;
        m(1, col) = col == up ? (upSign < 0 ? -scale : scale) : 0.0f;
        m(2, col) = col == front ? (frontSign < 0 ? -scale : scale) : 0.0f;
    }
    notes.push_back("axes: right " + std::string(coordSign < 0 ? "-" : "+") + "xyz"[coord] + ", up " +
                    (upSign < 0 ? "-" : "+") + "xyz"[up] + ", front " + (frontSign < 0 ? "-" : "+") + "xyz"[front] +
                    "; unit " + std::to_string(unit) + " cm");
    return m;
}

class ProgressRelay : public Assimp::ProgressHandler {
public:
    explicit ProgressRelay(AssimpProgress report) : report_(std::move(report)) {}
    bool Update(float percentage) override
    {
        if (report_ && percentage >= 0) {
            report_(std::min(percentage, 1.0f));
        }
        return true;
    }

private:
    AssimpProgress report_;
};

std::string endingOf(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    std::string e = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    for (char& ch : e) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return e;
}

std::vector<std::uint8_t> convertRead(const aiScene* scene, Assimp::Importer& importer, const std::string& name,
                                      const std::string& ending)
{
    scene = checkAssimpScene(importer, scene);
    if (!scene) {
        if (std::strstr(importer.GetErrorString(), "bad_alloc")) {
            throw std::bad_alloc();  // Assimp caught it; the worker says it ran out
        }
        throw ImportError("\"" + name + "\" cannot be read: " + importer.GetErrorString());
    }
    std::vector<std::string> notes;
    const Model model = convertAssimpScene(*scene, name, ending, notes);
    return writeModelWire(model, notes);
}

}  // namespace

void prepareAssimpImporter(Assimp::Importer& importer)
{
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
}

const aiScene* checkAssimpScene(Assimp::Importer& importer, const aiScene* scene)
{
    // Assimp's check of its own scene refuses one without meshes, which a
    // skeleton with its motion (BVH) is: it is asked for only where there
    // are meshes.
    if (scene && scene->mNumMeshes > 0) {
        scene = importer.ApplyPostProcessing(aiProcess_ValidateDataStructure);
    }
    return scene;
}

unsigned assimpReadFlags()
{
    return aiProcess_Triangulate | aiProcess_GenSmoothNormals | aiProcess_FlipUVs;
}

Model convertAssimpScene(const aiScene& scene, const std::string& fileName, const std::string& ending,
                         std::vector<std::string>& notes)
{
    AssimpConversion c(scene, fileName, notes);
    listAssimpNodes(c);
    chooseAssimpBones(c);
    buildAssimpSkeleton(c);
    addAssimpMaterials(c);
    addAssimpMeshes(c);
    addAssimpClips(c);
    if (c.model.triangles.empty() && !c.skeleton) {
        failAssimp(c, "it holds neither triangles nor a skeleton");
    }
    c.model.animator.rate = 1.0f;  // key times are seconds
    if (ending == "smd") {
        return std::move(c.model);  // Valve's frame is ours: z up, and Assimp keeps it
    }
    const Matrix4 axes = ending == "fbx" ? fbxAxes(scene, notes) : Matrix4{};
    Matrix4 turn;
    yUpToZUpMatrix(turn);
    mul(turn, axes, c.model.baseTransform);
    return std::move(c.model);
}

std::vector<std::uint8_t> readWithAssimp(const std::string& path, const AssimpProgress& progress)
{
    Assimp::Importer importer;
    prepareAssimpImporter(importer);
    importer.SetProgressHandler(new ProgressRelay(progress));  // the importer owns it
    const aiScene* scene = importer.ReadFile(path, assimpReadFlags());
    return convertRead(scene, importer, path, endingOf(path));
}

std::vector<std::uint8_t> readWithAssimpFromMemory(const std::uint8_t* data, std::size_t size, const std::string& hint)
{
    Assimp::Importer importer;
    prepareAssimpImporter(importer);
    const aiScene* scene = importer.ReadFileFromMemory(data, size, assimpReadFlags(), hint.c_str());
    return convertRead(scene, importer, "input." + hint, hint);
}

}  // namespace fyrel
