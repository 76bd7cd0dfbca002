#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "diagnostics/debug_output.h"
#include "heap_meter.h"
#include "importers/import_error.h"
#include "importers/x/x_importer.h"
#include "support/source_tree.h"

// The clips of .X animation sets. What a clip must show is worked out here
// from the file's text alone: a key sets its frame's transform in the
// format's own row-vector form (a quaternion's matrix as the key's value at
// time 0 must equal the frame's matrix), components without keys keep the
// frame's, and a frame's world matrix is its transform times its parent's.
// The binary and compressed files of tests/data/x/animated hold the same
// content as the text file of their name.

using namespace fyrel;
using namespace fyrel::test;

namespace {

const std::string kAssimpX = "/usr/share/assimp/models/X/";

Model load(const std::string& bytes)
{
    return XImporter().loadFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), "test.x");
}

// The debug output while alive: the reading summary.
struct DebugText {
    std::string text;
    DebugText() { setDebugSink([this](const std::string& m) { text += m; }); }
    ~DebugText() { setDebugSink({}); }
};

// The message a refusal gives the user, empty when the file loads.
std::string refusalOf(const std::string& bytes)
{
    DebugText quiet;
    try {
        load(bytes);
    } catch (const ImportError& e) {
        return e.what();
    }
    return "";
}

struct Node {
    std::string type, name;
    std::vector<double> numbers;
    std::vector<std::string> references;
    std::vector<Node> children;
};

// Words, numbers and braces of a text body; comments, separators and class
// ids dropped.
std::vector<std::string> tokens(const std::string& text)
{
    const std::string s = std::regex_replace(text, std::regex("//[^\n]*"), "");
    static const std::regex token(R"([{}]|[^\s,;{}]+)");
    std::vector<std::string> out;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), token); it != std::sregex_iterator(); ++it)
        if (it->str()[0] != '<') out.push_back(it->str());
    return out;
}

// The objects of a text body, templates included, with their numbers.
void parseInto(const std::vector<std::string>& t, std::size_t& i, Node& parent)
{
    while (i < t.size() && t[i] != "}") {
        char* end = nullptr;
        const double v = std::strtod(t[i].c_str(), &end);
        if (t[i] == "{") {
            parent.references.push_back(t[i + 1]);
            i += 3;
        } else if (*end == '\0') {
            parent.numbers.push_back(v);
            ++i;
        } else if (i + 1 < t.size() && (t[i + 1] == "{" || (i + 2 < t.size() && t[i + 2] == "{"))) {
            Node child{t[i], t[i + 1] == "{" ? "" : t[i + 1], {}, {}, {}};
            i += t[i + 1] == "{" ? 2 : 3;
            parseInto(t, i, child);
            ++i;
            parent.children.push_back(std::move(child));
        } else {
            ++i;
        }
    }
}

using Keys = std::vector<std::pair<double, std::vector<double>>>;  // tick, values

Keys keysOf(const Node& key)
{
    Keys keys;
    const std::vector<double>& n = key.numbers;
    for (std::size_t i = 2; key.type == "AnimationKey" && i < n.size(); i += 2 + std::size_t(n[i + 1]))
        keys.push_back({n[i], std::vector<double>(&n[i + 2], &n[i + 2] + std::size_t(n[i + 1]))});
    return keys;
}

// A key list at a tick: the key there, linear (spherical) between keys, the
// end keys beyond them. Matrix keys are only ever asked for at their ticks.
std::vector<double> valueAt(const Keys& keys, double tick, bool isRotation)
{
    auto later = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return k.first > tick; });
    if (later == keys.begin()) return keys.front().second;
    const auto& before = *(later - 1);
    if (later == keys.end() || before.first == tick) return before.second;
    const auto s = float((tick - before.first) / (later->first - before.first));
    const auto &a = before.second, &b = later->second;
    if (isRotation) {
        Quaternion q;
        slerp({float(a[0]), float(a[1]), float(a[2]), float(a[3])}, {float(b[0]), float(b[1]), float(b[2]), float(b[3])}, s, q);
        return {q.w, q.x, q.y, q.z};
    }
    return {a[0] + s * (b[0] - a[0]), a[1] + s * (b[1] - a[1]), a[2] + s * (b[2] - a[2])};
}

// The frame's transform at a tick, in the file's row-vector form: its own
// matrix with what its keys give. A quaternion (w, x, y, z) of the file is,
// in that form, the matrix the scene's column-vector form gives (w, x, y, z).
Matrix4 frameAt(const Node& animation, Matrix4 frame, double tick)
{
    for (const Node& key : animation.children) {
        if (key.type != "AnimationKey") continue;
        const int type = int(key.numbers[0]);
        const std::vector<double> v = valueAt(keysOf(key), tick, type == 0);
        Quaternion unit;
        Matrix4 r;
        if (type == 0) quatToMatrix(quatNormalize({float(v[0]), float(v[1]), float(v[2]), float(v[3])}, unit), r);
        for (int i = 0; i < 12; ++i) {
            if (type == 0 && i % 4 < 3) frame.m[i] = r.m[i];
            if (type == 1 && i % 4 < 3) frame.m[i] *= float(v[i / 4]);
        }
        if (type == 2) std::copy(v.begin(), v.end(), frame.m + 12);
        if (type >= 3) std::copy(v.begin(), v.end(), frame.m);
    }
    return frame;
}

// The file's sets: name, ticks per second, animations by frame, key ticks.
struct Set {
    std::string name;
    double ticksPerSecond;
    std::map<std::string, const Node*> byFrame;
    std::set<double> ticks;
};

std::vector<Set> setsOf(const Node& file)
{
    std::vector<Set> sets;
    double ticks = 0;  // none given: frame numbers (25 a second) when the set ends before tick 480, else 4800
    for (const Node& n : file.children) {
        if (n.type == "AnimTicksPerSecond") ticks = n.numbers.at(0);
        if (n.type != "AnimationSet") continue;
        Set set{n.name.empty() ? "Animation " + std::to_string(sets.size()) : n.name, ticks, {}, {}};
        for (const Node& a : n.children) {
            auto frame = std::find_if(a.children.begin(), a.children.end(), [](const Node& c) { return c.type == "Frame"; });
            set.byFrame.emplace(frame != a.children.end() ? frame->name : a.references.at(0), &a);
            for (const Node& key : a.children)
                for (const auto& k : keysOf(key)) set.ticks.insert(k.first);
        }
        if (ticks == 0) set.ticksPerSecond = *set.ticks.rbegin() < 480 ? 25 : 4800;
        sets.push_back(set);
    }
    return sets;
}

// The largest difference of a posed world matrix from its frame's at the
// tick, over the subtree; the bind matrices are those of the file's frames.
double deviation(const Bone& bone, const Matrix4& parent, const Set& set, double tick)
{
    Matrix4 local, world;
    for (int i = 0; i < 16; ++i) local.m[i] = bone.localMatrix(i % 4, i / 4);
    auto it = set.byFrame.find(bone.name);
    mul(it == set.byFrame.end() ? local : frameAt(*it->second, local, tick), parent, world);
    double worst = 0;
    for (int i = 0; i < 16; ++i) worst = std::max(worst, double(std::fabs(bone.worldMatrix(i % 4, i / 4) - world.m[i])));
    for (const Bone& child : bone.children) worst = std::max(worst, deviation(child, world, set, tick));
    return worst;
}

// Every clip: named, ordered and as long as the file's sets, looping, and at
// every key time posed as the file's keys say, within 1e-4 of the model's size.
void expectClips(const Model& imported, const std::string& text, const std::string& summary)
{
    Node file;
    const std::vector<std::string> t = tokens(text.substr(text.find('\n')));
    std::size_t i = 0;
    parseInto(t, i, file);
    const std::vector<Set> sets = setsOf(file);
    for (const Set& set : sets) {  // the reading summary says each set's rate
        std::ostringstream line;
        line << "Animation set \"" << set.name << "\": " << set.ticksPerSecond << " ticks per second";
        EXPECT_NE(summary.find(line.str()), std::string::npos) << line.str() << " in " << summary;
    }
    ASSERT_EQ(imported.animator.animations.size(), sets.size());
    EXPECT_FLOAT_EQ(imported.animator.rate, 1.0f);
    EXPECT_EQ(imported.animator.current, 0);
    double lo[3] = {1e30, 1e30, 1e30}, hi[3] = {-1e30, -1e30, -1e30};
    for (const Vertex& v : imported.vertices)
        for (int a = 0; a < 3; ++a) {
            const double p[3] = {v.position.x, v.position.y, v.position.z};
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    const double tolerance = 1e-4 * std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
    for (std::size_t s = 0; s < sets.size(); ++s) {
        SCOPED_TRACE(sets[s].name);
        Model m(imported);  // every bone at rest but those the clip drives
        Animation& clip = m.animator.animations[s];
        EXPECT_EQ(clip.name, sets[s].name);
        EXPECT_TRUE(clip.loop);
        EXPECT_FLOAT_EQ(clip.length, float(*sets[s].ticks.rbegin() / sets[s].ticksPerSecond));
        clip.loop = false;  // so that the last key time is not wrapped to 0
        for (double tick : sets[s].ticks) {
            m.animator.current = std::int32_t(s);
            m.animator.time = float(tick / sets[s].ticksPerSecond);
            updateAnimator(m, 0.0f);
            evaluateBone(nullptr, m.rootBone);
            EXPECT_LE(deviation(m.rootBone, Matrix4{}, sets[s], tick), tolerance) << "tick " << tick;
        }
    }
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string dataFile(const std::string& name)
{
    return readFile(sourcePath("tests/data/x/animated/" + name));
}

}  // namespace

// Files with one key type each, in every encoding, and the animated
// characters of assimp-testmodels, whose keys are of all types.
TEST(XAnimation, EveryClipPosesTheFramesItsKeysDescribe)
{
    std::vector<std::pair<std::string, std::string>> files;  // a file, its text
    for (const std::string name : {"rotation", "scale", "position", "matrix"})
        for (const char* encoding : {".x", "_bin.x", "_tzip.x", "_bzip64.x"})
            files.emplace_back(name + encoding, dataFile(name + ".x"));
    for (const char* name : {"Testwuson.X", "BCN_Epileptic.X", "anim_test.x"}) files.emplace_back(name, "");
    // Keys that count frames, in a file that names no rate, as modelling tools write them.
    std::string frames = dataFile("rotation.x");
    frames.replace(frames.find("2400;4;"), 4, "12").replace(frames.find("4800;4;"), 4, "25");
    files.emplace_back("", frames);
    for (const auto& [name, text] : files) {
        SCOPED_TRACE(name);
        const std::string file = text.empty() ? readFile(kAssimpX + name) : name.empty() ? text : dataFile(name);
        DebugText summary;
        const Model m = load(file);
        expectClips(m, text.empty() ? file : text, summary.text);
    }
}

// Bad key data, and every truncated prefix of a text and a binary file: the
// set comes first, so no prefix is a whole file (a text file ends with its
// last brace).
TEST(XAnimation, BadAnimationDataIsRejectedWithAReason)
{
    const struct {
        std::string from, to, reason;
    } kChanges[] = {
        {"{ 0; 3; 0;4;", "{ 7; 3; 0;4;", "has key type 7"},
        {"0;4;0.7071068,0.0,0.0,-0.7071068;;, 2400;4;", "0;3;0.7071068,0.0,0.0;;, 2400;5;0.0,",
         "holds 3 values; a rotation key holds 4"},
        {"0;4;0.7071068,0.0,0.0,-0.7071068;;", "0;4;0.0,0.0,0.0,0.0;;", "is a zero quaternion"},
        {"0;4;0.7071068,", "0;4;1e39,", "not a finite float"},
        {"AnimationSet Swing {", "AnimTicksPerSecond { 0; } AnimationSet Swing {", "no ticks per second"},
        {"AnimationSet Swing {", "AnimationSet Swing { { Root }", "names no Animation before it"},
    };
    std::vector<std::pair<std::string, std::string>> bad;  // a file, what its refusal says
    for (const auto& c : kChanges) {
        std::string text = dataFile("rotation.x");
        ASSERT_NE(text.find(c.from), std::string::npos) << c.from;
        bad.emplace_back(text.replace(text.find(c.from), c.from.size(), c.to), c.reason);
    }
    for (const std::string& file : {dataFile("matrix.x"), dataFile("matrix_bin.x")}) {
        DebugText quiet;
        EXPECT_EQ(load(file).animator.animations.size(), 1u);
        const std::size_t whole = file.compare(8, 3, "txt") == 0 ? file.rfind('}') + 1 : file.size();
        for (std::size_t n = 0; n < whole; ++n) bad.emplace_back(file.substr(0, n), "Failed to load");
    }
    for (const auto& [file, reason] : bad) {
        const std::string message = refusalOf(file);
        EXPECT_NE(message.find(reason), std::string::npos) << message;
        EXPECT_EQ(message.rfind("Failed to load mesh from hierarchy, haha.\n\"test.x\" cannot be read: ", 0), 0u)
            << message;
    }
}

TEST(XAnimation, AnimatedFilesStayWithinTheMemoryBudget)
{
    // An animation of 200 keys that 400 sets name: little to read, but their
    // clips would take 80,000 key frames, several times the budget.
    std::string keys;
    for (int k = 0; k < 200; ++k) keys += std::to_string(k * 10) + ";3;" + std::to_string(k) + ".0,0.0,0.0;;,";
    keys.back() = ';';
    std::string bomb = "xof 0303txt 0032\nAnimation Shake { { Arm } AnimationKey { 2; 200; " + keys + " } }\n";
    for (int r = 0; r < 400; ++r) bomb += "AnimationSet { { Shake } }\n";
    bomb += dataFile("rotation.x").substr(dataFile("rotation.x").find("Frame Root"));
    const std::string wuson = readFile(kAssimpX + "Testwuson.X");
    for (const std::string* file : std::initializer_list<const std::string*>{&bomb, &wuson}) {
        DebugText quiet;
        HeapMeasure heap;
        try {
            load(*file);
            EXPECT_EQ(file, &wuson);
        } catch (const ImportError& e) {
            EXPECT_EQ(file, &bomb);
            EXPECT_NE(std::string(e.what()).find("more working memory"), std::string::npos) << e.what();
        }
        // x_budget.h: never more than 100 times the file plus 1 MiB.
        EXPECT_LE(heap.peakAbove(), 100 * file->size() + (1u << 20));
    }
}
