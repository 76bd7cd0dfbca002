#include "importers/x/x_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <unordered_map>

#include "importers/x/x_inflate.h"
#include "importers/x/x_templates.h"

namespace fyrel {

namespace {

constexpr std::size_t kHeaderBytes = 16;

// Estimates for the memory budget (x_budget.h): an entry of the map of
// names; a node of the hierarchy's set of referenced meshes; a declared
// template, plus kTemplateBytePrice per byte of its declaration (members,
// names and array sizes).
constexpr std::uint64_t kNameEntryCost = 96;
constexpr std::uint64_t kReferencedSetCost = 64;
constexpr std::uint64_t kTemplateCost = 1024;
constexpr std::uint64_t kTemplateBytePrice = 32;

XObjectKind kindOfTemplate(const std::string& name)
{
    static const struct {
        const char* name;
        XObjectKind kind;
    } kKept[] = {
        {"Frame", XObjectKind::Frame},
        {"FrameTransformMatrix", XObjectKind::FrameTransformMatrix},
        {"Mesh", XObjectKind::Mesh},
        {"MeshMaterialList", XObjectKind::MeshMaterialList},
        {"Material", XObjectKind::Material},
        {"TextureFilename", XObjectKind::TextureFilename},
        {"MeshTextureCoords", XObjectKind::MeshTextureCoords},
        {"XSkinMeshHeader", XObjectKind::XSkinMeshHeader},
        {"SkinWeights", XObjectKind::SkinWeights},
        {"AnimTicksPerSecond", XObjectKind::AnimTicksPerSecond},
        {"AnimationSet", XObjectKind::AnimationSet},
        {"Animation", XObjectKind::Animation},
        {"AnimationKey", XObjectKind::AnimationKey},
    };
    for (const auto& k : kKept) {
        if (name == k.name) {
            return k.kind;
        }
    }
    return XObjectKind::Other;
}

// Powers of ten a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads the plain decimal at first (an optional '+', an optional '-',
// digits with at most one point) and returns where it stops. Nearly every
// value of a file is a count, an index or a decimal of a few digits: when
// the digits are 1 to 15, the integer they make is exact in a double, and
// dividing it by an exact power of ten rounds once, correctly, so value is
// from_chars' own result (Clinger's fast path) and exact is true.
// Exponents and long digit runs are left to from_chars.
inline const char* scanDecimal(const char* first, const char* last, double& value, bool& exact)
{
    const char* d = first;
    if (d != last && *d == '+') {
        ++d;
    }
    const bool negative = d != last && *d == '-';
    d += negative ? 1 : 0;
    std::uint64_t mantissa = 0;
    const char* const wholeStart = d;
    for (; d != last && static_cast<unsigned>(*d - '0') < 10; ++d) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*d - '0');
    }
    const auto wholeDigits = d - wholeStart;
    std::ptrdiff_t fractionDigits = 0;
    if (d != last && *d == '.') {
        const char* const fractionStart = ++d;
        for (; d != last && static_cast<unsigned>(*d - '0') < 10; ++d) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*d - '0');
        }
        fractionDigits = d - fractionStart;
    }
    const auto digits = wholeDigits + fractionDigits;
    exact = digits > 0 && digits <= 15;
    if (exact) {
        const double magnitude = static_cast<double>(mantissa) / kExactPowersOfTen[fractionDigits];
        value = negative ? -magnitude : magnitude;
    }
    return d;
}

bool parseTextNumber(std::string_view s, double& out)
{
    const char* first = s.data();
    const char* last = first + s.size();
    bool exact = false;
    if (scanDecimal(first, last, out, exact) == last && exact) {
        return true;
    }
    if (first != last && *first == '+') {
        ++first;
    }
    if (first == last) {
        return false;
    }
    auto [end, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && end == last;
}

// Each kind's whole values, by XPrimitive; the ones that are no integer
// kind take every value.
struct IntegerRange {
    double lowest, highest;
};
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr IntegerRange kIntegerRanges[] = {
    {-kInfinity, kInfinity},                 // None
    {0, 65535},                              // Word
    {0, 4294967295.0},                       // Dword
    {-kInfinity, kInfinity},                 // Float
    {-kInfinity, kInfinity},                 // Double
    {-128, 255},                             // Char
    {0, 255},                                // Uchar
    {-32768, 32767},                         // Sword
    {-2147483648.0, 2147483647.0},           // Sdword
    {0, 18446744073709549568.0},             // Ulonglong: the largest double below 2^64
    {-kInfinity, kInfinity},                 // String
};
static_assert(std::size(kIntegerRanges) == static_cast<std::size_t>(XPrimitive::String) + 1);

inline bool integerInRange(XPrimitive kind, double v)
{
    const IntegerRange& range = kIntegerRanges[static_cast<std::size_t>(kind)];
    if (!(v >= range.lowest && v <= range.highest)) {
        return false;  // NaN too
    }
    // v == floor(v), without the library call floor() is on plain x86-64:
    // below 2^63 in size, a whole v survives the round trip through int64;
    // beyond, every double is whole.
    return std::fabs(v) >= 9223372036854775808.0 || static_cast<double>(static_cast<std::int64_t>(v)) == v;
}

// Floats take any value; the test stays inline for the runs of them.
inline bool inIntegerRange(XPrimitive kind, double v)
{
    return kind == XPrimitive::Float || kind == XPrimitive::Double || integerInRange(kind, v);
}

// A structure of one kind of number and nothing else (Vector: three FLOATs;
// Coords2d: two): an array of it reads as one run of numbers.
bool isFlat(const XTemplate& t, XPrimitive& kind, std::uint64_t& values)
{
    if (t.members.empty()) {
        return false;
    }
    kind = t.members.front().primitive;
    for (const XTemplateMember& m : t.members) {
        if (m.primitive != kind || m.primitive == XPrimitive::None || m.primitive == XPrimitive::String ||
            !m.dimensions.empty()) {
            return false;
        }
    }
    values = t.members.size();
    return true;
}

std::string quoted(std::string_view s)
{
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    out.append(s.substr(0, kShown));
    if (s.size() > kShown) {
        out += "...";
    }
    return out + "\"";
}

std::string describeToken(const XToken& t)
{
    if (t.kind == XTokenKind::Name || t.kind == XTokenKind::String) {
        return std::string(describe(t.kind)) + " " + quoted(t.text);
    }
    return describe(t.kind);
}

class XParser {
public:
    XParser(XTokenizer& tokens, XFileData& out)
        : tokens_(tokens), out_(out), templates_(XTemplateRegistry::forFile()),
          text_(tokens.encoding() == XEncoding::Text)
    {
    }

    void run();

private:
    struct Open {
        XObject* object;  // null when the object is not kept
        std::string type;
        std::string name;
        std::size_t location;
    };

    [[noreturn]] void fail(const std::string& what, std::size_t location) const
    {
        tokens_.fail(what, location);
    }

    std::string describeOpen(const Open& o) const
    {
        std::string s = o.type;
        if (!o.name.empty()) {
            s += " " + quoted(o.name);
        }
        return s + " (opened at " + tokens_.where(o.location) + ")";
    }

    void beginObject(const XToken& typeToken);
    void endObject();
    void readReference(const XToken& open);
    // After an object's type or a reference's '{': its optional name and
    // optional GUID; returns the token after them.
    XToken readNameAndGuid(std::string& name);
    void skipObject(const std::string& type, std::size_t location);
    void readValues(const XTemplate& t, XObject* sink, const std::string& objectType);
    double readNumber(XPrimitive kind, const std::string& objectType);
    // Float lists hold 32-bit floats (else 64-bit ones), as the header says.
    bool floatsAreSingles() const { return tokens_.floatBytes() == 4; }
    double readTextNumber(XPrimitive kind, const std::string& objectType);
    bool takeListValue(double& v);
    void readNumbers(XPrimitive kind, std::uint64_t n, XObject* sink, const std::string& objectType, double& last);
    double takeListRun(XPrimitive kind, std::uint32_t n, XObject* sink, const std::string& objectType);
    std::string_view readString(const std::string& objectType);
    void skipSeparators();
    std::size_t capacity();
    void checkNoValuesLeft(const Open& o);
    // Counts bytes against the file's memory budget; fails at location when
    // they do not fit.
    void charge(std::uint64_t bytes, std::size_t location) const
    {
        if (!out_.budget.take(bytes)) {
            fail(out_.budget.refusal(), location);
        }
    }

    XTokenizer& tokens_;
    XFileData& out_;
    XTemplateRegistry templates_;
    bool text_;
    std::vector<Open> stack_;
    std::size_t deepestCharged_ = 0;  // stack entries counted against the budget
    std::unordered_map<std::string, const XObject*> named_;
    // Binary lists hand out their values one by one across members.
    const std::uint8_t* list_ = nullptr;
    std::uint32_t listLeft_ = 0;
    bool listIsFloat_ = false;
    std::size_t listLocation_ = 0;
};

void XParser::run()
{
    for (;;) {
        XToken t = tokens_.next();
        if (stack_.empty()) {
            if (t.kind == XTokenKind::End) {
                return;
            }
            if (keywordOf(t) == XKeyword::Template) {
                std::size_t before = tokens_.remainingBytes();
                templates_.declare(tokens_);
                charge(kTemplateCost + kTemplateBytePrice * (before - tokens_.remainingBytes()), t.location);
                continue;
            }
            if (t.kind == XTokenKind::Comma || t.kind == XTokenKind::Semicolon) {
                continue;
            }
            if (t.kind != XTokenKind::Name) {
                fail("expected a template or a data object, found " + describeToken(t), t.location);
            }
            beginObject(t);
            continue;
        }
        double number = 0;
        switch (t.kind) {
        case XTokenKind::Comma:
        case XTokenKind::Semicolon:
            break;
        case XTokenKind::CBrace:
            endObject();
            break;
        case XTokenKind::OBrace:
            readReference(t);
            break;
        case XTokenKind::Name:
            if (text_ && parseTextNumber(t.text, number)) {
                fail("more values than the template of " + describeOpen(stack_.back()) + " holds", t.location);
            }
            beginObject(t);
            break;
        case XTokenKind::End:
            fail("the file ends inside " + describeOpen(stack_.back()), t.location);
        case XTokenKind::Integer:
        case XTokenKind::IntegerList:
        case XTokenKind::FloatList:
        case XTokenKind::String:
            fail("more values than the template of " + describeOpen(stack_.back()) + " holds", t.location);
        default:
            fail("unexpected " + describeToken(t) + " in " + describeOpen(stack_.back()), t.location);
        }
    }
}

void XParser::beginObject(const XToken& typeToken)
{
    std::string type(typeToken.text);
    std::string name;
    const XToken t = readNameAndGuid(name);
    if (t.kind != XTokenKind::OBrace) {
        fail("expected '{' after " + quoted(type) + (name.empty() ? "" : " " + quoted(name)) + ", found " +
                 describeToken(t),
             t.location);
    }
    std::shared_ptr<const XTemplate> tmpl = templates_.find(type);
    if (!tmpl || !tmpl->usable) {
        skipObject(type, typeToken.location);
        return;
    }
    if (stack_.size() >= kMaxXNesting) {
        fail("data objects nested deeper than " + std::to_string(kMaxXNesting) + " levels", typeToken.location);
    }
    XObjectKind kind = kindOfTemplate(tmpl->name);
    bool parentKept = stack_.empty() || stack_.back().object != nullptr;
    XObject* object = nullptr;
    if (stack_.size() >= deepestCharged_) {
        charge(kXGrowthFactor * sizeof(Open), typeToken.location);
        deepestCharged_ = stack_.size() + 1;
    }
    charge(xStringHeapBytes(type.size()) + xStringHeapBytes(name.size()), typeToken.location);  // stack copies
    if (kind != XObjectKind::Other && parentKept) {
        // The object, its strings and its entry in its parent or the top-level list.
        std::uint64_t entry = stack_.empty() ? sizeof(const XObject*) : sizeof(XChild);
        charge(sizeof(XObject) + kXAllocOverhead + kXGrowthFactor * entry + xStringHeapBytes(type.size()) +
                   xStringHeapBytes(name.size()),
               typeToken.location);
        object = &out_.objects.emplace_back();
        object->kind = kind;
        object->type = type;
        object->name = name;
        object->location = typeToken.location;
        if (stack_.empty()) {
            out_.topLevel.push_back(object);
        } else {
            XChild child;
            child.object = object;
            child.location = typeToken.location;
            stack_.back().object->children.push_back(std::move(child));
        }
    }
    stack_.push_back(Open{object, type, name, typeToken.location});
    readValues(*tmpl, object, type);
    checkNoValuesLeft(stack_.back());
}

void XParser::endObject()
{
    XObject* object = stack_.back().object;
    stack_.pop_back();
    if (object && !object->name.empty()) {
        auto [it, added] = named_.insert_or_assign(object->name, object);
        if (added) {
            charge(kNameEntryCost + xStringHeapBytes(it->first.size()), object->location);
        }
    }
}

XToken XParser::readNameAndGuid(std::string& name)
{
    XToken t = tokens_.next();
    if (t.kind == XTokenKind::Name) {
        name = std::string(t.text);
        t = tokens_.next();
    }
    if (t.kind == XTokenKind::Guid) {
        t = tokens_.next();
    }
    return t;
}

void XParser::readReference(const XToken& open)
{
    std::string name;
    const XToken t = readNameAndGuid(name);
    if (t.kind != XTokenKind::CBrace) {
        fail("expected '}' to close a reference in " + describeOpen(stack_.back()) + ", found " + describeToken(t),
             t.location);
    }
    XObject* parent = stack_.back().object;
    if (!parent) {
        return;
    }
    // The entry, its name and a node of the set the hierarchy notes
    // referenced meshes in.
    charge(kXGrowthFactor * sizeof(XChild) + xStringHeapBytes(name.size()) + kReferencedSetCost, open.location);
    XChild child;
    child.isReference = true;
    child.referenceName = name;
    child.location = open.location;
    if (auto it = named_.find(name); it != named_.end() && !name.empty()) {
        child.object = it->second;
    }
    parent->children.push_back(std::move(child));
}

void XParser::skipObject(const std::string& type, std::size_t location)
{
    std::size_t depth = 1;
    while (depth > 0) {
        XToken t = tokens_.next();
        if (t.kind == XTokenKind::OBrace) {
            ++depth;
        } else if (t.kind == XTokenKind::CBrace) {
            --depth;
        } else if (t.kind == XTokenKind::End) {
            fail("the file ends inside " + quoted(type) + " (opened at " + tokens_.where(location) + ")",
                 t.location);
        }
    }
}

std::size_t XParser::capacity()
{
    if (text_) {
        return tokens_.remainingBytes();
    }
    return listLeft_ + tokens_.remainingBytes() / 4;
}

void XParser::checkNoValuesLeft(const Open& o)
{
    if (listLeft_ > 0) {
        fail("more values than the template of " + describeOpen(o) + " holds", tokens_.peek().location);
    }
}

void XParser::readValues(const XTemplate& t, XObject* sink, const std::string& objectType)
{
    // Values of the scalar members read so far: a size names an earlier
    // integer member (checked when the template was declared), so every entry
    // read here was written first.
    double scalars[kMaxXTemplateMembers];
    for (std::size_t i = 0; i < t.members.size(); ++i) {
        const XTemplateMember& m = t.members[i];
        std::uint64_t limit = capacity();
        std::uint64_t count = 1;
        for (const XArrayDimension& d : m.dimensions) {
            double size = d.member >= 0 ? scalars[d.member] : static_cast<double>(d.size);
            if (size < 0) {
                fail("a negative array size in " + objectType, tokens_.peek().location);
            }
            auto n = static_cast<std::uint64_t>(size);
            count = n != 0 && count > limit / n ? limit + 1 : count * n;  // saturates past the limit
        }
        std::uint64_t per = m.primitive == XPrimitive::None ? std::max<std::uint64_t>(m.type->minValues, 1) : 1;
        if (count > limit / per) {
            std::string sizes;
            for (const XArrayDimension& d : m.dimensions) {
                const double size = d.member >= 0 ? scalars[d.member] : static_cast<double>(d.size);
                sizes += (sizes.empty() ? "" : " x ") + std::to_string(static_cast<std::uint64_t>(size));
            }
            std::string what = m.dimensions.empty() ? "a " + m.name + " of " + std::to_string(per) + " values"
                                                    : "an array " + m.name + " of " + sizes + " entries";
            fail(what + " in " + objectType + ", more than the rest of the file holds", tokens_.peek().location);
        }
        if (m.primitive != XPrimitive::None && m.primitive != XPrimitive::String) {
            readNumbers(m.primitive, count, sink, objectType, scalars[i]);
            continue;
        }
        XPrimitive flatKind;
        std::uint64_t flatValues;
        if (m.primitive == XPrimitive::None && isFlat(*m.type, flatKind, flatValues)) {
            double last;
            readNumbers(flatKind, count * flatValues, sink, objectType, last);  // within the limit checked above
            continue;
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            if (m.primitive == XPrimitive::String) {
                std::string_view s = readString(objectType);
                if (sink) {
                    if (!out_.budget.take(kXGrowthFactor * sizeof(std::string) + xStringHeapBytes(s.size()))) {
                        fail(out_.budget.refusal(), tokens_.peek().location);
                    }
                    sink->strings.emplace_back(s);
                }
            } else {
                readValues(*m.type, sink, objectType);
            }
        }
    }
}

// n values of one kind in a row: the members of one array, or of an array
// of flat structures (see isFlat). Binary lists are taken a run at a time.
void XParser::readNumbers(XPrimitive kind, std::uint64_t n, XObject* sink, const std::string& objectType,
                          double& last)
{
    while (n > 0) {
        if (!text_ && listLeft_ > 0) {
            const auto run = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, listLeft_));
            if (sink && !out_.budget.take(std::uint64_t{run} * kXGrowthFactor * sizeof(double))) {
                fail(out_.budget.refusal(), listLocation_);
            }
            last = takeListRun(kind, run, sink, objectType);
            n -= run;
            continue;
        }
        const double v = text_ ? readTextNumber(kind, objectType) : readNumber(kind, objectType);
        if (sink) {
            if (!out_.budget.take(kXGrowthFactor * sizeof(double))) {
                fail(out_.budget.refusal(), tokens_.peek().location);
            }
            sink->numbers.push_back(v);
        }
        last = v;
        --n;
    }
}

// n values of a binary list as doubles into out (null: nothing kept);
// false when one is out of range for kind. The range test is left out of
// the loop where the stored width cannot exceed the kind's range.
template <typename Stored>
bool convertRun(const std::uint8_t* from, std::uint32_t n, XPrimitive kind, bool check, double* out, double& last)
{
    bool inRange = true;
    double v = 0;
    for (std::uint32_t k = 0; k < n; ++k, from += sizeof(Stored)) {
        Stored stored;
        std::memcpy(&stored, from, sizeof(Stored));  // little-endian hosts only, as the build assumes
        v = static_cast<double>(stored);
        if (check) {
            inRange &= integerInRange(kind, v);
        }
        if (out) {
            out[k] = v;
        }
    }
    last = v;
    return inRange;
}

// The next n values of the current binary list (it holds them), as
// readNumber would give them one by one.
double XParser::takeListRun(XPrimitive kind, std::uint32_t n, XObject* sink, const std::string& objectType)
{
    double* out = nullptr;
    if (sink) {
        const std::size_t at = sink->numbers.size();
        sink->numbers.resize(at + n);
        out = sink->numbers.data() + at;
    }
    const bool integral = kind != XPrimitive::Float && kind != XPrimitive::Double;
    double last = 0;
    bool inRange = true;
    std::size_t width = 4;
    if (!listIsFloat_) {
        // Signed members are stored two's complement; 32-bit words fit
        // DWORD, SDWORD and ULONGLONG whole.
        const bool isSigned = kind == XPrimitive::Char || kind == XPrimitive::Sword || kind == XPrimitive::Sdword;
        const bool check = kind == XPrimitive::Word || kind == XPrimitive::Char || kind == XPrimitive::Uchar ||
                           kind == XPrimitive::Sword;
        inRange = isSigned ? convertRun<std::int32_t>(list_, n, kind, check, out, last)
                           : convertRun<std::uint32_t>(list_, n, kind, check, out, last);
    } else if (floatsAreSingles()) {
        inRange = convertRun<float>(list_, n, kind, integral, out, last);
    } else {
        width = 8;
        inRange = convertRun<double>(list_, n, kind, integral, out, last);
    }
    if (!inRange) {
        fail("a value out of range for its type in " + objectType, listLocation_);
    }
    list_ += std::size_t{n} * width;
    listLeft_ -= n;
    return last;
}

void XParser::skipSeparators()
{
    for (;;) {
        XTokenKind k = tokens_.peek().kind;
        if (k != XTokenKind::Comma && k != XTokenKind::Semicolon) {
            return;
        }
        tokens_.next();
    }
}

// The common case of readNumber in a text file, a word right after the
// separators, without building a token.
inline double XParser::readTextNumber(XPrimitive kind, const std::string& objectType)
{
    std::string_view word;
    std::size_t location;
    double v = 0;
    bool exact = false;
    const char* scanned = nullptr;
    const auto scan = [&](const std::uint8_t* first, const std::uint8_t* last) {
        scanned = scanDecimal(reinterpret_cast<const char*>(first), reinterpret_cast<const char*>(last), v, exact);
        return first + (scanned - reinterpret_cast<const char*>(first));
    };
    if (!tokens_.nextTextWord(word, location, scan)) {
        return readNumber(kind, objectType);
    }
    const bool whole = exact && word.data() + word.size() == scanned;
    if (!whole && !parseTextNumber(word, v)) {
        XToken t;
        t.kind = XTokenKind::Name;
        t.text = word;
        fail("expected a number in " + objectType + ", found " + describeToken(t), location);
    }
    if (!inIntegerRange(kind, v)) {
        fail("a value out of range for its type in " + objectType, location);
    }
    return v;
}

double XParser::readNumber(XPrimitive kind, const std::string& objectType)
{
    double v = 0;
    std::size_t location = 0;
    bool fromIntegers = false;
    if (text_) {
        XToken t;
        if (!tokens_.nextTextWord(t.text, t.location)) {
            skipSeparators();
            t = tokens_.next();
        } else {
            t.kind = XTokenKind::Name;
        }
        location = t.location;
        if (t.kind != XTokenKind::Name || !parseTextNumber(t.text, v)) {
            fail("expected a number in " + objectType + ", found " + describeToken(t), t.location);
        }
    } else if (location = listLocation_; takeListValue(v)) {
        fromIntegers = !listIsFloat_;
    } else {
        for (;;) {
            const XToken& look = tokens_.peek();
            location = look.location;
            if (look.kind == XTokenKind::Comma || look.kind == XTokenKind::Semicolon) {
                tokens_.next();
            } else if (look.kind == XTokenKind::IntegerList || look.kind == XTokenKind::FloatList) {
                XToken list = tokens_.next();
                list_ = list.list;
                listLeft_ = list.count;
                listIsFloat_ = list.kind == XTokenKind::FloatList;
                listLocation_ = list.location;
                if (takeListValue(v)) {
                    fromIntegers = !listIsFloat_;
                    break;
                }
            } else if (look.kind == XTokenKind::Integer) {
                v = tokens_.next().integer;
                fromIntegers = true;
                break;
            } else {
                fail("expected a number in " + objectType + ", found " + describeToken(look), look.location);
            }
        }
    }
    bool isSigned = kind == XPrimitive::Char || kind == XPrimitive::Sword || kind == XPrimitive::Sdword;
    if (fromIntegers && isSigned) {
        // Binary lists hold 32-bit words; signed members are stored two's complement.
        v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    if (!inIntegerRange(kind, v)) {
        fail("a value out of range for its type in " + objectType, location);
    }
    return v;
}

bool XParser::takeListValue(double& v)
{
    if (listLeft_ == 0) {
        return false;
    }
    if (!listIsFloat_) {
        std::uint32_t u;
        std::memcpy(&u, list_, 4);  // little-endian hosts only, as the build assumes
        v = u;
        list_ += 4;
    } else if (floatsAreSingles()) {
        float f;
        std::memcpy(&f, list_, 4);
        v = f;
        list_ += 4;
    } else {
        std::memcpy(&v, list_, 8);
        list_ += 8;
    }
    --listLeft_;
    return true;
}

std::string_view XParser::readString(const std::string& objectType)
{
    if (listLeft_ > 0) {
        fail("numbers where a string belongs in " + objectType, tokens_.peek().location);
    }
    skipSeparators();
    XToken t = tokens_.next();
    if (t.kind != XTokenKind::String) {
        fail("expected a string in " + objectType + ", found " + describeToken(t), t.location);
    }
    return t.text;
}

bool isVersion(const std::uint8_t* p)
{
    return std::memcmp(p, "0302", 4) == 0 || std::memcmp(p, "0303", 4) == 0;
}

std::string printable(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += (p[i] >= 0x20 && p[i] < 0x7f) ? static_cast<char>(p[i]) : '?';
    }
    return "\"" + s + "\"";
}

void readContent(const std::uint8_t* begin, const std::uint8_t* end, XEncoding encoding, int floatBytes,
                 XFileData& out)
{
    XTokenizer tokens(begin, end, encoding, floatBytes, kHeaderBytes, 1);
    XParser parser(tokens, out);
    parser.run();
}

}  // namespace

std::string XFileData::where(std::size_t location) const
{
    if (text) {
        return "line " + std::to_string(location) + (compressed ? " of the inflated text" : "");
    }
    return "byte offset " + std::to_string(location) + (compressed ? " of the inflated data" : "");
}

XFileData readXFile(const std::uint8_t* data, std::size_t size)
{
    if (size < kHeaderBytes) {
        throw XReadError("the file is " + std::to_string(size) + " bytes long, shorter than the 16-byte header");
    }
    if (std::memcmp(data, "xof ", 4) != 0) {
        throw XReadError("the file does not begin with \"xof \": it is not an .X file");
    }
    if (!isVersion(data + 4)) {
        throw XReadError("unsupported format version " + printable(data + 4, 4) + " (0302 and 0303 are read)");
    }
    const std::uint8_t* format = data + 8;
    bool text = std::memcmp(format, "txt ", 4) == 0 || std::memcmp(format, "tzip", 4) == 0;
    bool binary = std::memcmp(format, "bin ", 4) == 0 || std::memcmp(format, "bzip", 4) == 0;
    if (!text && !binary) {
        throw XReadError("unknown encoding " + printable(format, 4) + " (txt, bin, tzip and bzip are read)");
    }
    bool compressed = format[1] == 'z';
    int floatBytes = 0;
    if (std::memcmp(data + 12, "0032", 4) == 0) {
        floatBytes = 4;
    } else if (std::memcmp(data + 12, "0064", 4) == 0) {
        floatBytes = 8;
    } else {
        throw XReadError("unknown float size " + printable(data + 12, 4) + " (0032 and 0064 are read)");
    }

    XFileData out;
    out.text = text;
    out.compressed = compressed;
    out.budget = XMemoryBudget(size);
    XEncoding encoding = text ? XEncoding::Text : XEncoding::Binary;
    if (!compressed) {
        out.contentBytes = size - kHeaderBytes;
        readContent(data + kHeaderBytes, data + size, encoding, floatBytes, out);
        return out;
    }
    // The inflated data takes its share of the budget first; what is parsed
    // from it has to fit in the rest.
    std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(out.budget.left(), kMaxXInflatedSize));
    std::vector<std::uint8_t> inflated = inflateMsZip(data + kHeaderBytes, size - kHeaderBytes, room);
    out.budget.take(inflated.size());
    out.contentBytes = inflated.size();
    try {
        readContent(inflated.data(), inflated.data() + inflated.size(), encoding, floatBytes, out);
    } catch (const XReadError& e) {
        throw XReadError(std::string(e.what()) + (text ? " of the inflated text" : " of the inflated data"));
    }
    return out;
}

}  // namespace fyrel
