#include "importers/x/x_hierarchy.h"

#include "diagnostics/debug_output.h"
#include "images/texture_image.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace fyrel {

namespace {

// Estimates for the memory budget (x_budget.h). A frame: its place in the
// list (appended: the list may hold kXGrowthFactor times its frames while it
// grows), its name's characters, and its entry on the work stack. A mesh use:
// its place in the list and in its frame's list of meshes (both appended),
// the block of its materials, and per material the copy (whose name's
// characters are counted apart); a built mesh with its record, shared
// ownership and map entry; per triangle, its three indices (appended: twice
// their size once grown); per vertex, its position.
constexpr std::uint64_t kFrameCost = kXGrowthFactor * sizeof(XFrame);
constexpr std::uint64_t kMeshUseCost = kXGrowthFactor * (sizeof(XMeshUse) + sizeof(std::uint32_t)) + kXAllocOverhead;
constexpr std::uint64_t kMeshUseMaterialCost = sizeof(XMaterial);
constexpr std::uint64_t kMeshCost = 256;
constexpr std::uint64_t kTriangleCost = 2 * 3 * sizeof(std::uint32_t);
constexpr std::uint64_t kVertexCost = sizeof(Vector3);
constexpr std::uint64_t kWorkEntryCost = kXGrowthFactor * sizeof(std::pair<const void*, std::int32_t>);

std::string describeObject(const XObject& o)
{
    return o.name.empty() ? o.type : o.type + " \"" + o.name + "\"";
}

[[noreturn]] void fail(const XFileData& file, const XObject& o, const std::string& what)
{
    throw XReadError(what + " at " + file.where(o.location));
}

// A float from a double without undefined behaviour: values beyond the float
// range become infinities, NaN stays NaN.
float toFloat(double v)
{
    if (v > FLT_MAX) {
        return INFINITY;
    }
    if (v < -FLT_MAX) {
        return -INFINITY;
    }
    return static_cast<float>(v);
}

// Reads an object's numbers in order; the reader laid them out by template,
// but every read is still checked.
class Values {
public:
    Values(const XFileData& file, const XObject& object) : file_(file), object_(object) {}

    double take()
    {
        if (next_ >= object_.numbers.size()) {
            fail(file_, object_, describeObject(object_) + " ends before its values do");
        }
        return object_.numbers[next_++];
    }

    std::uint32_t takeCount() { return static_cast<std::uint32_t>(take()); }

    float takeFinite(const char* what)
    {
        float f = toFloat(take());
        if (!std::isfinite(f)) {
            fail(file_, object_, describeObject(object_) + " holds a " + what + " that is not a finite float");
        }
        return f;
    }

    XMatrix takeMatrix()
    {
        XMatrix m;
        for (float& e : m.m) {
            e = takeFinite("matrix element");
        }
        return m;
    }

private:
    const XFileData& file_;
    const XObject& object_;
    std::size_t next_ = 0;
};

struct BuiltMesh {
    std::shared_ptr<const XMesh> mesh;
    std::shared_ptr<const XSkinInfo> skin;
    std::vector<XMaterial> materials;
};

class Loader {
public:
    Loader(const XFileData& file, const std::string& textureFolder)
        : file_(file), textureFolder_(textureFolder), budget_(std::uint64_t{file.contentBytes} + 65536),
          memory_(file.budget)
    {
    }

    XFrames run();

private:
    // A frame still to be listed: its object (null for a mesh outside any
    // frame, which gets an unnamed frame of its own) and its parent's index.
    struct Pending {
        const XObject* object;
        std::int32_t parent;
    };

    // Counts bytes against what reading left of the file's memory budget.
    void charge(const XObject& o, std::uint64_t bytes)
    {
        if (!memory_.take(bytes)) {
            fail(file_, o, memory_.refusal());
        }
    }
    void addFrame(const XObject& object, std::int32_t parent, std::vector<Pending>& work);
    void addMeshUse(const XObject& meshObject, XFrame& frame);
    const BuiltMesh& meshOf(const XObject& meshObject);
    void readMeshGeometry(const XObject& o, XMesh& mesh, std::vector<std::uint32_t>& facesTriangles);
    void readMaterialList(const XObject& o, std::vector<XMaterial>& materials, XMesh& mesh,
                          const std::vector<std::uint32_t>& faceTriangles);
    void readTextureCoords(const XObject& o, XMesh& mesh);
    void readMaterials(const XObject& o, std::vector<XMaterial>& materials);
    XMaterial readMaterial(const XObject& o);
    std::shared_ptr<const XTexture> textureNamed(const std::string& name);
    XSkinBone readSkinWeights(const XObject& o, const XObject& meshObject, std::uint32_t vertexCount);

    const XFileData& file_;
    const std::string& textureFolder_;
    XFrames out_;
    std::unordered_map<const XObject*, BuiltMesh> meshes_;
    std::unordered_map<std::string, std::shared_ptr<const XTexture>> textures_;
    std::uint64_t used_ = 0;
    std::uint64_t budget_;
    XMemoryBudget memory_;
};

XFrames Loader::run()
{
    std::unordered_set<const XObject*> referenced;
    for (const XObject& o : file_.objects) {
        if (o.kind != XObjectKind::Frame) {
            continue;
        }
        for (const XChild& c : o.children) {
            if (c.isReference && c.object && c.object->kind == XObjectKind::Mesh) {
                referenced.insert(c.object);
            }
        }
    }
    // Taken from the back: pushed in reverse, so that frames are listed
    // before their children and children in file order.
    std::vector<Pending> work;
    for (auto it = file_.topLevel.rbegin(); it != file_.topLevel.rend(); ++it) {
        const XObject* top = *it;
        if (top->kind == XObjectKind::Frame ||
            (top->kind == XObjectKind::Mesh && referenced.count(top) == 0)) {
            charge(*top, kWorkEntryCost);
            work.push_back(Pending{top, kXTopFrame});
        }
    }
    if (work.empty()) {
        throw XReadError("the file holds no frame and no mesh");
    }
    while (!work.empty()) {
        const Pending next = work.back();
        work.pop_back();
        addFrame(*next.object, next.parent, work);
    }
    return std::move(out_);
}

// Lists the frame of a Frame object (or the unnamed frame of a Mesh outside
// any frame) with its transform and meshes, and puts its child frames on the
// work stack.
void Loader::addFrame(const XObject& object, std::int32_t parent, std::vector<Pending>& work)
{
    const bool wrapped = object.kind == XObjectKind::Mesh;
    charge(object, kFrameCost + (wrapped ? 0 : xStringHeapBytes(object.name.size())));
    // The budget bounds the frames far below 2^31.
    const auto self = static_cast<std::int32_t>(out_.frames.size());
    out_.frames.emplace_back();
    out_.frames.back().parent = parent;
    if (wrapped) {
        addMeshUse(object, out_.frames.back());
        return;
    }
    out_.frames.back().name = object.name;
    const std::size_t firstChild = work.size();
    for (const XChild& c : object.children) {
        const XObject* o = c.object;
        if (c.isReference) {
            if (!o) {
                fail(file_, object, describeObject(object) + " refers to \"" + c.referenceName +
                                        "\", which names no object before it");
            }
            if (o->kind == XObjectKind::Frame) {
                fail(file_, object, describeObject(object) + " includes frame \"" + c.referenceName +
                                        "\" by reference, which is not supported");
            }
        }
        switch (o->kind) {
        case XObjectKind::FrameTransformMatrix:
            out_.frames[self].transform = Values(file_, *o).takeMatrix();
            break;
        case XObjectKind::Frame:
            charge(*o, kWorkEntryCost);
            work.push_back(Pending{o, self});
            break;
        case XObjectKind::Mesh:
            addMeshUse(*o, out_.frames[self]);
            break;
        default:
            break;
        }
    }
    std::reverse(work.begin() + static_cast<std::ptrdiff_t>(firstChild), work.end());
}

void Loader::addMeshUse(const XObject& meshObject, XFrame& frame)
{
    const BuiltMesh& built = meshOf(meshObject);
    used_ += std::uint64_t{built.mesh->vertexCount()} + built.mesh->triangleCount();
    if (used_ > budget_) {
        fail(file_, meshObject, "the meshes of the frames add up to more vertices and triangles (" +
                                    std::to_string(used_) + ") than the file has bytes");
    }
    // Every use copies the mesh's materials, however small the mesh:
    // references cannot repeat it without paying for that.
    std::uint64_t materialNameBytes = 0;
    for (const XMaterial& m : built.materials) {
        materialNameBytes += xStringHeapBytes(m.name.size());
    }
    charge(meshObject, kMeshUseCost + xStringHeapBytes(meshObject.name.size()) +
                           kMeshUseMaterialCost * built.materials.size() + materialNameBytes);
    frame.meshes.push_back(static_cast<std::uint32_t>(out_.meshes.size()));
    out_.meshes.push_back(XMeshUse{meshObject.name, built.mesh, built.materials, built.skin});
}

const BuiltMesh& Loader::meshOf(const XObject& meshObject)
{
    if (auto it = meshes_.find(&meshObject); it != meshes_.end()) {
        return it->second;
    }
    charge(meshObject, kMeshCost);
    auto mesh = std::make_shared<XMesh>();
    std::vector<std::uint32_t> faceTriangles;  // per face of the file, how many triangles it became
    readMeshGeometry(meshObject, *mesh, faceTriangles);
    BuiltMesh built;
    std::shared_ptr<XSkinInfo> skin;
    bool materialsRead = false;
    for (const XChild& c : meshObject.children) {
        const XObject* o = c.object;
        if (!o) {
            continue;
        }
        if (o->kind == XObjectKind::MeshMaterialList && !materialsRead) {
            readMaterialList(*o, built.materials, *mesh, faceTriangles);
            materialsRead = true;
        } else if (o->kind == XObjectKind::MeshTextureCoords && mesh->texCoords.empty()) {
            readTextureCoords(*o, *mesh);
        } else if (o->kind == XObjectKind::XSkinMeshHeader || o->kind == XObjectKind::SkinWeights) {
            if (!skin) {
                charge(*o, sizeof(XSkinInfo) + 2 * kXAllocOverhead);
                skin = std::make_shared<XSkinInfo>();
            }
            if (o->kind == XObjectKind::SkinWeights) {
                skin->bones.push_back(readSkinWeights(*o, meshObject, mesh->vertexCount()));
            }
        }
    }
    built.mesh = std::move(mesh);
    built.skin = std::move(skin);
    return meshes_.emplace(&meshObject, std::move(built)).first->second;
}

void Loader::readMeshGeometry(const XObject& o, XMesh& mesh, std::vector<std::uint32_t>& faceTriangles)
{
    Values values(file_, o);
    std::uint32_t vertexCount = values.takeCount();
    if (vertexCount > o.numbers.size() / 3) {
        fail(file_, o, describeObject(o) + " ends before its vertices do");
    }
    charge(o, kVertexCost * vertexCount + kXAllocOverhead);
    mesh.positions.resize(vertexCount);
    for (Vector3& p : mesh.positions) {
        p.x = values.takeFinite("vertex coordinate");
        p.y = values.takeFinite("vertex coordinate");
        p.z = values.takeFinite("vertex coordinate");
    }
    std::uint32_t faceCount = values.takeCount();
    if (faceCount > o.numbers.size()) {
        fail(file_, o, describeObject(o) + " ends before its faces do");
    }
    charge(o, std::uint64_t{sizeof(std::uint32_t)} * faceCount + kXAllocOverhead);
    faceTriangles.reserve(faceCount);
    std::vector<std::uint32_t> corners;
    for (std::uint32_t f = 0; f < faceCount; ++f) {
        std::uint32_t cornerCount = values.takeCount();
        if (cornerCount > o.numbers.size()) {
            fail(file_, o, describeObject(o) + " ends before its faces do");
        }
        if (cornerCount > corners.capacity()) {
            charge(o, 2 * std::uint64_t{sizeof(std::uint32_t)} * cornerCount);
        }
        if (cornerCount > 2) {
            charge(o, kTriangleCost * (cornerCount - 2));
        }
        corners.resize(cornerCount);
        for (std::uint32_t& index : corners) {
            index = values.takeCount();
            if (index >= vertexCount) {
                fail(file_, o, "face " + std::to_string(f) + " of " + describeObject(o) + " uses vertex " +
                                   std::to_string(index) + ", but the mesh has " + std::to_string(vertexCount) +
                                   " vertices");
            }
        }
        for (std::uint32_t k = 2; k < cornerCount; ++k) {
            mesh.indices.push_back(corners[0]);
            mesh.indices.push_back(corners[k - 1]);
            mesh.indices.push_back(corners[k]);
        }
        faceTriangles.push_back(cornerCount > 2 ? cornerCount - 2 : 0);
    }
}

// nMaterials, nFaceIndexes, then a material index per face. A list shorter
// than the faces gives the faces after it its last index (exporters write a
// single index for a mesh of one material); an index beyond the materials
// leaves its face without one.
void Loader::readMaterialList(const XObject& o, std::vector<XMaterial>& materials, XMesh& mesh,
                              const std::vector<std::uint32_t>& faceTriangles)
{
    readMaterials(o, materials);
    Values values(file_, o);
    if (o.numbers.size() < 2) {
        return;
    }
    values.takeCount();  // nMaterials: the Material objects are what counts
    const std::uint32_t listed = values.takeCount();
    if (listed > o.numbers.size() - 2) {
        fail(file_, o, describeObject(o) + " ends before its face indexes do");
    }
    charge(o, std::uint64_t{sizeof(std::uint32_t)} * mesh.triangleCount() + kXAllocOverhead);
    mesh.triangleMaterials.reserve(mesh.triangleCount());
    std::uint32_t index = kXNoMaterial;
    for (std::size_t face = 0; face < faceTriangles.size(); ++face) {
        if (face < listed) {
            index = values.takeCount();
            if (index >= materials.size()) {
                index = kXNoMaterial;
            }
        }
        mesh.triangleMaterials.insert(mesh.triangleMaterials.end(), faceTriangles[face], index);
    }
}

// nTextureCoords, then u, v per vertex. A count other than the vertex
// count cannot be matched to the vertices: the mesh is drawn untextured.
void Loader::readTextureCoords(const XObject& o, XMesh& mesh)
{
    Values values(file_, o);
    if (o.numbers.empty()) {
        return;
    }
    const std::uint32_t count = values.takeCount();
    if (count != mesh.vertexCount() || o.numbers.size() - 1 < 2 * std::uint64_t{count}) {
        debugOutput(describeObject(o) + " has " + std::to_string(count) + " texture coordinates for " +
                    std::to_string(mesh.vertexCount()) + " vertices: they are not used\n");
        return;
    }
    charge(o, std::uint64_t{sizeof(float)} * 2 * count + kXAllocOverhead);
    mesh.texCoords.resize(2 * std::size_t{count});
    for (float& f : mesh.texCoords) {
        f = toFloat(values.take());
        f = std::isfinite(f) ? f : 0.0f;
    }
}

void Loader::readMaterials(const XObject& o, std::vector<XMaterial>& materials)
{
    for (const XChild& c : o.children) {
        if (c.isReference && !c.object) {
            fail(file_, o, describeObject(o) + " refers to \"" + c.referenceName +
                               "\", which names no object before it");
        }
        if (c.object->kind == XObjectKind::Material) {
            charge(o, kXGrowthFactor * sizeof(XMaterial) + xStringHeapBytes(c.object->name.size()) +
                          (c.object->strings.empty() ? 0 : xStringHeapBytes(c.object->strings.front().size())));
            materials.push_back(readMaterial(*c.object));
        } else if (c.isReference) {
            fail(file_, o, describeObject(o) + " refers to \"" + c.referenceName + "\", which is a " +
                               c.object->type + ", not a Material");
        }
    }
}

XMaterial Loader::readMaterial(const XObject& o)
{
    Values values(file_, o);
    XMaterial m;
    m.name = o.name;
    m.diffuse = XColor{toFloat(values.take()), toFloat(values.take()), toFloat(values.take()), toFloat(values.take())};
    m.power = toFloat(values.take());
    m.specular = XColor{toFloat(values.take()), toFloat(values.take()), toFloat(values.take()), 1.0f};
    m.emissive = XColor{toFloat(values.take()), toFloat(values.take()), toFloat(values.take()), 1.0f};
    for (const XChild& c : o.children) {
        if (c.object && c.object->kind == XObjectKind::TextureFilename && !c.object->strings.empty()) {
            if (!c.object->strings.front().empty()) {
                m.texture = textureNamed(c.object->strings.front());
            }
            break;
        }
    }
    return m;
}

// Each name is looked up once per file, however many materials name it.
std::shared_ptr<const XTexture> Loader::textureNamed(const std::string& name)
{
    if (auto it = textures_.find(name); it != textures_.end()) {
        return it->second;
    }
    auto texture = std::make_shared<XTexture>(XTexture{name, findTextureFile(name, textureFolder_)});
    textures_.emplace(name, texture);
    return texture;
}

XSkinBone Loader::readSkinWeights(const XObject& o, const XObject& meshObject, std::uint32_t vertexCount)
{
    if (o.strings.empty()) {
        fail(file_, o, describeObject(o) + " has no bone name");
    }
    Values values(file_, o);
    XSkinBone bone;
    bone.name = o.strings.front();
    std::uint32_t count = values.takeCount();
    if (count > o.numbers.size() / 2) {
        fail(file_, o, describeObject(o) + " ends before its weights do");
    }
    charge(o, kXGrowthFactor * sizeof(XSkinBone) + xStringHeapBytes(bone.name.size()) + 2 * kXAllocOverhead +
                  std::uint64_t{sizeof(std::uint32_t) + sizeof(float)} * count);
    bone.vertices.resize(count);
    for (std::uint32_t& v : bone.vertices) {
        v = values.takeCount();
        if (v >= vertexCount) {
            fail(file_, o, describeObject(o) + " of bone \"" + bone.name + "\" weights vertex " +
                               std::to_string(v) + ", but " + describeObject(meshObject) + " has " +
                               std::to_string(vertexCount) + " vertices");
        }
    }
    bone.weights.resize(count);
    for (float& w : bone.weights) {
        w = values.takeFinite("weight");
    }
    bone.offset = values.takeMatrix();
    return bone;
}

}  // namespace

XFrames readXFrames(const XFileData& file, const std::string& textureFolder)
{
    return Loader(file, textureFolder).run();
}

}  // namespace fyrel
