#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>
#include <string>
#include <vector>

#include "images/texture_image.h"
#include "heap_meter.h"
#include "support/import_check.h"
#include "support/source_tree.h"

namespace fyrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 2×1 PNG: a red pixel, then a half-transparent green one.
Bytes redGreenPng()
{
    return encodePng(Image{2, 1, ImageFormat::Rgba8, {255, 0, 0, 255, 0, 255, 0, 128}});
}

void put32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k) {
        b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
}

// A DDS header for width × height; fourCc empty means uncompressed 32-bit
// BGRA (the usual A8R8G8B8 masks).
Bytes ddsHeader(std::uint32_t width, std::uint32_t height, const char* fourCc)
{
    Bytes b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    put32(b, 4, 124);
    put32(b, 12, height);
    put32(b, 16, width);
    put32(b, 76, 32);
    if (fourCc[0]) {
        put32(b, 80, 0x4);
        std::memcpy(b.data() + 84, fourCc, 4);
    } else {
        put32(b, 80, 0x40 | 0x1);
        put32(b, 88, 32);
        put32(b, 92, 0x00FF0000);
        put32(b, 96, 0x0000FF00);
        put32(b, 100, 0x000000FF);
        put32(b, 104, 0xFF000000);
    }
    return b;
}

struct Pixel {
    int x, y;
    std::uint8_t rgba[4];
};

// Pixels of each format; damaged DDS and other refusals are the regression
// images' (below).
TEST(TextureImage, DecodesEveryFormatToTheRightPixelsAndRefusesDamage)
{
    Bytes dxt1 = ddsHeader(4, 4, "DXT1");
    // colour0 pure red (RGB565 0xF800) above colour1 blue: four-colour
    // blocks; every index 0 except the last pixel's, which is 1 (blue).
    const std::uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x40};
    dxt1.insert(dxt1.end(), block, block + 8);
    Bytes bgra = ddsHeader(2, 1, "");
    const std::uint8_t bgraPixels[8] = {0, 0, 255, 255, 255, 0, 0, 64};  // red, then a faint blue
    bgra.insert(bgra.end(), bgraPixels, bgraPixels + 8);
    Bytes hugePng = redGreenPng();
    // IHDR's width and height, big-endian: 16000 × 16000, each side allowed,
    // the whole a gigabyte of pixels.
    const std::uint8_t side[4] = {0x00, 0x00, 0x3E, 0x80};
    std::memcpy(hugePng.data() + 16, side, 4);
    std::memcpy(hugePng.data() + 20, side, 4);
    const Bytes png = redGreenPng();
    const Bytes cutPng(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));

    struct Case {
        const char* name;
        Bytes bytes;
        const char* error;  // empty when it decodes
        int width, height;
        std::vector<Pixel> pixels;
    } cases[] = {
        {"png", png, "", 2, 1, {{0, 0, {255, 0, 0, 255}}, {1, 0, {0, 255, 0, 128}}}},
        {"dds dxt1", dxt1, "", 4, 4, {{0, 0, {255, 0, 0, 255}}, {3, 3, {0, 0, 255, 255}}}},
        {"dds bgra", bgra, "", 2, 1, {{0, 0, {255, 0, 0, 255}}, {1, 0, {0, 0, 255, 64}}}},
        {"huge png", hugePng, "impossible size", 0, 0, {}},
        {"truncated png", cutPng, "does not decode", 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image image;
        std::string reason;
        const bool ok = decodeImage(c.bytes.data(), c.bytes.size(), image, reason);
        if (*c.error) {
            EXPECT_FALSE(ok);
            EXPECT_NE(reason.find(c.error), std::string::npos) << reason;
            EXPECT_TRUE(image.data.empty());
            continue;
        }
        ASSERT_TRUE(ok) << reason;
        const Image rgba = toRgba(image);
        ASSERT_EQ(rgba.width, c.width);
        ASSERT_EQ(rgba.height, c.height);
        ASSERT_EQ(rgba.data.size(), std::size_t{4} * static_cast<std::size_t>(c.width * c.height));
        for (const Pixel& p : c.pixels) {
            for (int k = 0; k < 4; ++k) {
                EXPECT_NEAR(rgba.data[4 * static_cast<std::size_t>(p.y * c.width + p.x) + k], p.rgba[k], 1)
                    << "pixel " << p.x << "," << p.y << " channel " << k;
            }
        }
    }
}

// The texture images of the .X regression models, against their manifest.
TEST(TextureImage, RegressionImagesDecodeOrAreRefusedAsTheirManifestSays)
{
    namespace fs = std::filesystem;
    const fs::path folder = sourcePath("tests/data/x/textures");
    std::ifstream manifest(folder / "MANIFEST");
    std::set<std::string> listed;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string name, outcome;
        fields >> name >> outcome;
        std::string expected;
        std::getline(fields >> std::ws, expected);
        listed.insert(name);
        Image image;
        std::string reason;
        const fs::path path = folder / name;
        const std::string bytes = fs::is_regular_file(path) ? test::fileBytes(path.string()) : std::string();
        const test::HeapMeasure heap;
        const bool decoded = decodeImageFile(path.string(), image, reason);
        EXPECT_LE(heap.peakAbove(), kMaxImageDecodeCost * bytes.size() + (std::size_t{1} << 20)) << name;
        if (outcome == "decodes") {
            EXPECT_TRUE(decoded) << name << ": " << reason;
            EXPECT_EQ(std::to_string(image.width) + "x" + std::to_string(image.height), expected) << name;
        } else {
            EXPECT_FALSE(decoded) << name;
            EXPECT_EQ(reason.rfind(expected, 0), 0u) << name << ": " << reason;
        }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "MANIFEST" || listed.count(name)) << name << " is not in the manifest";
    }
}

TEST(TextureImage, FindsTextureFilesAsWindowsExportersNameThem)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("fyrel_textures_" + std::to_string(::getpid()));
    fs::create_directories(folder / "Maps");
    std::ofstream(folder / "Maps" / "Skin.PNG") << "x";
    std::ofstream(folder / "wall.jpg") << "x";
    const std::string skin = (folder / "Maps" / "Skin.PNG").string();
    const std::string wall = (folder / "wall.jpg").string();
    const struct {
        const char* stored;
        std::string found;
    } cases[] = {
        {"Maps/Skin.PNG", skin},
        {"maps\\skin.png", skin},                     // backslashes, another case
        {"C:\\Artist\\Project\\WALL.JPG", wall},      // a path on the author's disk
        {"Maps/missing.png", ""},
        {"", ""},
        {"Maps", ""},                                 // a folder is no texture
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findTextureFile(c.stored, folder.string()), c.found) << c.stored;
    }
    Image image;
    std::string reason;
    EXPECT_FALSE(decodeImageFile(wall, image, reason));
    EXPECT_NE(reason.find("not an image"), std::string::npos) << reason;
    fs::remove_all(folder);
}

}  // namespace
}  // namespace fyrel
