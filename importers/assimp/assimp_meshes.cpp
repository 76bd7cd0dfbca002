// Materials and meshes of an Assimp scene (assimp_conversion.h says what is
// kept, assimp_record.h the order of the steps).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include <assimp/material.h>

#include "images/texture_image.h"
#include "importers/assimp/assimp_record.h"

namespace fyrel {
namespace {

void colour(const aiMaterial& m, const char* key, unsigned type, unsigned index, float out[4])
{
    aiColor4D c;
    if (aiGetMaterialColor(&m, key, type, index, &c) == AI_SUCCESS && std::isfinite(c.r) && std::isfinite(c.g) &&
        std::isfinite(c.b)) {
        out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = 1.0f;
    }
}

TextureWrap wrapOf(aiTextureMapMode mode)
{
    switch (mode) {
    case aiTextureMapMode_Clamp:
    case aiTextureMapMode_Decal:
        return TextureWrap::ClampToEdge;
    case aiTextureMapMode_Mirror:
        return TextureWrap::MirroredRepeat;
    default:
        return TextureWrap::Repeat;
    }
}

// A texture the file carries: compressed bytes as they are when they are an
// image file, raw BGRA texels as PNG.
std::shared_ptr<const std::vector<std::uint8_t>> embedded(const aiTexture& t)
{
    if (!t.pcData) {
        return nullptr;
    }
    if (t.mHeight == 0) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(t.pcData);
        return std::make_shared<const std::vector<std::uint8_t>>(bytes, bytes + t.mWidth);
    }
    if (t.mWidth > static_cast<unsigned>(kMaxImageSide) || t.mHeight > static_cast<unsigned>(kMaxImageSide)) {
        return nullptr;
    }
    Image image;
    image.width = static_cast<int>(t.mWidth);
    image.height = static_cast<int>(t.mHeight);
    const std::size_t pixels = std::size_t{t.mWidth} * t.mHeight;
    image.data.resize(4 * pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const aiTexel& p = t.pcData[i];
        image.data[4 * i] = p.r, image.data[4 * i + 1] = p.g, image.data[4 * i + 2] = p.b, image.data[4 * i + 3] = p.a;
    }
    std::vector<std::uint8_t> png = encodePng(image);
    return png.empty() ? nullptr : std::make_shared<const std::vector<std::uint8_t>>(std::move(png));
}

void texture(const AssimpConversion& c, const aiMaterial& m, Material& out, int& carried)
{
    aiString path;
    aiTextureMapMode modes[2] = {aiTextureMapMode_Wrap, aiTextureMapMode_Wrap};
    aiTextureType type = aiTextureType_DIFFUSE;
    if (m.GetTextureCount(type) == 0) {
        type = aiTextureType_BASE_COLOR;
    }
    if (m.GetTextureCount(type) == 0 ||
        aiGetMaterialTexture(&m, type, 0, &path, nullptr, nullptr, nullptr, nullptr, modes, nullptr) != AI_SUCCESS) {
        return;
    }
    out.texture.assign(path.C_Str(), path.length);
    out.wrapS = wrapOf(modes[0]);
    out.wrapT = wrapOf(modes[1]);
    if (const aiTexture* inside = c.scene.GetEmbeddedTexture(path.C_Str())) {
        out.embeddedTexture = embedded(*inside);
        carried += out.embeddedTexture ? 1 : 0;
    }
}

// The vertices of one mesh placed at rest, their influences, and the mesh's
// triangles.
struct Influence {
    std::int32_t bone;
    float weight;
    std::uint32_t skinBone;  // which of the mesh's bones
};

Vector3 placePoint(const Matrix4& m, const aiVector3D& v)
{
    return {m(0, 0) * v.x + m(0, 1) * v.y + m(0, 2) * v.z + m(0, 3), m(1, 0) * v.x + m(1, 1) * v.y + m(1, 2) * v.z + m(1, 3),
            m(2, 0) * v.x + m(2, 1) * v.y + m(2, 2) * v.z + m(2, 3)};
}

// The transposed inverse: what turns normals.
Matrix4 inverseTranspose(const Matrix4& m)
{
    Matrix4 inverse, out;
    invert(m, inverse);
    for (int r = 0; r < 4; ++r) {
        for (int col = 0; col < 4; ++col) {
            out(r, col) = inverse(col, r);
        }
    }
    return out;
}

// Normals go by the inverse transpose (cof), so that scaled nodes keep them
// at right angles to their faces.
Vector3 placeNormal(const Matrix4& cof, const aiVector3D& n)
{
    return {cof(0, 0) * n.x + cof(0, 1) * n.y + cof(0, 2) * n.z, cof(1, 0) * n.x + cof(1, 1) * n.y + cof(1, 2) * n.z,
            cof(2, 0) * n.x + cof(2, 1) * n.y + cof(2, 2) * n.z};
}

// Normals made unit, as Assimp's already are (kept as they are then: the
// root and the division only for the others). One with no direction (STL
// files often store zeros, which Assimp keeps) becomes zero and counts in
// missing: its faces give it one (faceNormalsForMissing).
inline Vector3 unit(const Vector3& v, std::size_t& missing)
{
    const float l2 = v.x * v.x + v.y * v.y + v.z * v.z;
    if (std::fabs(l2 - 1.0f) < 1e-6f) {
        return v;
    }
    if (!(l2 > 0 && l2 <= std::numeric_limits<float>::max())) {  // decided before the root is there
        ++missing;
        return {};
    }
    const float r = 1.0f / std::sqrt(l2);  // one division, not three
    return {v.x * r, v.y * r, v.z * r};
}

// The vertices from first on whose normals are missing (zero) get the sum
// of the normals of the faces from firstFace on that use them, each as
// large as its face (so that a sliver counts little), made unit; one in no
// face with a direction points up the mesh's z.
void faceNormalsForMissing(Model& model, std::size_t first, std::size_t firstFace, bool all)
{
    std::vector<Vertex>& vs = model.vertices;
    // Which are missing; when all are (an STL file of zeros), no list.
    std::vector<std::uint8_t> missing(all ? 0 : vs.size() - first);
    for (std::size_t v = first; !all && v < vs.size(); ++v) {
        const Vector3& n = vs[v].normal;
        missing[v - first] = n.x == 0 && n.y == 0 && n.z == 0;
    }
    for (std::size_t f = firstFace; f < model.triangles.size(); ++f) {
        const std::uint32_t* i = model.triangles[f].indices;  // checked when added
        const Vector3 &a = vs[i[0]].position, &b = vs[i[1]].position, &c = vs[i[2]].position;
        const Vector3 u{b.x - a.x, b.y - a.y, b.z - a.z}, w{c.x - a.x, c.y - a.y, c.z - a.z};
        const Vector3 n{u.y * w.z - u.z * w.y, u.z * w.x - u.x * w.z, u.x * w.y - u.y * w.x};
        for (int k = 0; k < 3; ++k) {
            if (all || missing[i[k] - first]) {
                Vector3& out = vs[i[k]].normal;
                out = {out.x + n.x, out.y + n.y, out.z + n.z};
            }
        }
    }
    for (std::size_t v = first; v < vs.size(); ++v) {
        if (all || missing[v - first]) {
            Vector3& n = vs[v].normal;
            const float l = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            const float r = 1.0f / l;  // one division, not three: these are ours to round
            n = l > 0 && r > 0 ? Vector3{n.x * r, n.y * r, n.z * r} : Vector3{0, 0, 1};
        }
    }
}

// Whether the mesh whose vertices begin at first and whose faces begin at
// firstFace gives every face three vertices of its own, in order (as
// Assimp's STL reader does): each vertex then lies in one face only.
bool ownCorners(const Model& model, std::size_t first, std::size_t firstFace)
{
    const std::size_t faces = model.triangles.size() - firstFace;
    if (model.vertices.size() - first != 3 * faces) {
        return false;
    }
    std::uint32_t differs = 0;
    std::uint32_t next = static_cast<std::uint32_t>(first);
    for (std::size_t f = firstFace; f < model.triangles.size(); ++f, next += 3) {
        const std::uint32_t* i = model.triangles[f].indices;
        differs |= (i[0] ^ next) | (i[1] ^ (next + 1)) | (i[2] ^ (next + 2));
    }
    return differs == 0;
}

// The vertices of such a mesh whose normals are missing (zero) (all of them
// when all is true) get their face's: the face normal turned round, since
// Triangle::normal points away from the side its corners run
// counter-clockwise on, which Assimp's files face. One of a face without
// area points up the mesh's z, as a vertex in no face with a direction does.
void normalsOfOwnFaces(Model& model, std::size_t first, std::size_t firstFace, bool all)
{
    Vertex* v = model.vertices.data() + first;
    for (std::size_t f = firstFace; f < model.triangles.size(); ++f, v += 3) {
        const Vector3& n = model.triangles[f].normal;
        const Vector3 normal = n.x == 0 && n.y == 0 && n.z == 0 ? Vector3{0, 0, 1} : Vector3{-n.x, -n.y, -n.z};
        for (int k = 0; k < 3; ++k) {
            Vector3& out = v[k].normal;
            if (all || (out.x == 0 && out.y == 0 && out.z == 0)) {
                out = normal;
            }
        }
    }
}

// A mesh's vertices without skin: placed by their node (as they are when
// it sits at the origin), into room the caller made.
template <bool kAtOrigin>
void placeRigid(Vertex* out, const aiMesh& mesh, const Matrix4& m, const Matrix4& cof, std::size_t& missing)
{
    const aiVector3D* points = mesh.mVertices;
    std::size_t none = 0;  // in a register, not stored at every vertex
    for (std::size_t v = 0, n = mesh.mNumVertices; v < n; ++v) {
        const aiVector3D normal = mesh.mNormals ? mesh.mNormals[v] : aiVector3D(0, 0, 0);
        if constexpr (kAtOrigin) {
            out[v].position = {points[v].x, points[v].y, points[v].z};
            out[v].normal = unit({normal.x, normal.y, normal.z}, none);
        } else {
            out[v].position = placePoint(m, points[v]);
            out[v].normal = unit(placeNormal(cof, normal), none);
        }
    }
    missing += none;
}

// Room for more elements without a copy at each mesh: by at least doubling.
template <typename T>
void makeRoom(std::vector<T>& v, std::size_t more)
{
    if (v.capacity() - v.size() < more) {
        v.reserve(std::max(v.size() + more, 2 * v.capacity()));
    }
}

struct MeshCounts {
    std::size_t manyInfluences = 0;  // vertices with more than four
    std::size_t missingBones = 0;    // skin bones naming no node
    std::size_t otherFaces = 0;      // points and lines
};

void addMesh(AssimpConversion& c, const aiMesh& mesh, std::size_t nodeIndex, bool withCoords, MeshCounts& counts)
{
    Model& model = c.model;
    const AssimpNode& node = c.nodes[nodeIndex];
    const std::uint32_t first = static_cast<std::uint32_t>(model.vertices.size());
    const std::size_t n = mesh.mNumVertices;
    if (!mesh.mVertices || n == 0) {
        return;
    }
    // Each skin bone's rest placement and its vertices' influences, all in
    // one array, vertex by vertex (first[v] … first[v + 1]).
    std::vector<Matrix4> places, normalPlaces;
    std::vector<std::size_t> begins;
    std::vector<Influence> influences;
    std::vector<std::size_t> boneNode;  // per skin bone: its node, kNoNode when it names none
    if (c.skeleton && mesh.mNumBones > 0 && mesh.mBones) {
        places.resize(mesh.mNumBones);
        normalPlaces.resize(mesh.mNumBones);
        boneNode.assign(mesh.mNumBones, kNoNode);
        begins.assign(n + 1, 0);
        for (unsigned b = 0; b < mesh.mNumBones; ++b) {
            const aiBone* bone = mesh.mBones[b];
            const std::size_t at = bone ? assimpNodeNamed(c, bone->mName) : kNoNode;
            if (at == kNoNode || c.nodes[at].helper || !c.nodes[at].bone) {
                counts.missingBones += bone ? 1 : 0;
                continue;
            }
            boneNode[b] = at;
            mul(c.nodes[at].global, toMatrix(bone->mOffsetMatrix), places[b]);
            normalPlaces[b] = inverseTranspose(places[b]);
            for (unsigned w = 0; bone->mWeights && w < bone->mNumWeights; ++w) {
                const aiVertexWeight& vw = bone->mWeights[w];
                if (vw.mVertexId < n && vw.mWeight > 0 && std::isfinite(vw.mWeight)) {
                    ++begins[vw.mVertexId + 1];
                }
            }
        }
        for (std::size_t v = 0; v < n; ++v) {
            begins[v + 1] += begins[v];
        }
        influences.resize(begins[n]);
        std::vector<std::size_t> next(begins.begin(), begins.end() - 1);
        for (unsigned b = 0; b < mesh.mNumBones; ++b) {
            if (boneNode[b] == kNoNode) {
                continue;
            }
            const aiBone& bone = *mesh.mBones[b];
            for (unsigned w = 0; bone.mWeights && w < bone.mNumWeights; ++w) {
                const aiVertexWeight& vw = bone.mWeights[w];
                if (vw.mVertexId < n && vw.mWeight > 0 && std::isfinite(vw.mWeight)) {
                    influences[next[vw.mVertexId]++] = {c.nodes[boneNode[b]].boneIndex, vw.mWeight, b};
                }
            }
        }
    }
    const Matrix4 cof = inverseTranspose(node.global);
    const bool atOrigin = std::equal(node.global.m, node.global.m + 16, Matrix4{}.m);  // placed as they are
    const bool follows = c.skeleton && node.boneIndex != kNoBone;  // unskinned vertices move with their node
    std::size_t missing = 0;  // normals without direction (all where Assimp has none): the faces give them
    if (influences.empty()) {
        model.vertices.resize(first + n);
        if (atOrigin) {
            placeRigid<true>(model.vertices.data() + first, mesh, node.global, cof, missing);
        } else {
            placeRigid<false>(model.vertices.data() + first, mesh, node.global, cof, missing);
        }
        if (follows) {
            std::vector<VertexWeight>& weights = c.bones[static_cast<std::size_t>(node.boneIndex)]->weights;
            makeRoom(weights, n);
            for (std::size_t v = 0; v < n; ++v) {
                weights.push_back({static_cast<std::int32_t>(first + v), 1.0f});
            }
        }
    } else {
        // Room in each bone's weights for the influences it may keep.
        for (unsigned b = 0; b < mesh.mNumBones; ++b) {
            if (boneNode[b] != kNoNode) {
                // No more than the mesh's vertices: a count is not a promise.
                makeRoom(c.bones[static_cast<std::size_t>(c.nodes[boneNode[b]].boneIndex)]->weights,
                         std::min<std::size_t>(mesh.mBones[b]->mWeights ? mesh.mBones[b]->mNumWeights : 0, n));
            }
        }
    }
    for (std::size_t v = 0; v < n && !influences.empty(); ++v) {
        Vertex& out = model.vertices.emplace_back();  // in the room made for it, not zeroed ahead
        const aiVector3D normal = mesh.mNormals ? mesh.mNormals[v] : aiVector3D(0, 0, 0);
        Influence* list = influences.data() + begins[v];
        std::size_t count = begins[v + 1] - begins[v];
        if (count > 4) {
            std::partial_sort(list, list + 4, list + count,
                              [](const Influence& a, const Influence& b) { return a.weight > b.weight; });
            count = 4;
            ++counts.manyInfluences;
        }
        float sum = 0;
        for (std::size_t k = 0; k < count; ++k) {
            sum += list[k].weight;
        }
        if (sum > 0) {
            Vector3 p, q;
            for (std::size_t k = 0; k < count; ++k) {
                const Influence& i = list[k];
                const float w = i.weight / sum;
                const Vector3 at = placePoint(places[i.skinBone], mesh.mVertices[v]);
                const Vector3 nn = placeNormal(normalPlaces[i.skinBone], normal);
                p = {p.x + w * at.x, p.y + w * at.y, p.z + w * at.z};
                q = {q.x + w * nn.x, q.y + w * nn.y, q.z + w * nn.z};
                c.bones[static_cast<std::size_t>(i.bone)]->weights.push_back({static_cast<std::int32_t>(first + v), w});
            }
            out.position = p;
            out.normal = unit(q, missing);
        } else {
            if (atOrigin) {
                out.position = {mesh.mVertices[v].x, mesh.mVertices[v].y, mesh.mVertices[v].z};
                out.normal = unit({normal.x, normal.y, normal.z}, missing);
            } else {
                out.position = placePoint(node.global, mesh.mVertices[v]);
                out.normal = unit(placeNormal(cof, normal), missing);
            }
            if (follows) {
                c.bones[static_cast<std::size_t>(node.boneIndex)]->addWeight(static_cast<std::int32_t>(first + v), 1.0f);
            }
        }
    }
    if (withCoords) {
        model.texCoords.resize(first + n);
        if (mesh.mTextureCoords[0]) {
            for (std::size_t v = 0; v < n; ++v) {
                model.texCoords[first + v] = {mesh.mTextureCoords[0][v].x, mesh.mTextureCoords[0][v].y};
            }
        }
    }
    const std::uint32_t material = mesh.mMaterialIndex < c.model.materials.size() ? mesh.mMaterialIndex : 0;
    const std::size_t firstFace = model.triangles.size();
    // Room for every face, given back for the points and lines.
    model.triangles.resize(firstFace + (mesh.mFaces ? mesh.mNumFaces : 0));
    Triangle* t = model.triangles.data() + firstFace;
    std::uint32_t largest = 0;  // index, checked once after
    for (unsigned f = 0; mesh.mFaces && f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3 || !face.mIndices) {
            ++counts.otherFaces;
            continue;
        }
        const unsigned* i = face.mIndices;
        largest = std::max({largest, i[0], i[1], i[2]});
        t->indices[0] = first + i[0], t->indices[1] = first + i[1], t->indices[2] = first + i[2];
        t->material = material;
        ++t;
    }
    model.triangles.resize(static_cast<std::size_t>(t - model.triangles.data()));
    if (model.triangles.size() > firstFace && largest >= n) {
        failAssimp(c, "a face of mesh \"" + std::string(mesh.mName.C_Str()) + "\" names a vertex it does not have");
    }
    model.computeFaceNormals(firstFace, model.triangles.size());  // while the mesh is in the cache
    if (missing > 0 && ownCorners(model, first, firstFace)) {
        normalsOfOwnFaces(model, first, firstFace, missing == n);  // the sum of one face's normal, made unit, is its own
    } else if (missing > 0) {
        faceNormalsForMissing(model, first, firstFace, missing == n);
    }
}

// Assimp's stand-in for a skeleton without a mesh (pyramids along its
// bones), which its MD5 reader makes for an .md5anim read alone although it
// is asked not to: a mesh of the material Assimp names "SkeletonMaterial" in
// a scene it marks incomplete. The skeleton stays one, as a BVH file's does.
bool standIn(const AssimpConversion& c, const aiMesh& mesh)
{
    if (!(c.scene.mFlags & AI_SCENE_FLAGS_INCOMPLETE) || !c.scene.mMaterials ||
        mesh.mMaterialIndex >= c.scene.mNumMaterials || !c.scene.mMaterials[mesh.mMaterialIndex]) {
        return false;
    }
    aiString name;
    return c.scene.mMaterials[mesh.mMaterialIndex]->Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
           std::strcmp(name.C_Str(), "SkeletonMaterial") == 0;
}

}  // namespace

void addAssimpMaterials(AssimpConversion& c)
{
    int carried = 0;
    for (unsigned i = 0; c.scene.mMaterials && i < c.scene.mNumMaterials; ++i) {
        Material& out = c.model.materials.emplace_back();
        if (!c.scene.mMaterials[i]) {
            continue;
        }
        const aiMaterial& m = *c.scene.mMaterials[i];
        aiString name;
        if (m.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) {
            out.name.assign(name.C_Str(), name.length);
        }
        colour(m, AI_MATKEY_COLOR_AMBIENT, out.ambient);
        colour(m, AI_MATKEY_COLOR_DIFFUSE, out.diffuse);
        colour(m, AI_MATKEY_COLOR_SPECULAR, out.specular);
        colour(m, AI_MATKEY_COLOR_EMISSIVE, out.emissive);
        float opacity = 1.0f, shininess = 0.0f;
        if (m.Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS && std::isfinite(opacity)) {
            out.diffuse[3] = std::clamp(opacity, 0.0f, 1.0f);
        }
        if (m.Get(AI_MATKEY_SHININESS, shininess) == AI_SUCCESS && std::isfinite(shininess)) {
            out.shininess = std::clamp(shininess, 0.0f, 128.0f);
        }
        texture(c, m, out, carried);
    }
    if (carried > 0) {
        c.notes.push_back(std::to_string(carried) + " textures carried in the file");
    }
}

void addAssimpMeshes(AssimpConversion& c)
{
    bool withCoords = false;
    std::size_t total = 0;
    for (unsigned m = 0; c.scene.mMeshes && m < c.scene.mNumMeshes; ++m) {
        withCoords = withCoords || (c.scene.mMeshes[m] && c.scene.mMeshes[m]->mTextureCoords[0]);
    }
    // The meshes the nodes name, checked, and room for all they hold.
    std::vector<std::pair<std::size_t, const aiMesh*>> placed;  // node, mesh
    std::size_t faces = 0;
    for (std::size_t i = 0; i < c.nodes.size(); ++i) {
        const aiNode& node = *c.nodes[i].node;
        for (unsigned k = 0; k < node.mNumMeshes; ++k) {
            if (!node.mMeshes || !c.scene.mMeshes || node.mMeshes[k] >= c.scene.mNumMeshes ||
                !c.scene.mMeshes[node.mMeshes[k]]) {
                failAssimp(c, "node \"" + std::string(node.mName.C_Str()) + "\" names a mesh that does not exist");
            }
            const aiMesh& mesh = *c.scene.mMeshes[node.mMeshes[k]];
            if (standIn(c, mesh)) {
                continue;
            }
            total += mesh.mNumVertices;
            if (total > 0xffffffffu) {
                failAssimp(c, "it holds more vertices than a model can");
            }
            faces += mesh.mFaces ? mesh.mNumFaces : 0;
            placed.emplace_back(i, &mesh);
        }
    }
    c.model.vertices.reserve(total);
    c.model.texCoords.reserve(withCoords ? total : 0);
    c.model.triangles.reserve(faces);
    MeshCounts counts;
    for (const auto& [node, mesh] : placed) {
        addMesh(c, *mesh, node, withCoords, counts);
    }
    if (counts.manyInfluences > 0) {
        c.notes.push_back(std::to_string(counts.manyInfluences) +
                          " vertices have more than four bone weights: the strongest four are kept, renormalised");
    }
    if (counts.missingBones > 0) {
        c.notes.push_back(std::to_string(counts.missingBones) + " skin bones name no node and are left out");
    }
    if (counts.otherFaces > 0) {
        c.notes.push_back(std::to_string(counts.otherFaces) + " points and lines are not drawn");
    }
}

}  // namespace fyrel
