#include "importers/x/x_tokenizer.h"

#include "importers/byte_reader.h"

namespace fyrel {

namespace {

// Binary token codes of the format.
enum : std::uint16_t {
    kTokenName = 1,
    kTokenString = 2,
    kTokenInteger = 3,
    kTokenGuid = 5,
    kTokenIntegerList = 6,
    kTokenFloatList = 7,
    kTokenOBrace = 10,
    kTokenCBrace = 11,
    kTokenOParen = 12,
    kTokenCParen = 13,
    kTokenOBracket = 14,
    kTokenCBracket = 15,
    kTokenOAngle = 16,
    kTokenCAngle = 17,
    kTokenDot = 18,
    kTokenComma = 19,
    kTokenSemicolon = 20,
    kTokenTemplate = 31,
    kTokenWord = 40,
    kTokenDword = 41,
    kTokenFloat = 42,
    kTokenDouble = 43,
    kTokenChar = 44,
    kTokenUchar = 45,
    kTokenSword = 46,
    kTokenSdword = 47,
    kTokenVoid = 48,
    kTokenLpstr = 49,
    kTokenUnicode = 50,
    kTokenCstring = 51,
    kTokenArray = 52,
};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) {
            return false;
        }
    }
    return true;
}

XToken punctuation(XTokenKind kind, std::size_t location)
{
    XToken t;
    t.kind = kind;
    t.location = location;
    return t;
}

XToken keyword(XKeyword k, std::size_t location)
{
    XToken t;
    t.kind = XTokenKind::Keyword;
    t.keyword = k;
    t.location = location;
    return t;
}

}  // namespace

XKeyword keywordOf(const XToken& token)
{
    if (token.kind == XTokenKind::Keyword) {
        return token.keyword;
    }
    if (token.kind != XTokenKind::Name) {
        return XKeyword::None;
    }
    static const struct {
        const char* text;
        XKeyword keyword;
    } kWords[] = {
        {"template", XKeyword::Template}, {"WORD", XKeyword::Word},
        {"DWORD", XKeyword::Dword},       {"FLOAT", XKeyword::Float},
        {"DOUBLE", XKeyword::Double},     {"CHAR", XKeyword::Char},
        {"UCHAR", XKeyword::Uchar},       {"SWORD", XKeyword::Sword},
        {"SDWORD", XKeyword::Sdword},     {"VOID", XKeyword::Void},
        {"STRING", XKeyword::String},     {"LPSTR", XKeyword::String},
        {"UNICODE", XKeyword::Unicode},   {"CSTRING", XKeyword::Cstring},
        {"array", XKeyword::Array},       {"BYTE", XKeyword::Byte},
        {"ULONGLONG", XKeyword::Ulonglong},
    };
    for (const auto& w : kWords) {
        if (equalsIgnoringCase(token.text, w.text)) {
            return w.keyword;
        }
    }
    return XKeyword::None;
}

const char* describe(XTokenKind kind)
{
    switch (kind) {
    case XTokenKind::End: return "the end of the file";
    case XTokenKind::Name: return "a name";
    case XTokenKind::String: return "a string";
    case XTokenKind::Integer: return "an integer";
    case XTokenKind::Guid: return "a GUID";
    case XTokenKind::IntegerList: return "a list of integers";
    case XTokenKind::FloatList: return "a list of floats";
    case XTokenKind::OBrace: return "'{'";
    case XTokenKind::CBrace: return "'}'";
    case XTokenKind::OParen: return "'('";
    case XTokenKind::CParen: return "')'";
    case XTokenKind::OBracket: return "'['";
    case XTokenKind::CBracket: return "']'";
    case XTokenKind::OAngle: return "'<'";
    case XTokenKind::CAngle: return "'>'";
    case XTokenKind::Dot: return "'.'";
    case XTokenKind::Comma: return "','";
    case XTokenKind::Semicolon: return "';'";
    case XTokenKind::Keyword: return "a keyword";
    }
    return "a token";
}

XTokenizer::XTokenizer(const std::uint8_t* begin, const std::uint8_t* end, XEncoding encoding,
                       int floatBytes, std::size_t locationBase, std::size_t firstLine)
    : p_(begin), end_(end), encoding_(encoding), floatBytes_(floatBytes),
      locationBase_(locationBase), line_(firstLine), begin_(begin)
{
}

XToken XTokenizer::next()
{
    if (peeked_) {
        peeked_ = false;
        return peekToken_;
    }
    return encoding_ == XEncoding::Text ? readText() : readBinary();
}

const XToken& XTokenizer::peek()
{
    if (!peeked_) {
        if (encoding_ == XEncoding::Text) {
            skipTextSpace();
        }
        peekStart_ = p_;
        peekToken_ = encoding_ == XEncoding::Text ? readText() : readBinary();
        peeked_ = true;
    }
    return peekToken_;
}

bool XTokenizer::nextTextWordAfterComment(std::string_view& word, std::size_t& location)
{
    for (;;) {
        skipTextSpace();
        if (p_ == end_ || (*p_ != ',' && *p_ != ';')) {
            break;
        }
        ++p_;
    }
    const std::uint8_t* start = p_;
    p_ = wordEnd(p_);
    if (p_ == start) {
        return false;
    }
    word = std::string_view(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p_ - start));
    location = line_;
    return true;
}

std::size_t XTokenizer::remainingBytes() const
{
    const std::uint8_t* from = peeked_ ? peekStart_ : p_;
    return static_cast<std::size_t>(end_ - from);
}

std::size_t XTokenizer::here() const
{
    if (encoding_ == XEncoding::Text) {
        return line_;
    }
    return locationBase_ + static_cast<std::size_t>(p_ - begin_);
}

std::string XTokenizer::where(std::size_t location) const
{
    if (encoding_ == XEncoding::Text) {
        return "line " + std::to_string(location);
    }
    return "byte offset " + std::to_string(location);
}

void XTokenizer::fail(const std::string& what, std::size_t location) const
{
    throw XReadError(what + " at " + where(location));
}

void XTokenizer::skipTextSpace()
{
    while (p_ < end_) {
        std::uint8_t c = *p_;
        if (x_text::isSpace(c)) {
            line_ += c == '\n' ? 1 : 0;
            ++p_;
        } else if (c == '#' || (c == '/' && end_ - p_ >= 2 && p_[1] == '/')) {
            while (p_ < end_ && *p_ != '\n') {
                ++p_;
            }
        } else {
            return;
        }
    }
}

XToken XTokenizer::readText()
{
    skipTextSpace();
    std::size_t at = line_;
    if (p_ == end_) {
        return punctuation(XTokenKind::End, at);
    }
    std::uint8_t c = *p_;
    switch (c) {
    case '{': ++p_; return punctuation(XTokenKind::OBrace, at);
    case '}': ++p_; return punctuation(XTokenKind::CBrace, at);
    case '[': ++p_; return punctuation(XTokenKind::OBracket, at);
    case ']': ++p_; return punctuation(XTokenKind::CBracket, at);
    case '(': ++p_; return punctuation(XTokenKind::OParen, at);
    case ')': ++p_; return punctuation(XTokenKind::CParen, at);
    case ',': ++p_; return punctuation(XTokenKind::Comma, at);
    case ';': ++p_; return punctuation(XTokenKind::Semicolon, at);
    case '>': ++p_; return punctuation(XTokenKind::CAngle, at);
    case '"':
    case '<': {
        std::uint8_t close = c == '"' ? '"' : '>';
        const std::uint8_t* start = ++p_;
        while (p_ < end_ && *p_ != close) {
            if (*p_ == '\n') {
                ++line_;
            }
            ++p_;
        }
        if (p_ == end_) {
            fail(c == '"' ? "a string that is never closed" : "a GUID that is never closed", at);
        }
        XToken t;
        t.kind = c == '"' ? XTokenKind::String : XTokenKind::Guid;
        t.text = std::string_view(reinterpret_cast<const char*>(start),
                                  static_cast<std::size_t>(p_ - start));
        t.location = at;
        ++p_;
        return t;
    }
    default:
        break;
    }
    const std::uint8_t* start = p_;
    p_ = wordEnd(p_);
    XToken t;
    t.kind = XTokenKind::Name;
    t.text = std::string_view(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p_ - start));
    t.location = at;
    return t;
}

XToken XTokenizer::readBinary()
{
    const std::size_t at = here();
    // The token is read through in; p_ follows it once the token is whole.
    ByteReader in(p_, static_cast<std::size_t>(end_ - p_));
    if (in.remaining() == 0) {
        return punctuation(XTokenKind::End, at);
    }
    if (!in.fits(1, 2)) {
        fail("a token cut off by the end of the file", at);
    }
    const std::uint16_t code = in.u16();
    p_ = in.here();
    auto need = [&](std::size_t bytes, const char* what) {
        if (bytes > in.remaining()) {
            fail(std::string(what) + " cut off by the end of the file", at);
        }
    };
    XToken t;
    t.location = at;
    switch (code) {
    case kTokenName:
    case kTokenString: {
        need(4, code == kTokenName ? "a name record" : "a string record");
        const std::uint32_t length = in.u32();
        need(length, code == kTokenName ? "a name" : "a string");
        t.kind = code == kTokenName ? XTokenKind::Name : XTokenKind::String;
        t.text = std::string_view(reinterpret_cast<const char*>(in.here()), length);
        in.skip(length);
        if (code == kTokenString && in.fits(1, 2)) {
            ByteReader ahead = in;
            const std::uint16_t terminator = ahead.u16();
            if (terminator == kTokenSemicolon || terminator == kTokenComma) {
                in = ahead;
                if (ahead.fits(1, 2) && ahead.u16() == 0) {
                    in = ahead;  // the upper half of a 32-bit terminator
                }
            }
        }
        p_ = in.here();
        return t;
    }
    case kTokenInteger:
        need(4, "an integer record");
        t.kind = XTokenKind::Integer;
        t.integer = in.u32();
        p_ = in.here();
        return t;
    case kTokenGuid:
        need(16, "a GUID record");
        t.kind = XTokenKind::Guid;
        in.skip(16);
        p_ = in.here();
        return t;
    case kTokenIntegerList:
    case kTokenFloatList: {
        need(4, "a list record");
        const std::uint32_t count = in.u32();
        const std::size_t elementBytes = code == kTokenIntegerList ? 4u : static_cast<std::size_t>(floatBytes_);
        if (!in.fits(count, elementBytes)) {
            fail("a list of " + std::to_string(count) + " numbers longer than the rest of the file", at);
        }
        t.kind = code == kTokenIntegerList ? XTokenKind::IntegerList : XTokenKind::FloatList;
        t.count = count;
        t.list = in.here();
        in.skip(count * elementBytes);
        p_ = in.here();
        return t;
    }
    case kTokenOBrace: return punctuation(XTokenKind::OBrace, at);
    case kTokenCBrace: return punctuation(XTokenKind::CBrace, at);
    case kTokenOParen: return punctuation(XTokenKind::OParen, at);
    case kTokenCParen: return punctuation(XTokenKind::CParen, at);
    case kTokenOBracket: return punctuation(XTokenKind::OBracket, at);
    case kTokenCBracket: return punctuation(XTokenKind::CBracket, at);
    case kTokenOAngle: return punctuation(XTokenKind::OAngle, at);
    case kTokenCAngle: return punctuation(XTokenKind::CAngle, at);
    case kTokenDot: return punctuation(XTokenKind::Dot, at);
    case kTokenComma: return punctuation(XTokenKind::Comma, at);
    case kTokenSemicolon: return punctuation(XTokenKind::Semicolon, at);
    case kTokenTemplate: return keyword(XKeyword::Template, at);
    case kTokenWord: return keyword(XKeyword::Word, at);
    case kTokenDword: return keyword(XKeyword::Dword, at);
    case kTokenFloat: return keyword(XKeyword::Float, at);
    case kTokenDouble: return keyword(XKeyword::Double, at);
    case kTokenChar: return keyword(XKeyword::Char, at);
    case kTokenUchar: return keyword(XKeyword::Uchar, at);
    case kTokenSword: return keyword(XKeyword::Sword, at);
    case kTokenSdword: return keyword(XKeyword::Sdword, at);
    case kTokenVoid: return keyword(XKeyword::Void, at);
    case kTokenLpstr: return keyword(XKeyword::String, at);
    case kTokenUnicode: return keyword(XKeyword::Unicode, at);
    case kTokenCstring: return keyword(XKeyword::Cstring, at);
    case kTokenArray: return keyword(XKeyword::Array, at);
    default:
        fail("an unknown token code " + std::to_string(code), at);
    }
}

}  // namespace fyrel
