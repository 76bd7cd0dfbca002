#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "importers/x/x_budget.h"
#include "importers/x/x_tokenizer.h"

// The .X reader: from the bytes of a file to the tree of data objects that the
// frame hierarchy is built from.
//
// The 16-byte header names the version ("0302" or "0303"), the encoding
// ("txt ", "bin ", or MSZIP-compressed "tzip"/"bzip") and the float size
// ("0032" or "0064"). Compressed files are inflated first (x_inflate.h).
// Then templates and data objects follow in any order:
//   - template declarations are added to the standard ones (x_templates.h);
//   - a data object of a known template is read value by value as its
//     template lays it out; the separators ';' and ',' between values are
//     optional, so both ";;" and ";," endings read alike;
//   - after its values come nested objects and references ("{ name }") in
//     any number;
//   - an object whose type has no usable template is skipped whole, braces
//     counted token by token.
//
// Only the objects the frame hierarchy and its animation need are kept, with
// their values: Frame, FrameTransformMatrix, Mesh, MeshMaterialList,
// Material, TextureFilename, XSkinMeshHeader, SkinWeights, AnimTicksPerSecond,
// AnimationSet, Animation and AnimationKey, at the top level or nested in
// kept objects. Everything else (normals, texture coordinates, animation
// options, user data) is read, checked against its template and dropped.
//
// A reference names an object that was complete before it: names are known
// from an object's closing brace on, so an object cannot refer to itself or
// to anything after it. A reference that names nothing is kept with a null
// target; the hierarchy decides whether it matters.
//
// Bounds: every array size is checked against what remains of the file
// before values are read; objects nest at most kMaxXNesting deep; nesting is
// followed with an explicit stack and templates recurse at most
// kMaxXTemplateDepth deep, so no file can exhaust the call stack; what the
// reader keeps (and the inflated data) counts against the file's memory
// budget (x_budget.h), which the frame hierarchy goes on using. Failures
// throw XReadError with what went wrong and where (line or byte offset).

namespace fyrel {

// Nested data objects allowed: the deepest skeleton plus the objects a mesh
// holds.
inline constexpr std::size_t kMaxXNesting = 1024 + 16;

// Files larger than this are refused before they are read.
inline constexpr std::size_t kMaxXFileSize = std::size_t{256} * 1024 * 1024;

// Compressed files may inflate to at most this many times their size (plus
// kXMemoryAllowance), so a small file cannot hold the machine's memory
// hostage: the inflated data is part of the file's memory budget, and what
// is parsed from it has to fit in what the data left of it.
inline constexpr std::size_t kMaxXInflateRatio = kXMemoryPerFileByte;

enum class XObjectKind : std::uint8_t {
    Other,
    Frame,
    FrameTransformMatrix,
    Mesh,
    MeshMaterialList,
    Material,
    TextureFilename,
    MeshTextureCoords,
    XSkinMeshHeader,
    SkinWeights,
    AnimTicksPerSecond,
    AnimationSet,
    Animation,
    AnimationKey,
};

struct XObject;

struct XChild {
    const XObject* object = nullptr;  // the nested object, or a reference's target (null: names nothing earlier)
    bool isReference = false;
    std::string referenceName;        // as written
    std::size_t location = 0;
};

struct XObject {
    XObjectKind kind = XObjectKind::Other;
    std::string type;  // as written
    std::string name;  // empty for an unnamed object
    std::size_t location = 0;
    std::vector<double> numbers;       // every numeric value, in file order
    std::vector<std::string> strings;  // every string value, in file order
    std::vector<XChild> children;      // kept nested objects and references, in file order
};

struct XFileData {
    std::deque<XObject> objects;             // owns every kept object; addresses are stable
    std::vector<const XObject*> topLevel;    // kept objects outside any other, in file order
    std::size_t contentBytes = 0;            // bytes after the header (inflated when compressed)
    bool text = true;
    bool compressed = false;
    XMemoryBudget budget;                    // what reading took of the file's memory budget

    // "line 12", "byte offset 345" or "byte offset 345 of the inflated data".
    std::string where(std::size_t location) const;
};

// Reads a whole file held in memory. Throws XReadError.
XFileData readXFile(const std::uint8_t* data, std::size_t size);

}  // namespace fyrel
