#include "x_test_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/x/x_importer.h"
#include "diagnostics/debug_output.h"

namespace fyrel::test {

namespace {

void putU16(std::string& out, std::uint16_t v)
{
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}

void putU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((v >> (8 * i)) & 0xff);
    }
}

bool isSpace(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

bool isPunct(char c)
{
    return std::strchr("{}[](),;\"<>", c) != nullptr && c != 0;
}

bool isNumberWord(std::string_view w)
{
    if (w.empty()) {
        return false;
    }
    std::size_t i = (w[0] == '-' || w[0] == '+') ? 1 : 0;
    return i < w.size() && ((w[i] >= '0' && w[i] <= '9') || (w[i] == '.' && i + 1 < w.size()));
}

bool isFloatWord(std::string_view w)
{
    return w.find_first_of(".eE") != std::string_view::npos;
}

int keywordToken(std::string_view w)
{
    static const struct {
        const char* word;
        int token;
    } kKeywords[] = {
        {"WORD", 40}, {"DWORD", 41}, {"FLOAT", 42}, {"DOUBLE", 43}, {"CHAR", 44}, {"UCHAR", 45},
        {"SWORD", 46}, {"SDWORD", 47}, {"VOID", 48}, {"STRING", 49}, {"LPSTR", 49}, {"UNICODE", 50},
        {"CSTRING", 51}, {"array", 52},
    };
    for (const auto& k : kKeywords) {
        if (w == k.word) {
            return k.token;
        }
    }
    return 0;
}

class BinaryWriter {
public:
    BinaryWriter(int floatBits, bool longTerminators) : floatBits_(floatBits), longTerminators_(longTerminators) {}

    std::string write(std::string_view text)
    {
        std::size_t p = 0;
        while (p < text.size()) {
            char c = text[p];
            if (isSpace(c)) {
                ++p;
            } else if (c == '#' || (c == '/' && p + 1 < text.size() && text[p + 1] == '/')) {
                while (p < text.size() && text[p] != '\n') ++p;
            } else if (c == '"') {
                std::size_t end = text.find('"', p + 1);
                string(text.substr(p + 1, end - p - 1));
                p = end + 1;
            } else if (c == '<') {
                std::size_t end = text.find('>', p);
                guid();
                p = end + 1;
            } else if (isPunct(c)) {
                punct(c);
                ++p;
            } else {
                std::size_t start = p;
                while (p < text.size() && !isSpace(text[p]) && !isPunct(text[p])) ++p;
                word(text.substr(start, p - start));
            }
        }
        flush();
        return out_;
    }

private:
    void flush()
    {
        if (values_.empty()) {
            return;
        }
        putU16(out_, listIsFloat_ ? 7 : 6);
        putU32(out_, static_cast<std::uint32_t>(values_.size()));
        for (double v : values_) {
            if (!listIsFloat_) {
                putU32(out_, static_cast<std::uint32_t>(static_cast<std::int64_t>(v)));
            } else if (floatBits_ == 32) {
                float f = static_cast<float>(v);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                putU32(out_, u);
            } else {
                std::uint64_t u;
                std::memcpy(&u, &v, 8);
                putU32(out_, static_cast<std::uint32_t>(u));
                putU32(out_, static_cast<std::uint32_t>(u >> 32));
            }
        }
        values_.clear();
    }

    void token(int code)
    {
        flush();
        putU16(out_, static_cast<std::uint16_t>(code));
    }

    void string(std::string_view s)
    {
        token(2);
        putU32(out_, static_cast<std::uint32_t>(s.size()));
        out_ += s;
        if (longTerminators_) {
            putU32(out_, 20);
        } else {
            putU16(out_, 20);
        }
    }

    void guid()
    {
        token(5);
        for (int i = 0; i < 16; ++i) out_ += static_cast<char>(0x11 * (i + 1));
    }

    void punct(char c)
    {
        bool data = !inTemplate_;
        switch (c) {
        case '{': token(10); break;
        case '}':
            token(11);
            inTemplate_ = false;  // templates hold no braces of their own
            break;
        case '[': token(14); break;
        case ']': token(15); break;
        case '(': token(12); break;
        case ')': token(13); break;
        case ',': if (!data) token(19); break;
        case ';': if (!data) token(20); break;
        default: break;
        }
    }

    void word(std::string_view w)
    {
        if (w == "template") {
            token(31);
            inTemplate_ = true;
            return;
        }
        if (inTemplate_) {
            if (w == "...") {
                token(18); token(18); token(18);
            } else if (int k = keywordToken(w)) {
                token(k);
            } else if (isNumberWord(w)) {
                token(3);
                putU32(out_, static_cast<std::uint32_t>(std::stoul(std::string(w))));
            } else {
                name(w);
            }
            return;
        }
        if (isNumberWord(w)) {
            bool isFloat = isFloatWord(w);
            if (!values_.empty() && isFloat != listIsFloat_) {
                flush();
            }
            listIsFloat_ = isFloat;
            values_.push_back(std::stod(std::string(w)));
            return;
        }
        name(w);
    }

    void name(std::string_view w)
    {
        token(1);
        putU32(out_, static_cast<std::uint32_t>(w.size()));
        out_ += w;
    }

    int floatBits_;
    bool longTerminators_;
    std::string out_;
    std::vector<double> values_;
    bool listIsFloat_ = false;
    bool inTemplate_ = false;  // from "template" to the declaration's closing brace
};

}  // namespace

std::string xText(std::string_view body, std::string_view version)
{
    return "xof " + std::string(version) + "txt 0032\n" + std::string(body);
}

std::string xBinary(std::string_view body, int floatBits, bool longStringTerminators, std::string_view version)
{
    std::string header = "xof " + std::string(version) + "bin " + (floatBits == 64 ? "0064" : "0032");
    return header + BinaryWriter(floatBits, longStringTerminators).write(body);
}

std::string xCompressed(const std::string& file, std::size_t blockSize)
{
    std::string header = file.substr(0, 16);
    header.replace(8, 4, header.compare(8, 4, "txt ") == 0 ? "tzip" : "bzip");
    std::string content = file.substr(16);
    std::string out = header;
    putU32(out, static_cast<std::uint32_t>(file.size()));
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::vector<unsigned char> packed(65536);
    for (std::size_t start = 0; start < content.size(); start += blockSize) {
        std::size_t n = std::min(blockSize, content.size() - start);
        deflateReset(&z);
        std::size_t history = std::min<std::size_t>(start, 32768);
        if (history > 0) {
            deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(content.data() + start - history),
                                 static_cast<uInt>(history));
        }
        z.next_in = reinterpret_cast<Bytef*>(content.data() + start);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("deflate");
        }
        std::size_t packedBytes = packed.size() - z.avail_out;
        putU16(out, static_cast<std::uint16_t>(n));
        putU16(out, static_cast<std::uint16_t>(packedBytes + 2));
        out += "CK";
        out.append(reinterpret_cast<const char*>(packed.data()), packedBytes);
    }
    deflateEnd(&z);
    return out;
}

std::string xMesh(std::string_view name, const std::vector<float>& xyz,
                  const std::vector<std::vector<std::uint32_t>>& faces, std::string_view inner)
{
    std::ostringstream s;
    s.precision(9);
    s << "Mesh " << name << " {\n " << xyz.size() / 3 << ";\n";
    for (std::size_t i = 0; i < xyz.size(); i += 3) {
        s << std::showpoint << xyz[i] << ";" << xyz[i + 1] << ";" << xyz[i + 2] << ";"
          << (i + 3 < xyz.size() ? ",\n" : ";\n");
    }
    s << std::noshowpoint << " " << faces.size() << ";\n";
    for (std::size_t f = 0; f < faces.size(); ++f) {
        s << " " << faces[f].size() << ";";
        for (std::size_t k = 0; k < faces[f].size(); ++k) {
            s << faces[f][k] << (k + 1 < faces[f].size() ? "," : "");
        }
        s << (f + 1 < faces.size() ? ";,\n" : ";;\n");
    }
    s << inner << "}\n";
    return s.str();
}

std::string xLineMesh(std::string_view name, std::uint32_t n, const std::vector<std::vector<std::uint32_t>>& faces,
                      std::string_view inner)
{
    std::vector<float> xyz;
    xyz.reserve(3 * std::size_t{n});
    for (std::uint32_t i = 0; i < n; ++i) {
        xyz.push_back(static_cast<float>(i));
        xyz.push_back(0.5f);
        xyz.push_back(0.25f);
    }
    return xMesh(name, xyz, faces, inner);
}

std::string xSkinWeights(std::string_view bone, const std::vector<std::uint32_t>& vertices,
                         const std::vector<float>& weights, float tx, float ty, float tz)
{
    std::ostringstream s;
    s << std::showpoint << "SkinWeights {\n \"" << bone << "\";\n " << std::noshowpoint << vertices.size() << ";\n ";
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        s << vertices[i] << (i + 1 < vertices.size() ? "," : ";");
    }
    if (vertices.empty()) s << ";";
    s << "\n " << std::showpoint;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        s << weights[i] << (i + 1 < weights.size() ? "," : ";");
    }
    if (weights.empty()) s << ";";
    s << "\n 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0," << tx << "," << ty << "," << tz << ",1.0;;\n}\n";
    return s.str();
}

std::string xTranslation(float x, float y, float z)
{
    std::ostringstream s;
    s << std::showpoint << "FrameTransformMatrix {\n 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0," << x << ","
      << y << "," << z << ",1.0;;\n}\n";
    return s.str();
}

std::vector<std::uint8_t> bytesOf(const std::string& s)
{
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

Model importXBytes(const std::string& file, const std::string& fileName)
{
    XImporter importer;
    return importer.loadFromMemory(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(), fileName);
}

DebugCapture::DebugCapture()
{
    setDebugSink([this](const std::string& m) { text_ += m; });
}

DebugCapture::~DebugCapture()
{
    setDebugSink({});
}

// Rest pose of a skinned model: every skinned vertex where the file put it
// (within 1e-4 of the model's size), every joint inside the mesh's box grown
// by a tenth of its extent on each side.
void expectRestsOnItsMesh(const Model& imported)
{
    Model m(imported);
    updateAnimator(m.animator, 1.0f);
    updatePose(m);
    ASSERT_TRUE(m.hasSkin());
    Vector3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
    for (const Vertex& v : m.vertices) {
        low = Vector3{std::min(low.x, v.position.x), std::min(low.y, v.position.y), std::min(low.z, v.position.z)};
        high = Vector3{std::max(high.x, v.position.x), std::max(high.y, v.position.y), std::max(high.z, v.position.z)};
    }
    Vector3 extent;
    difference(high, low, extent);
    const float size = length(extent);
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        Vector3 d;
        ASSERT_LT(length(difference(m.skinnedVertices[i].position, m.vertices[i].position, d)), 1e-4f * size)
            << "vertex " << i;
    }
    std::vector<const Bone*> open{&m.rootBone};
    while (!open.empty()) {
        const Bone* b = open.back();
        open.pop_back();
        const float p[3] = {b->worldMatrix(0, 3), b->worldMatrix(1, 3), b->worldMatrix(2, 3)};
        const float lo[3] = {low.x, low.y, low.z}, hi[3] = {high.x, high.y, high.z};
        for (int a = 0; a < 3; ++a) {
            const float margin = 0.1f * (hi[a] - lo[a]);
            EXPECT_GE(p[a], lo[a] - margin) << "joint " << b->name << " axis " << a;
            EXPECT_LE(p[a], hi[a] + margin) << "joint " << b->name << " axis " << a;
        }
        for (const Bone& c : b->children) {
            open.push_back(&c);
        }
    }
}

}  // namespace fyrel::test
