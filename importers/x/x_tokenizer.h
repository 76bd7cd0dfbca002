#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The lowest layer of the .X reader: turns the bytes after the 16-byte file
// header into tokens. Both encodings of the format give the same token kinds,
// so the layers above read text and binary files with one grammar:
//
//   text    words (names and numbers alike), "strings", <guids>, the
//           punctuation { } [ ] ( ) , ; and comments from '#' or "//" at the
//           start of a token to the end of the line. Strings have no escapes:
//           one ends at the next double quote.
//   binary  16-bit little-endian token codes; names, strings, integers, guids
//           and lists of integers or floats (32 or 64 bits, as the header
//           says) carry their records. A string's terminator is accepted as
//           the format describes it (a 32-bit token) and as writers often put
//           it (a 16-bit token).
//
// The tokenizer reads only inside [begin, end): every record length is
// checked against what remains before anything is read, and each token
// consumes at least one byte, so no input can make it loop.

namespace fyrel {

// What went wrong while reading an .X file and where (a line of a text file,
// a byte offset of a binary one). The importer sends this reason to the debug
// output and raises the user-facing message.
class XReadError : public std::runtime_error {
public:
    explicit XReadError(const std::string& reason) : std::runtime_error(reason) {}
};

enum class XEncoding { Text, Binary };

enum class XTokenKind : std::uint8_t {
    End,
    Name,         // a text word or a binary name record
    String,
    Integer,      // binary only: one 32-bit integer record
    Guid,
    IntegerList,  // binary only
    FloatList,    // binary only
    OBrace,
    CBrace,
    OParen,
    CParen,
    OBracket,
    CBracket,
    OAngle,
    CAngle,
    Dot,
    Comma,
    Semicolon,
    Keyword,      // binary only; text keywords arrive as Name (see keywordOf)
};

enum class XKeyword : std::uint8_t {
    None,
    Template,
    Word,
    Dword,
    Float,
    Double,
    Char,
    Uchar,
    Sword,
    Sdword,
    Void,
    String,  // STRING, LPSTR
    Unicode,
    Cstring,
    Array,
    Byte,
    Ulonglong,
};

struct XToken {
    XTokenKind kind = XTokenKind::End;
    XKeyword keyword = XKeyword::None;   // Keyword tokens
    std::string_view text;               // Name, String and text Guid tokens
    std::uint32_t integer = 0;           // Integer tokens
    std::uint32_t count = 0;             // list tokens: number of elements
    const std::uint8_t* list = nullptr;  // list tokens: the first element
    std::size_t location = 0;            // text: line (from 1); binary: byte offset
};

// The keyword a token stands for: binary keyword tokens directly, text words
// when they spell one (case-insensitively). Only template declarations ask,
// so a frame may well be called "Array".
XKeyword keywordOf(const XToken& token);

// A readable name for a token kind, for messages.
const char* describe(XTokenKind kind);

class XTokenizer {
public:
    // Tokens are read from [begin, end). locationBase is added to binary
    // offsets so that they count from the start of the file (or of the
    // inflated data); text lines count from firstLine.
    XTokenizer(const std::uint8_t* begin, const std::uint8_t* end, XEncoding encoding,
               int floatBytes, std::size_t locationBase, std::size_t firstLine);

    XToken next();
    const XToken& peek();

    // Text files only, for runs of numbers: skips white space, comments and
    // separators (',' ';'), then takes the word after them. False, with
    // nothing but the separators consumed, when the next token is no word
    // (or one was peeked): the caller then reads it as a token.
    bool nextTextWord(std::string_view& word, std::size_t& location);
    // The same, for words a scanner reads as it looks for their end:
    // scan(first, end) returns where it stopped, and when that is where
    // the word ends, the word's bytes are not looked at again.
    template <typename Scan>
    bool nextTextWord(std::string_view& word, std::size_t& location, Scan scan);

    // Bytes from the start of the next unread token to the end.
    std::size_t remainingBytes() const;

    XEncoding encoding() const { return encoding_; }
    int floatBytes() const { return floatBytes_; }

    // "line 12" or "byte offset 345" for a token's location.
    std::string where(std::size_t location) const;

    // Throws XReadError with the reason and the place.
    [[noreturn]] void fail(const std::string& what, std::size_t location) const;

private:
    XToken readText();
    XToken readBinary();
    void skipTextSpace();
    // nextTextWord once a comment may be in the way.
    bool nextTextWordAfterComment(std::string_view& word, std::size_t& location);
    // The end of the text word starting at p.
    const std::uint8_t* wordEnd(const std::uint8_t* p) const;
    std::size_t here() const;

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    XEncoding encoding_;
    int floatBytes_;
    std::size_t locationBase_;
    std::size_t line_;
    const std::uint8_t* begin_;
    bool peeked_ = false;
    XToken peekToken_;
    const std::uint8_t* peekStart_ = nullptr;
};

namespace x_text {

constexpr bool isSpace(std::uint8_t c)
{
    return c <= 0x20;
}

constexpr bool isPunctuation(std::uint8_t c)
{
    switch (c) {
    case '{': case '}': case '[': case ']': case '(': case ')':
    case ',': case ';': case '"': case '<': case '>':
        return true;
    default:
        return false;
    }
}

// What a byte can do to a word of a text file: nothing (it belongs to the
// word), end it (space, punctuation), or end it when a second '/' follows.
enum : std::uint8_t { kWordByte, kWordEnd, kWordSlash };

inline constexpr auto kWordClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const auto b = static_cast<std::uint8_t>(c);
        table[b] = isSpace(b) || isPunctuation(b) ? kWordEnd : b == '/' ? kWordSlash : kWordByte;
    }
    return table;
}();

}  // namespace x_text

// Inline: text files call it once per number.
inline const std::uint8_t* XTokenizer::wordEnd(const std::uint8_t* p) const
{
    for (; p < end_; ++p) {
        const std::uint8_t c = x_text::kWordClass[*p];
        if (c != x_text::kWordByte && (c == x_text::kWordEnd || (end_ - p >= 2 && p[1] == '/'))) {
            break;
        }
    }
    return p;
}

inline bool XTokenizer::nextTextWord(std::string_view& word, std::size_t& location)
{
    return nextTextWord(word, location, [](const std::uint8_t* first, const std::uint8_t*) { return first; });
}

template <typename Scan>
bool XTokenizer::nextTextWord(std::string_view& word, std::size_t& location, Scan scan)
{
    if (peeked_) {
        return false;
    }
    // White space and separators, the usual run between two numbers; a
    // comment ('#', "//") leaves the rest to the general loop.
    const std::uint8_t* p = p_;
    for (; p < end_; ++p) {
        const std::uint8_t c = *p;
        if (c == '\n') {
            ++line_;
        } else if (!x_text::isSpace(c) && c != ',' && c != ';') {
            break;
        }
    }
    p_ = p;
    if (p < end_ && (*p == '#' || *p == '/')) {
        return nextTextWordAfterComment(word, location);
    }
    const std::uint8_t* q = scan(p, end_);
    const bool endsWord = q == end_ || x_text::kWordClass[*q] == x_text::kWordEnd ||
                          (x_text::kWordClass[*q] == x_text::kWordSlash && end_ - q >= 2 && q[1] == '/');
    p_ = q != p && endsWord ? q : wordEnd(p);
    if (p_ == p) {
        return false;
    }
    word = std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(p_ - p));
    location = line_;
    return true;
}

}  // namespace fyrel
