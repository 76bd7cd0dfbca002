#include "importers/x/x_templates.h"

#include <algorithm>
#include <charconv>

namespace fyrel {

namespace {

// The standard templates, in the format's own text syntax. Class ids are left
// out: the reader finds templates by name.
constexpr std::string_view kStandardTemplates = R"(
template Header { WORD major; WORD minor; DWORD flags; }
template Vector { FLOAT x; FLOAT y; FLOAT z; }
template Coords2d { FLOAT u; FLOAT v; }
template Matrix4x4 { array FLOAT matrix[16]; }
template ColorRGBA { FLOAT red; FLOAT green; FLOAT blue; FLOAT alpha; }
template ColorRGB { FLOAT red; FLOAT green; FLOAT blue; }
template IndexedColor { DWORD index; ColorRGBA indexColor; }
template Boolean { DWORD truefalse; }
template Boolean2d { Boolean u; Boolean v; }
template MaterialWrap { Boolean u; Boolean v; }
template TextureFilename { STRING filename; }
template Material { ColorRGBA faceColor; FLOAT power; ColorRGB specularColor; ColorRGB emissiveColor; [...] }
template MeshFace { DWORD nFaceVertexIndices; array DWORD faceVertexIndices[nFaceVertexIndices]; }
template MeshFaceWraps { DWORD nFaceWrapValues; array Boolean2d faceWrapValues[nFaceWrapValues]; }
template MeshTextureCoords { DWORD nTextureCoords; array Coords2d textureCoords[nTextureCoords]; }
template MeshMaterialList { DWORD nMaterials; DWORD nFaceIndexes; array DWORD faceIndexes[nFaceIndexes]; [Material] }
template MeshNormals { DWORD nNormals; array Vector normals[nNormals]; DWORD nFaceNormals; array MeshFace faceNormals[nFaceNormals]; }
template MeshVertexColors { DWORD nVertexColors; array IndexedColor vertexColors[nVertexColors]; }
template Mesh { DWORD nVertices; array Vector vertices[nVertices]; DWORD nFaces; array MeshFace faces[nFaces]; [...] }
template FrameTransformMatrix { Matrix4x4 frameMatrix; }
template Frame { [...] }
template FloatKeys { DWORD nValues; array FLOAT values[nValues]; }
template TimedFloatKeys { DWORD time; FloatKeys tfkeys; }
template AnimationKey { DWORD keyType; DWORD nKeys; array TimedFloatKeys keys[nKeys]; }
template AnimationOptions { DWORD openclosed; DWORD positionquality; }
template Animation { [...] }
template AnimationSet { [Animation] }
template AnimTicksPerSecond { DWORD AnimTicksPerSecond; }
template Url { DWORD nUrls; array STRING urls[nUrls]; }
template ProgressiveMesh { [Url, InlineData] }
template Guid { DWORD data1; WORD data2; WORD data3; array UCHAR data4[8]; }
template StringProperty { STRING key; STRING value; }
template PropertyBag { [StringProperty] }
template ExternalVisual { Guid guidExternalVisual; [...] }
template RightHanded { DWORD bRightHanded; }
template XSkinMeshHeader { WORD nMaxSkinWeightsPerVertex; WORD nMaxSkinWeightsPerFace; WORD nBones; }
template VertexDuplicationIndices { DWORD nIndices; DWORD nOriginalVertices; array DWORD indices[nIndices]; }
template FaceAdjacency { DWORD nIndices; array DWORD indices[nIndices]; }
template SkinWeights { STRING transformNodeName; DWORD nWeights; array DWORD vertexIndices[nWeights]; array FLOAT weights[nWeights]; Matrix4x4 matrixOffset; }
template Patch { DWORD nControlIndices; array DWORD controlIndices[nControlIndices]; }
template PatchMesh { DWORD nVertices; array Vector vertices[nVertices]; DWORD nPatches; array Patch patches[nPatches]; [...] }
template PatchMesh9 { DWORD Type; DWORD Degree; DWORD Basis; DWORD nVertices; array Vector vertices[nVertices]; DWORD nPatches; array Patch patches[nPatches]; [...] }
template EffectFloats { DWORD nFloats; array FLOAT Floats[nFloats]; }
template EffectString { STRING Value; }
template EffectDWord { DWORD Value; }
template EffectParamFloats { STRING ParamName; DWORD nFloats; array FLOAT Floats[nFloats]; }
template EffectParamString { STRING ParamName; STRING Value; }
template EffectParamDWord { STRING ParamName; DWORD Value; }
template EffectInstance { STRING EffectFilename; [...] }
template KeyValuePair { STRING key; STRING value; }
template ObjectMatrixComment { Matrix4x4 objectMatrix; }
template CompressedAnimationSet { DWORD CompressedBlockSize; FLOAT TicksPerSec; DWORD PlaybackType; DWORD BufferLength; array DWORD CompressedData[BufferLength]; }
template VertexElement { DWORD Type; DWORD Method; DWORD Usage; DWORD UsageIndex; }
template DeclData { DWORD nElements; array VertexElement Elements[nElements]; DWORD nDWords; array DWORD data[nDWords]; }
template FVFData { DWORD dwFVF; DWORD nDWords; array DWORD data[nDWords]; }
template PMAttributeRange { DWORD iFaceOffset; DWORD nFacesMin; DWORD nFacesMax; DWORD iVertexOffset; DWORD nVerticesMin; DWORD nVerticesMax; }
template PMVSplitRecord { DWORD iFaceCLW; DWORD iVlrOffset; DWORD iCode; }
template PMInfo { DWORD nAttributes; array PMAttributeRange attributeRanges[nAttributes]; DWORD nMaxValence; DWORD nMinLogicalVertices; DWORD nMaxLogicalVertices; DWORD nVSplits; array PMVSplitRecord splitRecords[nVSplits]; DWORD nAttributeMispredicts; array DWORD attributeMispredicts[nAttributeMispredicts]; }
)";

constexpr std::uint64_t kValueCap = std::uint64_t{1} << 40;

std::uint64_t saturatingMul(std::uint64_t a, std::uint64_t b)
{
    if (a != 0 && b > kValueCap / a) {
        return kValueCap;
    }
    return std::min(a * b, kValueCap);
}

std::string foldCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

XPrimitive primitiveOf(XKeyword k)
{
    switch (k) {
    case XKeyword::Word: return XPrimitive::Word;
    case XKeyword::Dword: return XPrimitive::Dword;
    case XKeyword::Float: return XPrimitive::Float;
    case XKeyword::Double: return XPrimitive::Double;
    case XKeyword::Char: return XPrimitive::Char;
    case XKeyword::Uchar:
    case XKeyword::Byte: return XPrimitive::Uchar;
    case XKeyword::Sword: return XPrimitive::Sword;
    case XKeyword::Sdword: return XPrimitive::Sdword;
    case XKeyword::Ulonglong: return XPrimitive::Ulonglong;
    case XKeyword::String:
    case XKeyword::Unicode:
    case XKeyword::Cstring: return XPrimitive::String;
    default: return XPrimitive::None;
    }
}

bool isIntegerPrimitive(XPrimitive p)
{
    return p != XPrimitive::None && p != XPrimitive::Float && p != XPrimitive::Double &&
           p != XPrimitive::String;
}

XToken expect(XTokenizer& tokens, XTokenKind kind, const char* context)
{
    XToken t = tokens.next();
    if (t.kind != kind) {
        tokens.fail(std::string("expected ") + describe(kind) + " " + context + ", found " + describe(t.kind),
                    t.location);
    }
    return t;
}

// Skips "[...]" or "[Type <guid>, ...]": restrictions are not enforced.
void skipOptions(XTokenizer& tokens)
{
    tokens.next();  // '['
    for (;;) {
        XToken t = tokens.next();
        if (t.kind == XTokenKind::CBracket) {
            return;
        }
        if (t.kind == XTokenKind::End || t.kind == XTokenKind::OBrace || t.kind == XTokenKind::CBrace) {
            tokens.fail("a template's list of allowed children that is never closed", t.location);
        }
    }
}

}  // namespace

const XTemplateRegistry& XTemplateRegistry::standard()
{
    static const XTemplateRegistry registry = [] {
        XTemplateRegistry r;
        r.building_ = true;
        const auto* begin = reinterpret_cast<const std::uint8_t*>(kStandardTemplates.data());
        XTokenizer tokens(begin, begin + kStandardTemplates.size(), XEncoding::Text, 4, 0, 1);
        while (tokens.peek().kind != XTokenKind::End) {
            tokens.next();  // "template"
            r.declare(tokens);
        }
        r.building_ = false;
        return r;
    }();
    return registry;
}

std::shared_ptr<const XTemplate> XTemplateRegistry::find(std::string_view name) const
{
    // A file's own declarations never take a standard name (see add), so
    // the exact names of the two cannot collide; a folded one of the file
    // shadows the standard one it matches.
    if (auto it = exact_.find(name); it != exact_.end()) {
        return it->second;
    }
    if (base_) {
        if (auto it = base_->exact_.find(name); it != base_->exact_.end()) {
            return it->second;
        }
    }
    const std::string folded = foldCase(name);
    if (auto it = folded_.find(folded); it != folded_.end()) {
        return it->second;
    }
    if (base_) {
        if (auto it = base_->folded_.find(folded); it != base_->folded_.end()) {
            return it->second;
        }
    }
    return nullptr;
}

void XTemplateRegistry::add(std::shared_ptr<XTemplate> t)
{
    if (!building_ && standard().exact_.count(t->name) != 0) {
        return;  // the standard declaration stays
    }
    std::string folded = foldCase(t->name);
    exact_[t->name] = t;
    folded_[folded] = t;
}

void XTemplateRegistry::declare(XTokenizer& tokens)
{
    XToken nameToken = expect(tokens, XTokenKind::Name, "as a template's name");
    auto t = std::make_shared<XTemplate>();
    t->name = std::string(nameToken.text);
    expect(tokens, XTokenKind::OBrace, "after a template's name");
    for (;;) {
        const XToken& look = tokens.peek();
        if (look.kind == XTokenKind::CBrace) {
            tokens.next();
            break;
        }
        if (look.kind == XTokenKind::Guid) {
            tokens.next();
            continue;
        }
        if (look.kind == XTokenKind::OBracket) {
            skipOptions(tokens);
            continue;
        }
        XToken first = tokens.next();
        XKeyword kw = keywordOf(first);
        bool isArray = kw == XKeyword::Array;
        XToken typeToken = isArray ? tokens.next() : first;
        XTemplateMember member;
        member.primitive = primitiveOf(keywordOf(typeToken));
        if (member.primitive == XPrimitive::None) {
            if (typeToken.kind != XTokenKind::Name && typeToken.kind != XTokenKind::Keyword) {
                tokens.fail(std::string("expected a member type in template ") + t->name + ", found " +
                                describe(typeToken.kind),
                            typeToken.location);
            }
            member.type = typeToken.kind == XTokenKind::Name ? find(typeToken.text) : nullptr;
            if (!member.type || !member.type->usable || member.type->minValues == 0) {
                t->usable = false;
            }
        }
        if (tokens.peek().kind == XTokenKind::Name) {
            member.name = std::string(tokens.next().text);
        }
        while (tokens.peek().kind == XTokenKind::OBracket) {
            tokens.next();
            XToken dim = tokens.next();
            XArrayDimension d;
            if (dim.kind == XTokenKind::Integer) {
                d.size = dim.integer;
            } else if (dim.kind == XTokenKind::Name) {
                const char* digits = dim.text.data();
                const char* last = digits + dim.text.size();
                auto [end, ec] = std::from_chars(digits, last, d.size);
                if (ec != std::errc() || end != last) {
                    d.member = -1;
                    for (std::size_t i = 0; i < t->members.size(); ++i) {
                        if (t->members[i].name == dim.text) {
                            d.member = static_cast<int>(i);
                        }
                    }
                    if (d.member < 0 || !isIntegerPrimitive(t->members[d.member].primitive) ||
                        !t->members[d.member].dimensions.empty()) {
                        t->usable = false;
                        d.member = -1;
                    }
                }
            } else {
                tokens.fail(std::string("expected an array size in template ") + t->name, dim.location);
            }
            expect(tokens, XTokenKind::CBracket, "after an array size");
            member.dimensions.push_back(d);
        }
        if (isArray && member.dimensions.empty()) {
            tokens.fail(std::string("an array without a size in template ") + t->name, typeToken.location);
        }
        if (tokens.peek().kind == XTokenKind::Semicolon) {
            tokens.next();
        }
        // Members past the limit make the template unusable (below); they
        // are read but not kept, so a long declaration holds no memory.
        if (t->members.size() <= kMaxXTemplateMembers) {
            t->members.push_back(std::move(member));
        }
    }

    if (t->members.size() > kMaxXTemplateMembers) {
        t->usable = false;
    }
    if (t->usable) {
        for (const XTemplateMember& m : t->members) {
            std::uint64_t count = 1;
            for (const XArrayDimension& d : m.dimensions) {
                count = saturatingMul(count, d.member >= 0 ? 0 : d.size);
            }
            std::uint64_t per = 1;
            if (m.primitive == XPrimitive::None) {
                per = m.type->minValues;
                t->depth = std::max(t->depth, m.type->depth + 1);
            }
            t->minValues = std::min(kValueCap, t->minValues + saturatingMul(count, per));
        }
        if (t->depth > kMaxXTemplateDepth) {
            t->usable = false;
        }
    }
    add(std::move(t));
}

}  // namespace fyrel
