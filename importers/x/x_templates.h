#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "importers/x/x_tokenizer.h"

// Templates of the .X format: the layout of a data object's values. The
// standard templates (those of Direct3D retained mode and the D3DX
// extensions: meshes, frames, skin weights, animation, declarations of vertex
// data, effects, progressive meshes) are built in; a file may declare more,
// and the reader then reads objects of those types by their declaration.
//
// A declaration is checked once, when it is read, so that reading objects
// later cannot be led astray:
//   - a member's type must be a primitive or a template known at that point
//     (built in or declared earlier), so no template can contain itself;
//   - templates nest at most kMaxXTemplateDepth deep and hold at most
//     kMaxXTemplateMembers members;
//   - an array's size is a number or an earlier integer member;
//   - a member of a template type must hold at least one value.
// A declaration that breaks one of these rules is kept as "unusable": objects
// of its type are skipped like objects of an unknown type. A declaration
// whose syntax is broken fails the file. A declaration with the name of a
// built-in template leaves the built-in one in place (files repeat the
// standard declarations word for word).

namespace fyrel {

inline constexpr int kMaxXTemplateDepth = 16;
inline constexpr std::size_t kMaxXTemplateMembers = 64;

enum class XPrimitive : std::uint8_t {
    None,  // the member is of a template type
    Word,
    Dword,
    Float,
    Double,
    Char,
    Uchar,
    Sword,
    Sdword,
    Ulonglong,
    String,
};

struct XTemplate;

struct XArrayDimension {
    std::uint32_t size = 0;  // a fixed size, used when member < 0
    int member = -1;         // index of the earlier member that holds the size
};

struct XTemplateMember {
    std::string name;
    XPrimitive primitive = XPrimitive::None;
    std::shared_ptr<const XTemplate> type;     // when primitive is None
    std::vector<XArrayDimension> dimensions;   // empty for a single value
};

struct XTemplate {
    std::string name;
    std::vector<XTemplateMember> members;
    std::uint64_t minValues = 0;  // primitive values an instance holds at least
    int depth = 1;                // 1 + the deepest template member
    bool usable = true;
};

class XTemplateRegistry {
public:
    // The standard templates. Parsed once from their declarations.
    static const XTemplateRegistry& standard();

    // A file's templates: the standard ones, which it looks up without
    // copying them, and those the file declares.
    static XTemplateRegistry forFile() { return XTemplateRegistry(&standard()); }

    // The template of the name: an exact match first, then one that differs
    // only in letter case (files write "TextureFileName" for the standard
    // "TextureFilename"). Null when none is known.
    std::shared_ptr<const XTemplate> find(std::string_view name) const;

    // Reads one declaration, the tokenizer standing after the "template"
    // keyword. Throws XReadError on broken syntax.
    void declare(XTokenizer& tokens);

private:
    XTemplateRegistry() = default;
    explicit XTemplateRegistry(const XTemplateRegistry* base) : base_(base) {}

    void add(std::shared_ptr<XTemplate> t);

    std::map<std::string, std::shared_ptr<const XTemplate>, std::less<>> exact_;
    std::map<std::string, std::shared_ptr<const XTemplate>, std::less<>> folded_;
    const XTemplateRegistry* base_ = nullptr;  // consulted after exact_ and folded_ each
    bool building_ = false;
};

}  // namespace fyrel
