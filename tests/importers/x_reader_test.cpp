#include <gtest/gtest.h>

#include <string>

#include "importers/x/x_inflate.h"
#include "importers/x/x_reader.h"
#include "importers/x/x_templates.h"
#include "importers/x/x_tokenizer.h"
#include "x_test_files.h"

using namespace fyrel;
using namespace fyrel::test;

namespace {

XFileData read(const std::string& file)
{
    return readXFile(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
}

// The reason readXFile gives for a file, or "" when it reads.
std::string reasonFor(const std::string& file)
{
    try {
        read(file);
    } catch (const XReadError& e) {
        return e.what();
    }
    return "";
}

const XObject* topLevel(const XFileData& f, std::size_t i)
{
    return i < f.topLevel.size() ? f.topLevel[i] : nullptr;
}

std::string nested(const std::string& type, int depth)
{
    std::string s;
    for (int i = 0; i < depth; ++i) s += type + " {\n";
    for (int i = 0; i < depth; ++i) s += "}\n";
    return s;
}

}  // namespace

TEST(XTokenizer, ReadsTextTokensCommentsAndLines)
{
    std::string text = "Frame # comment { not a brace\n name// another\n{ 1.5;-2,\"a b\";<AB-CD> }";
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    XTokenizer t(p, p + text.size(), XEncoding::Text, 4, 0, 1);
    XToken a = t.next();
    EXPECT_EQ(a.kind, XTokenKind::Name);
    EXPECT_EQ(a.text, "Frame");
    XToken b = t.next();
    EXPECT_EQ(b.text, "name");
    EXPECT_EQ(b.location, 2u);
    EXPECT_EQ(t.next().kind, XTokenKind::OBrace);
    EXPECT_EQ(t.next().text, "1.5");
    EXPECT_EQ(t.next().kind, XTokenKind::Semicolon);
    EXPECT_EQ(t.next().text, "-2");
    EXPECT_EQ(t.next().kind, XTokenKind::Comma);
    XToken s = t.next();
    EXPECT_EQ(s.kind, XTokenKind::String);
    EXPECT_EQ(s.text, "a b");
    EXPECT_EQ(t.next().kind, XTokenKind::Semicolon);
    XToken g = t.next();
    EXPECT_EQ(g.kind, XTokenKind::Guid);
    EXPECT_EQ(g.text, "AB-CD");
    EXPECT_EQ(t.next().kind, XTokenKind::CBrace);
    EXPECT_EQ(t.next().kind, XTokenKind::End);
    EXPECT_EQ(t.next().kind, XTokenKind::End);
}

TEST(XTokenizer, BinaryRecordsMustFitTheData)
{
    // TOKEN_NAME announcing 100 bytes with 3 left.
    const std::uint8_t name[] = {1, 0, 100, 0, 0, 0, 'a', 'b', 'c'};
    XTokenizer t(name, name + sizeof name, XEncoding::Binary, 4, 16, 1);
    EXPECT_THROW(t.next(), XReadError);
    // TOKEN_FLOAT_LIST announcing a billion floats.
    const std::uint8_t list[] = {7, 0, 0, 0xCA, 0x9A, 0x3B, 0, 0, 0, 0};
    XTokenizer u(list, list + sizeof list, XEncoding::Binary, 4, 16, 1);
    EXPECT_THROW(u.next(), XReadError);
    const std::uint8_t unknown[] = {99, 0};
    XTokenizer v(unknown, unknown + sizeof unknown, XEncoding::Binary, 4, 16, 1);
    try {
        v.next();
        FAIL();
    } catch (const XReadError& e) {
        EXPECT_STREQ(e.what(), "an unknown token code 99 at byte offset 16");
    }
}

TEST(XReader, ChecksTheHeader)
{
    EXPECT_NE(reasonFor(""), "");
    EXPECT_NE(reasonFor("xof 0303txt"), "");
    EXPECT_NE(reasonFor("abc 0303txt 0032"), "");
    EXPECT_NE(reasonFor("xof 0301txt 0032"), "");
    EXPECT_NE(reasonFor("xof 0303zip 0032"), "");
    EXPECT_NE(reasonFor("xof 0303txt 0016"), "");
    EXPECT_EQ(reasonFor("xof 0302txt 0064\n"), "");
    EXPECT_EQ(reasonFor("xof 0303bin 0064"), "");
}

TEST(XReader, KeepsTheObjectsTheHierarchyNeeds)
{
    XFileData f = read(xText(R"(
Header { 1; 0; 1; }
Material Red { 1.0;0.0;0.0;1.0;; 2.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { "red.png"; } }
Frame F {
  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 4,5,6,1;; }
  Mesh { 1; 0;0;0;; 0;;
    MeshNormals { 1; 0;0;1;; 0;; }
    MeshMaterialList { 1; 0;; { Red } }
  }
}
)"));
    ASSERT_EQ(f.topLevel.size(), 2u);  // Header is read and dropped
    const XObject* red = topLevel(f, 0);
    EXPECT_EQ(red->kind, XObjectKind::Material);
    EXPECT_EQ(red->numbers.size(), 11u);
    ASSERT_EQ(red->children.size(), 1u);
    EXPECT_EQ(red->children[0].object->strings[0], "red.png");
    const XObject* frame = topLevel(f, 1);
    EXPECT_EQ(frame->name, "F");
    ASSERT_EQ(frame->children.size(), 2u);
    EXPECT_EQ(frame->children[0].object->numbers[12], 4.0);
    const XObject* mesh = frame->children[1].object;
    EXPECT_EQ(mesh->kind, XObjectKind::Mesh);
    ASSERT_EQ(mesh->children.size(), 1u);  // the normals are dropped
    const XChild& ref = mesh->children[0].object->children[0];
    EXPECT_TRUE(ref.isReference);
    EXPECT_EQ(ref.object, red);
}

TEST(XReader, AcceptsBothSeparatorStylesAndNone)
{
    for (const char* vertices : {"0.0;1.0;2.0;,3.0;4.0;5.0;;", "0.0;1.0;2.0;;3.0;4.0;5.0;;", "0 1 2 3 4 5"}) {
        XFileData f = read(xText(std::string("Mesh { 2; ") + vertices + " 1; 3; 0, 1, 1;;; }"));
        ASSERT_EQ(f.topLevel.size(), 1u) << vertices;
        EXPECT_EQ(topLevel(f, 0)->numbers, (std::vector<double>{2, 0, 1, 2, 3, 4, 5, 1, 3, 0, 1, 1})) << vertices;
    }
}

TEST(XReader, ReadsObjectsOfDeclaredTemplatesAndSkipsUnknownOnes)
{
    // A user template laid out with arrays sized by members and a template
    // member; its objects are read by it, then dropped.
    std::string body = R"(
template Pair { <11111111-2222-3333-4444-555555555555> DWORD a; FLOAT b; }
template Table { DWORD rows; DWORD cols; array Pair cells[rows][cols]; STRING label; }
Table { 2; 2; 1;1.0;, 2;2.0;, 3;3.0;, 4;4.0;; "done"; }
template Signed { SDWORD s; SWORD w; CHAR c; }
Signed { -1; -32768; -128; }
Unknown { anything "}" goes { here } }
Frame After { }
)";
    for (const std::string& file : {xText(body), xBinary(body), xBinary(body, 64, true)}) {
        XFileData f = read(file);
        ASSERT_EQ(f.topLevel.size(), 1u);
        EXPECT_EQ(topLevel(f, 0)->name, "After");
    }
    // One value too few for the template: the closing brace arrives first.
    EXPECT_NE(reasonFor(xText("template Pair { DWORD a; FLOAT b; } Pair { 1; }")), "");
    // One value too many.
    EXPECT_NE(reasonFor(xText("template Pair { DWORD a; FLOAT b; } Pair { 1; 2.0; 3; }")), "");
    EXPECT_NE(reasonFor(xBinary("template Pair { DWORD a; FLOAT b; } Pair { 1; 2.0; 3.0; }")), "");
    // An integer member with a fraction.
    EXPECT_NE(reasonFor(xText("Mesh { 1.5; }")), "");
}

TEST(XReader, TemplatesThatCannotBeReadSafelyAreSkipped)
{
    // A member of an unknown type, a template that names itself, and an
    // empty template as a member: objects of these types are skipped whole.
    std::string body = R"(
template UsesLater { Later x; }
template Self { DWORD n; array Self more[n]; }
template Empty { [...] }
template HoldsEmpty { DWORD n; array Empty e[n]; }
UsesLater { 1; }
Self { 1; 2; 3; }
HoldsEmpty { 4000000000; }
Frame F { }
)";
    XFileData f = read(xText(body));
    ASSERT_EQ(f.topLevel.size(), 1u);
    // A chain of templates deeper than the limit.
    std::string chain = "template T0 { DWORD v; }\n";
    for (int i = 1; i <= kMaxXTemplateDepth + 1; ++i) {
        chain += "template T" + std::to_string(i) + " { T" + std::to_string(i - 1) + " v; }\n";
    }
    chain += "T" + std::to_string(kMaxXTemplateDepth + 1) + " { 1; }\nFrame F { }\n";
    EXPECT_EQ(read(xText(chain)).topLevel.size(), 1u);
}

TEST(XReader, StandardTemplatesCannotBeRedefined)
{
    // A file that declares Mesh differently still has its meshes read as
    // meshes; declarations that repeat the standard ones change nothing.
    XFileData f = read(xText("template Mesh { STRING oops; } Mesh { 1; 0;0;0;; 0;; }"));
    ASSERT_EQ(f.topLevel.size(), 1u);
    EXPECT_EQ(topLevel(f, 0)->numbers.size(), 5u);
}

TEST(XReader, ReferencesNameOnlyEarlierCompleteObjects)
{
    XFileData f = read(xText("Frame A { } Frame B { { A } { B } { Later } } Frame Later { }"));
    const XObject* b = topLevel(f, 1);
    ASSERT_EQ(b->children.size(), 3u);
    EXPECT_EQ(b->children[0].object, topLevel(f, 0));
    EXPECT_EQ(b->children[1].object, nullptr);  // itself: not complete yet
    EXPECT_EQ(b->children[2].object, nullptr);  // after it
    EXPECT_EQ(b->children[2].referenceName, "Later");
}

TEST(XReader, NestingIsLimitedButSkippedObjectsMayNestDeeply)
{
    std::string tooDeep = xText(nested("Frame", static_cast<int>(kMaxXNesting) + 1));
    EXPECT_NE(reasonFor(tooDeep).find("nested deeper"), std::string::npos);
    // Objects of unknown types are skipped by counting braces: no limit, no recursion.
    XFileData f = read(xText(nested("Unknown", 200000) + "Frame F { }"));
    EXPECT_EQ(f.topLevel.size(), 1u);
}

TEST(XReader, ArraySizesAreCheckedAgainstWhatRemains)
{
    std::string reason = reasonFor(xText("Mesh { 4000000000; 1;2;3;; }"));
    EXPECT_NE(reason.find("more than the rest of the file holds"), std::string::npos) << reason;
    EXPECT_NE(reasonFor(xBinary("Mesh { 4000000000; 1.0;2.0;3.0;; }")), "");
    EXPECT_NE(reasonFor(xText("template Big { array DWORD v[4000000000][4000000000]; } Big { 1; }")), "");
    // The faces of a mesh each hold a size of their own.
    EXPECT_NE(reasonFor(xText("Mesh { 1; 0;0;0;; 1; 4000000000; 0;; }")), "");
}

TEST(XReader, ReasonsSayWhereTheProblemIs)
{
    EXPECT_EQ(reasonFor(xText("Frame F {\n Mesh {\n 1;\n 0;0;x;;\n 0;;\n }\n}")),
              "expected a number in Mesh, found a name \"x\" at line 5");
    std::string binary = xBinary("Frame F { Mesh { 1; 0.0;0.0;0.0;; 0; } }");
    binary.resize(binary.size() - 2);
    EXPECT_NE(reasonFor(binary).find("the file ends inside Frame \"F\""), std::string::npos);
    EXPECT_NE(reasonFor(xCompressed(xText("Frame { 1; }"))).find("of the inflated text"), std::string::npos);
}

TEST(XInflate, BlocksContinueThePreviousWindow)
{
    // Repetitive content across many small blocks: each block's matches reach
    // into the blocks before it.
    std::string body;
    for (int i = 0; i < 3000; ++i) body += "Frame F" + std::to_string(i % 7) + " { }\n";
    std::string text = xText(body);
    std::string packed = xCompressed(text, 1000);
    ASSERT_LT(packed.size(), text.size() / 4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(packed.data());
    std::vector<std::uint8_t> out = inflateMsZip(p + 16, packed.size() - 16);
    EXPECT_EQ(std::string(out.begin(), out.end()), text.substr(16));
    EXPECT_EQ(read(packed).topLevel.size(), 3000u);
}

TEST(XInflate, RejectsBrokenAndOversizedData)
{
    std::string packed = xCompressed(xText("Frame F { }"));
    const auto* p = reinterpret_cast<const std::uint8_t*>(packed.data());
    std::size_t n = packed.size() - 16;
    EXPECT_THROW(inflateMsZip(p + 16, n, 5), XReadError);  // larger than allowed
    std::string noSignature = packed;
    noSignature[24] = 'X';
    EXPECT_NE(reasonFor(noSignature).find("signature"), std::string::npos);
    std::string wrongSize = packed;
    wrongSize[20] = static_cast<char>(wrongSize[20] + 1);  // the block's uncompressed size
    EXPECT_NE(reasonFor(wrongSize), "");
    // A file announcing gigabytes is refused before anything is inflated.
    std::string huge = packed;
    huge[16] = huge[17] = huge[18] = static_cast<char>(0xff);
    huge[19] = 0x7f;
    EXPECT_NE(reasonFor(huge).find("more than"), std::string::npos);
}

TEST(XInflate, RefusesDataThatInflatesFarBeyondItsSize)
{
    // 4 MiB of one repeated line packs into a few kilobytes: beyond the ratio
    // a compressed file may have.
    std::string body(4 << 20, ' ');
    std::string packed = xCompressed(xText(body + "Frame F { }"));
    ASSERT_LT(packed.size() * kMaxXInflateRatio + 65536, body.size());
    EXPECT_NE(reasonFor(packed).find("more than"), std::string::npos);
}
