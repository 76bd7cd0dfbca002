#include "importers/x/x_hierarchy.h"

#include "diagnostics/debug_output.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace fyrel {

void XSkinInfo::GetBoneInfluence(std::uint32_t bone, std::uint32_t* vertices, float* weights) const
{
    const XSkinBone& b = bones[bone];
    std::copy(b.vertices.begin(), b.vertices.end(), vertices);
    std::copy(b.weights.begin(), b.weights.end(), weights);
}

void frameDestroy(XFrame* root, XHierarchyAllocator& allocator)
{
    // Children are spliced into the sibling chain ahead of the frame's own
    // siblings, so the whole tree is freed in one pass without a stack.
    XFrame* frame = root;
    while (frame) {
        if (XFrame* child = frame->pFrameFirstChild) {
            XFrame* tail = child;
            while (tail->pFrameSibling) {
                tail = tail->pFrameSibling;
            }
            tail->pFrameSibling = frame->pFrameSibling;
            frame->pFrameSibling = child;
            frame->pFrameFirstChild = nullptr;
        }
        XFrame* next = frame->pFrameSibling;
        XMeshContainer* container = frame->pMeshContainer;
        while (container) {
            XMeshContainer* nextContainer = container->pNextMeshContainer;
            allocator.DestroyMeshContainer(container);
            container = nextContainer;
        }
        allocator.DestroyFrame(frame);
        frame = next;
    }
}

namespace {

constexpr std::uint32_t kNoNeighbour = 0xFFFFFFFFu;

// An edge of a triangle, found under its lower vertex.
struct AdjacencyEdge {
    std::uint32_t b;     // the upper vertex
    std::uint32_t slot;  // the corner the edge starts at: 3 * triangle + corner
};

// Estimates for the memory budget (x_budget.h). A mesh container with its
// blocks (the allocator's record, adjacency, materials, textures, material
// names); per material of a container, its copy, its texture slot and its
// name (the name's characters are counted apart); a built mesh with
// its record, shared ownership and map entry; per triangle, its three
// indices (appended: twice their size once grown), its adjacency entry and
// the three edges sorted to find it, all held at once while the adjacency is
// worked out; per vertex, its position and the two counters of that sort.
constexpr std::uint64_t kContainerCost = 208;
constexpr std::uint64_t kContainerMaterialCost =
    sizeof(XMaterial9) + sizeof(std::shared_ptr<const void>) + sizeof(std::string);
constexpr std::uint64_t kMeshCost = 256;
constexpr std::uint64_t kTriangleCost = 2 * 3 * sizeof(std::uint32_t) + 3 * sizeof(std::uint32_t) +
                                        3 * 2 * sizeof(std::uint32_t);
constexpr std::uint64_t kVertexCost = sizeof(Vector3) + 2 * sizeof(std::uint32_t);
constexpr std::uint64_t kWorkEntryCost = kXGrowthFactor * sizeof(std::pair<const void*, void*>);

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
    std::vector<std::uint32_t> adjacency;
};

// Within one group of edges that share their lower vertex, in slot order:
// each edge's neighbour. Of the edges with the same upper vertex, the first
// one's triangle is the neighbour of all the others; its own neighbour is the
// first other triangle among them.
void matchGroup(const AdjacencyEdge* group, std::size_t size, std::uint32_t* adjacency)
{
    for (std::size_t k = 0; k < size; ++k) {
        std::size_t f = 0;
        while (group[f].b != group[k].b) {
            ++f;
        }
        const std::uint32_t first = group[f].slot / 3;
        std::uint32_t neighbour = first;
        if (group[k].slot / 3 == first) {
            neighbour = kNoNeighbour;
            for (std::size_t m = f + 1; m < size; ++m) {
                if (group[m].b == group[k].b && group[m].slot / 3 != first) {
                    neighbour = group[m].slot / 3;
                    break;
                }
            }
        }
        adjacency[group[k].slot] = neighbour;
    }
}

// For each edge of each triangle, the other triangle that shares its two
// vertices (the first one found), or kNoNeighbour. Indices are below the
// mesh's vertex count (checked when read).
std::vector<std::uint32_t> computeAdjacency(const XMesh& mesh)
{
    // Groups of a vertex's edges are a handful long in any real mesh: they
    // are matched by scanning. Longer ones (fans around one vertex) are
    // sorted by upper vertex first, so that no file can make it quadratic.
    constexpr std::size_t kScannedGroup = 16;
    const std::size_t slots = mesh.indices.size();
    const std::uint32_t* indices = mesh.indices.data();
    std::vector<std::uint32_t> adjacency(slots, kNoNeighbour);
    // Edges grouped by their lower vertex with a counting sort, which keeps
    // slot order within each group.
    std::vector<std::uint32_t> start(std::size_t{mesh.GetNumVertices()} + 1, 0);
    for (std::size_t s = 0; s < slots; s += 3) {
        const std::uint32_t p = indices[s], q = indices[s + 1], r = indices[s + 2];
        ++start[std::min(p, q) + 1];
        ++start[std::min(q, r) + 1];
        ++start[std::min(r, p) + 1];
    }
    for (std::size_t v = 1; v < start.size(); ++v) {
        start[v] += start[v - 1];
    }
    std::vector<AdjacencyEdge> edges(slots);
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        const auto add = [&](std::uint32_t p, std::uint32_t q, std::size_t slot) {
            edges[fill[std::min(p, q)]++] = AdjacencyEdge{std::max(p, q), static_cast<std::uint32_t>(slot)};
        };
        for (std::size_t s = 0; s < slots; s += 3) {
            const std::uint32_t p = indices[s], q = indices[s + 1], r = indices[s + 2];
            add(p, q, s);
            add(q, r, s + 1);
            add(r, p, s + 2);
        }
    }
    for (std::size_t v = 0; v + 1 < start.size(); ++v) {
        AdjacencyEdge* const group = edges.data() + start[v];
        const std::size_t size = start[v + 1] - start[v];
        if (size <= kScannedGroup) {
            matchGroup(group, size, adjacency.data());
            continue;
        }
        std::sort(group, group + size, [](const AdjacencyEdge& x, const AdjacencyEdge& y) {
            return x.b != y.b ? x.b < y.b : x.slot < y.slot;
        });
        for (std::size_t i = 0; i < size;) {
            std::size_t j = i;
            while (j < size && group[j].b == group[i].b) {
                ++j;
            }
            const std::uint32_t first = group[i].slot / 3;
            std::uint32_t second = kNoNeighbour;
            for (std::size_t k = i; k < j && second == kNoNeighbour; ++k) {
                if (group[k].slot / 3 != first) {
                    second = group[k].slot / 3;
                }
            }
            for (std::size_t k = i; k < j; ++k) {
                adjacency[group[k].slot] = group[k].slot / 3 == first ? second : first;
            }
            i = j;
        }
    }
    return adjacency;
}

class Loader {
public:
    Loader(const XFileData& file, XHierarchyAllocator& allocator)
        : file_(file), allocator_(allocator), budget_(std::uint64_t{file.contentBytes} + 65536),
          memory_(file.budget)
    {
    }

    XFrame* run();

private:
    // Counts bytes against what reading left of the file's memory budget.
    void charge(const XObject& o, std::uint64_t bytes)
    {
        if (!memory_.take(bytes)) {
            fail(file_, o, memory_.refusal());
        }
    }
    // A frame record for the object, with its name and its place on the work list.
    XFrame* createFrame(const XObject& o, const std::string& name)
    {
        charge(o, sizeof(XFrame) + kXAllocOverhead + (name.empty() ? 0 : name.size() + 1 + kXAllocOverhead) +
                      kWorkEntryCost);
        return allocator_.CreateFrame(name.empty() ? nullptr : name.c_str());
    }
    XMeshContainer* createContainer(const XObject& meshObject);
    void fillFrame(const XObject& object, XFrame* frame,
                   std::vector<std::pair<const XObject*, XFrame*>>& work);
    const BuiltMesh& meshOf(const XObject& meshObject);
    void readMeshGeometry(const XObject& o, XMesh& mesh, std::vector<std::uint32_t>& facesTriangles);
    void readMaterialList(const XObject& o, std::vector<XMaterial>& materials, XMesh& mesh,
                          const std::vector<std::uint32_t>& faceTriangles);
    void readTextureCoords(const XObject& o, XMesh& mesh);
    void readMaterials(const XObject& o, std::vector<XMaterial>& materials);
    XMaterial readMaterial(const XObject& o);
    XSkinBone readSkinWeights(const XObject& o, const XObject& meshObject, std::uint32_t vertexCount);

    const XFileData& file_;
    XHierarchyAllocator& allocator_;
    std::unordered_map<const XObject*, BuiltMesh> meshes_;
    std::uint64_t used_ = 0;
    std::uint64_t budget_;
    XMemoryBudget memory_;
};

XFrame* Loader::run()
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

    XFrameTree tree(allocator_);
    XFrame* last = nullptr;
    auto linkTop = [&](XFrame* frame) {
        if (last) {
            last->pFrameSibling = frame;
        } else {
            tree.reset(frame);
        }
        last = frame;
    };
    std::vector<std::pair<const XObject*, XFrame*>> work;
    for (const XObject* top : file_.topLevel) {
        if (top->kind == XObjectKind::Frame) {
            XFrame* frame = createFrame(*top, top->name);
            linkTop(frame);
            work.emplace_back(top, frame);
        } else if (top->kind == XObjectKind::Mesh && referenced.count(top) == 0) {
            XFrame* frame = createFrame(*top, "");
            linkTop(frame);
            frame->pMeshContainer = createContainer(*top);
        }
    }
    if (!tree.get()) {
        throw XReadError("the file holds no frame and no mesh");
    }
    while (!work.empty()) {
        auto [object, frame] = work.back();
        work.pop_back();
        fillFrame(*object, frame, work);
    }
    return tree.release();
}

void Loader::fillFrame(const XObject& object, XFrame* frame,
                       std::vector<std::pair<const XObject*, XFrame*>>& work)
{
    XFrame* lastChild = nullptr;
    XMeshContainer* lastContainer = nullptr;
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
            frame->TransformationMatrix = Values(file_, *o).takeMatrix();
            break;
        case XObjectKind::Frame: {
            XFrame* child = createFrame(*o, o->name);
            (lastChild ? lastChild->pFrameSibling : frame->pFrameFirstChild) = child;
            lastChild = child;
            work.emplace_back(o, child);
            break;
        }
        case XObjectKind::Mesh: {
            XMeshContainer* container = createContainer(*o);
            (lastContainer ? lastContainer->pNextMeshContainer : frame->pMeshContainer) = container;
            lastContainer = container;
            break;
        }
        default:
            break;
        }
    }
}

XMeshContainer* Loader::createContainer(const XObject& meshObject)
{
    const BuiltMesh& built = meshOf(meshObject);
    used_ += std::uint64_t{built.mesh->GetNumVertices()} + built.mesh->GetNumFaces();
    if (used_ > budget_) {
        fail(file_, meshObject, "the meshes of the frames add up to more vertices and triangles (" +
                                    std::to_string(used_) + ") than the file has bytes");
    }
    // Every container copies the mesh's adjacency and materials, however
    // small the mesh: references cannot repeat it without paying for that.
    const std::uint64_t nameBytes = meshObject.name.empty() ? 0 : meshObject.name.size() + 1 + kXAllocOverhead;
    const std::uint64_t adjacencyBytes = std::uint64_t{3 * sizeof(std::uint32_t)} * built.mesh->GetNumFaces();
    std::uint64_t materialNameBytes = 0;
    for (const XMaterial& m : built.materials) {
        materialNameBytes += xStringHeapBytes(m.name.size());
    }
    charge(meshObject, kContainerCost + nameBytes + adjacencyBytes +
                           kContainerMaterialCost * built.materials.size() + materialNameBytes);
    const char* name = meshObject.name.empty() ? nullptr : meshObject.name.c_str();
    return allocator_.CreateMeshContainer(name, XMeshData{built.mesh},
                                          built.materials.empty() ? nullptr : built.materials.data(),
                                          static_cast<std::uint32_t>(built.materials.size()),
                                          built.adjacency.data(), built.skin);
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
                skin->bones.push_back(readSkinWeights(*o, meshObject, mesh->GetNumVertices()));
            }
        }
    }
    built.adjacency = computeAdjacency(*mesh);
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
    charge(o, std::uint64_t{sizeof(std::uint32_t)} * mesh.GetNumFaces() + kXAllocOverhead);
    mesh.triangleMaterials.reserve(mesh.GetNumFaces());
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
    if (count != mesh.GetNumVertices() || o.numbers.size() - 1 < 2 * std::uint64_t{count}) {
        debugOutput(describeObject(o) + " has " + std::to_string(count) + " texture coordinates for " +
                    std::to_string(mesh.GetNumVertices()) + " vertices: they are not used\n");
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
    XMaterial material;
    material.name = o.name;
    XMaterial9& m = material.MatD3D;
    m.diffuse = XColorValue{toFloat(values.take()), toFloat(values.take()), toFloat(values.take()),
                            toFloat(values.take())};
    m.power = toFloat(values.take());
    m.specular = XColorValue{toFloat(values.take()), toFloat(values.take()), toFloat(values.take()), 1.0f};
    m.emissive = XColorValue{toFloat(values.take()), toFloat(values.take()), toFloat(values.take()), 1.0f};
    for (const XChild& c : o.children) {
        if (c.object && c.object->kind == XObjectKind::TextureFilename && !c.object->strings.empty()) {
            material.textureFile = c.object->strings.front();
            break;
        }
    }
    return material;
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

XFrame* loadMeshHierarchyFromX(const XFileData& file, XHierarchyAllocator& allocator)
{
    return Loader(file, allocator).run();
}

}  // namespace fyrel
