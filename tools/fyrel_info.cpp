// fyrel-info [--verbose] FILE...: imports each model file the way Fyrel's
// import commands do and prints a summary of what came out. The output
// format is described in README.md (section "fyrel-info"); scripts read it,
// so it changes only together with that description.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "animation/bounds.h"
#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/model_formats.h"
#include "tools/scene_tools.h"
#include "tools/tool_arguments.h"
#include "images/texture_image.h"
#include "scene/model.h"

namespace {

using namespace fyrel;

// Control characters, DEL and backslash become \xNN, and so does the quote
// mark when the name is printed between quotes: one name stays one line.
std::string escaped(const std::string& name, bool quoted)
{
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '\\' || (quoted && c == '"')) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Numbers in the default stream format (six significant digits), without a
// negative zero.
std::string number(float v)
{
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << (v + 0.0f);
    return s.str();
}

std::string numbers(const float* v, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += (i ? " " : "") + number(v[i]);
    }
    return out;
}

bool hasSkeleton(const Model& model)
{
    const Bone& root = model.rootBone;
    return !root.name.empty() || !root.children.empty() || !root.weights.empty();
}

int boneCount(const Bone& bone)
{
    int n = 1;
    for (const Bone& child : bone.children) {
        n += boneCount(child);
    }
    return n;
}

void printBones(std::ostream& out, const Bone& bone, int level)
{
    out << std::string(2 * static_cast<std::size_t>(level), ' ') << escaped(bone.name, false) << '\n';
    for (const Bone& child : bone.children) {
        printBones(out, child, level + 1);
    }
}

void printAnimations(std::ostream& out, const Animator& animator)
{
    out << "animations: " << animator.animations.size() << '\n';
    for (std::size_t i = 0; i < animator.animations.size(); ++i) {
        const Animation& a = animator.animations[i];
        std::size_t keys = 0;
        for (const std::vector<KeyFrame>& track : a.tracks) {
            keys += track.size();
        }
        out << "animation " << i << ": name \"" << escaped(a.name, true) << "\", length " << number(a.length)
            << ", loop " << (a.loop ? "yes" : "no") << ", tracks " << a.tracks.size() << ", keys " << keys << '\n';
    }
    out << "animation rate: " << number(animator.rate) << '\n';
}

void printMaterial(std::ostream& out, const Material& m)
{
    out << "material ambient: " << numbers(m.ambient, 4) << '\n';
    out << "material diffuse: " << numbers(m.diffuse, 4) << '\n';
    out << "material specular: " << numbers(m.specular, 4) << '\n';
    out << "material emissive: " << numbers(m.emissive, 4) << '\n';
    out << "material shininess: " << number(m.shininess) << '\n';
}

// Whether the texture was found and decodes, as the views would draw it.
std::string textureState(const Material& m)
{
    if (!m.hasTexture()) {
        return "not found";
    }
    Image image;
    std::string reason;
    const bool decoded = m.embeddedTexture
                             ? decodeImage(m.embeddedTexture->data(), m.embeddedTexture->size(), image, reason)
                             : decodeImageFile(m.texturePath, image, reason);
    if (!decoded) {
        return "not decoded: " + reason;
    }
    return (m.embeddedTexture ? "in the file, " : "found, ") + std::to_string(image.width) + "x" +
           std::to_string(image.height);
}

void printMaterials(std::ostream& out, const Model& model)
{
    out << "materials: " << model.materials.size() << '\n';
    std::vector<std::size_t> triangles(model.materials.size() + 1, 0);
    for (const Triangle& t : model.triangles) {
        ++triangles[std::min<std::size_t>(t.material, model.materials.size())];
    }
    for (std::size_t i = 0; i < model.materials.size(); ++i) {
        const Material& m = model.materials[i];
        out << "material " << i << ": name \"" << escaped(m.name, true) << "\", diffuse " << numbers(m.diffuse, 4)
            << ", triangles " << triangles[i];
        if (!m.texture.empty() || m.embeddedTexture) {
            out << ", texture \"" << escaped(m.texture, true) << "\" (" << textureState(m) << ")";
        }
        out << '\n';
    }
}

void printLowHigh(std::ostream& out, const char* label, bool any, const Vector3& low, const Vector3& high)
{
    out << label << ": ";
    if (!any) {
        out << "none\n";
        return;
    }
    const float lows[3] = {low.x, low.y, low.z}, highs[3] = {high.x, high.y, high.z};
    out << "min " << numbers(lows, 3) << " max " << numbers(highs, 3) << '\n';
}

// The box of the vertices placed by the model's world transform (with the
// model at the origin unturned and not yet stood on the ground, that is its
// baseTransform).
void printBox(std::ostream& out, const char* label, const Model& model, const std::vector<Vertex>& vertices)
{
    Matrix4 world;
    model.worldTransform(world);
    constexpr float kInf = std::numeric_limits<float>::infinity();
    Vector3 low{kInf, kInf, kInf}, high{-kInf, -kInf, -kInf};
    for (const Vertex& v : vertices) {
        Vector4 p;
        transform(world, Vector4{v.position.x, v.position.y, v.position.z, 1.0f}, p);
        low = Vector3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = Vector3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    printLowHigh(out, label, !vertices.empty(), low, high);
}

void describe(std::ostream& out, const std::string& path, const Model& imported)
{
    out << "file: " << escaped(path, false) << '\n';
    out << "format: " << modelFormatName(path) << '\n';
    out << "vertices: " << imported.vertices.size() << '\n';
    out << "triangles: " << imported.triangles.size() << '\n';
    if (hasSkeleton(imported)) {
        out << "bones: " << boneCount(imported.rootBone) << '\n';
        out << "bone tree:\n";
        printBones(out, imported.rootBone, 1);
    } else {
        out << "bones: 0\n";
    }
    printAnimations(out, imported.animator);
    printMaterial(out, imported.material);
    printMaterials(out, imported);
    printBox(out, "bind box", imported, imported.vertices);

    // As the import command leaves it: a copy (which binds its animator to
    // itself), advanced by one second and posed.
    Model posed(imported);
    updateAnimator(posed, 1.0f);
    updatePose(posed);
    const bool skinned = !posed.rootBone.children.empty();
    printBox(out, "posed box", posed, skinned ? posed.skinnedVertices : posed.vertices);

    // As the program places it: at rest, stood on the ground.
    Model placed(imported);
    standOnGround(placed);
    RestBoxes rest;
    measureRest(placed, rest);
    printLowHigh(out, "joint box", rest.joints, rest.jointLow, rest.jointHigh);
    printLowHigh(out, "placed box", rest.mesh, rest.meshLow, rest.meshHigh);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* const usage = "usage: fyrel-info [--verbose] FILE...\n";
    ToolArguments arguments;
    if (const int status = readToolArguments(argc, argv, "fyrel-info", usage, arguments); status >= 0) {
        return status;
    }
    const std::vector<std::string>& paths = arguments.files;
    if (paths.empty()) {
        std::cerr << usage;
        return 2;
    }
    quietUnlessVerbose(arguments);

    int status = 0;
    bool first = true;
    for (const std::string& path : paths) {
        if (isSceneName(path)) {
            std::ostringstream text;
            status = printScene(text, std::cerr, path) ? 1 : status;
            std::cout << (first ? "" : "\n") << text.str() << std::flush;
            first = false;
            continue;
        }
        try {
            const Model model = importModelFile(path);
            std::ostringstream text;
            describe(text, path, model);
            std::cout << (first ? "" : "\n") << text.str() << std::flush;
            first = false;
        } catch (const std::exception& e) {
            std::cout << std::flush;
            std::cerr << e.what() << '\n';
            status = 1;
        }
    }
    return status;
}
