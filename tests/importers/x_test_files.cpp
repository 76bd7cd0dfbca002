#include "x_test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "animation/pose.h"
#include "animation/sampling.h"
#include "importers/x/x_importer.h"

namespace fyrel::test {

std::string xText(std::string_view body)
{
    return "xof 0303txt 0032\n" + std::string(body);
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
    for (std::uint32_t i = 0; i < n; ++i) {
        xyz.insert(xyz.end(), {static_cast<float>(i), 0.5f, 0.25f});
    }
    return xMesh(name, xyz, faces, inner);
}

std::string xSkinWeights(std::string_view bone, const std::vector<std::uint32_t>& vertices,
                         const std::vector<float>& weights, float tx, float ty, float tz)
{
    std::ostringstream s;
    s << "SkinWeights {\n \"" << bone << "\";\n " << vertices.size() << ";\n ";
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        s << vertices[i] << (i + 1 < vertices.size() ? "," : ";");
    }
    s << (vertices.empty() ? ";" : "") << "\n " << std::showpoint;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        s << weights[i] << (i + 1 < weights.size() ? "," : ";");
    }
    s << (weights.empty() ? ";" : "") << "\n 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0," << tx << "," << ty
      << "," << tz << ",1.0;;\n}\n";
    return s.str();
}

std::string xTranslation(float x, float y, float z)
{
    std::ostringstream s;
    s << std::showpoint << "FrameTransformMatrix {\n 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0," << x << ","
      << y << "," << z << ",1.0;;\n}\n";
    return s.str();
}

std::string xTexturedTriangle(const std::string& texture)
{
    return xText("Frame F {\n" +
                 xLineMesh("M", 3, {{0, 1, 2}},
                           "MeshMaterialList { 1; 1; 0;;\n Material { 1.0;1.0;1.0;1.0;; 5.0; 0.0;0.0;0.0;; "
                           "0.0;0.0;0.0;;\n  TextureFilename { \"" +
                               texture + "\"; }\n }\n}\n") +
                 "}\n");
}

std::string repeated(const std::string& piece, std::size_t times)
{
    std::string s;
    for (std::size_t i = 0; i < times; ++i) {
        s += piece;
    }
    return s;
}

Model importXBytes(const std::string& file, const std::string& fileName)
{
    XImporter importer;
    return importer.loadFromMemory(reinterpret_cast<const std::uint8_t*>(file.data()), file.size(), fileName);
}

void expectRestsOnItsMesh(const Model& imported)
{
    Model m(imported);
    updateAnimator(m.animator, 1.0f);
    updatePose(m);
    ASSERT_TRUE(m.hasSkin());
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (const Vertex& v : m.vertices) {
        const float p[3] = {v.position.x, v.position.y, v.position.z};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    const float size = length(Vector3{hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    for (std::size_t i = 0; i < m.vertices.size(); ++i) {
        Vector3 d;
        ASSERT_LT(length(difference(m.skinnedVertices[i].position, m.vertices[i].position, d)), 1e-4f * size)
            << "vertex " << i;
    }
    std::vector<const Bone*> open{&m.rootBone};
    while (!open.empty()) {
        const Bone* b = open.back();
        open.pop_back();
        for (int a = 0; a < 3; ++a) {
            const float margin = 0.1f * (hi[a] - lo[a]);
            EXPECT_GE(b->worldMatrix(a, 3), lo[a] - margin) << "joint " << b->name << " axis " << a;
            EXPECT_LE(b->worldMatrix(a, 3), hi[a] + margin) << "joint " << b->name << " axis " << a;
        }
        for (const Bone& c : b->children) {
            open.push_back(&c);
        }
    }
}

}  // namespace fyrel::test
