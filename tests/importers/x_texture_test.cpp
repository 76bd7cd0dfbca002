#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "importers/x/x_texture.h"

using namespace fyrel;

namespace {

void putU16(std::vector<std::uint8_t>& v, std::size_t at, std::uint16_t x)
{
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}

void putU32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

std::vector<std::uint8_t> dds(const char* fourCc, std::uint32_t width, std::uint32_t height, std::size_t dataBytes)
{
    std::vector<std::uint8_t> v(128 + dataBytes, 0);
    std::memcpy(v.data(), "DDS ", 4);
    putU32(v, 4, 124);
    putU32(v, 12, height);
    putU32(v, 16, width);
    putU32(v, 76, 32);
    if (fourCc) {
        putU32(v, 80, 0x4);
        std::memcpy(v.data() + 84, fourCc, 4);
    } else {
        putU32(v, 80, 0x40);
        putU32(v, 88, 32);
    }
    return v;
}

// A run-length encoded 8-bit BMP, which stb_image does not read.
std::vector<std::uint8_t> rleBmp(std::size_t dataBytes)
{
    std::vector<std::uint8_t> v(14 + 40 + 1024 + dataBytes, 0);
    v[0] = 'B';
    v[1] = 'M';
    putU32(v, 2, static_cast<std::uint32_t>(v.size()));
    putU32(v, 10, 14 + 40 + 1024);
    putU32(v, 14, 40);
    putU32(v, 18, 16);
    putU32(v, 22, 16);
    putU16(v, 26, 1);
    putU16(v, 28, 8);
    putU32(v, 30, 1);
    return v;
}

std::vector<std::uint8_t> pfm(const std::string& header, std::size_t dataBytes)
{
    std::vector<std::uint8_t> v(header.begin(), header.end());
    v.resize(v.size() + dataBytes, 0);
    return v;
}

bool isImage(const std::vector<std::uint8_t>& bytes, TextureInfo* out = nullptr)
{
    TextureInfo info;
    std::string reason;
    bool ok = checkImageData(bytes.data(), bytes.size(), info, reason);
    if (!ok) {
        EXPECT_FALSE(reason.empty());
    }
    if (out) *out = info;
    return ok;
}

std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(XTexture, StbImageFormatsDecode)
{
    std::string png = "/usr/share/assimp/models/X/test.png";
    std::string tga = "/usr/share/assimp/models/X/top.tga";
    if (!std::filesystem::exists(png)) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    TextureInfo info;
    EXPECT_TRUE(isImage(fileBytes(png), &info));
    EXPECT_EQ(info.width, 512);
    EXPECT_TRUE(isImage(fileBytes(tga), &info));
    EXPECT_EQ(info.height, 256);
    std::vector<std::uint8_t> cut = fileBytes(png);
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(isImage(cut));
}

TEST(XTexture, DdsHeadersAreChecked)
{
    TextureInfo info;
    EXPECT_TRUE(isImage(dds("DXT1", 8, 8, 4 * 8), &info));
    EXPECT_EQ(info.width, 8);
    EXPECT_TRUE(isImage(dds("DXT5", 5, 5, 4 * 16)));
    EXPECT_TRUE(isImage(dds(nullptr, 4, 2, 4 * 2 * 4)));
    EXPECT_FALSE(isImage(dds("DXT1", 8, 8, 4 * 8 - 1)));  // data cut off
    EXPECT_FALSE(isImage(dds("DX10", 8, 8, 1000)));
    EXPECT_FALSE(isImage(dds("DXT1", 0, 8, 100)));
    std::vector<std::uint8_t> badSize = dds("DXT1", 4, 4, 8);
    badSize[4] = 100;
    EXPECT_FALSE(isImage(badSize));
    EXPECT_FALSE(isImage(std::vector<std::uint8_t>{'D', 'D', 'S', ' ', 0}));
}

TEST(XTexture, BmpVariantsStbImageLeavesOutAreChecked)
{
    EXPECT_TRUE(isImage(rleBmp(16)));
    std::vector<std::uint8_t> noData = rleBmp(0);
    EXPECT_FALSE(isImage(noData));
    std::vector<std::uint8_t> badPlanes = rleBmp(16);
    putU16(badPlanes, 26, 3);
    EXPECT_FALSE(isImage(badPlanes));
    std::vector<std::uint8_t> badBits = rleBmp(16);
    putU16(badBits, 28, 7);
    EXPECT_FALSE(isImage(badBits));
}

TEST(XTexture, PfmHeadersAreChecked)
{
    TextureInfo info;
    EXPECT_TRUE(isImage(pfm("PF\n2 3\n-1.0\n", 2 * 3 * 3 * 4), &info));
    EXPECT_EQ(info.height, 3);
    EXPECT_TRUE(isImage(pfm("Pf\n2 3\n1.0\n", 2 * 3 * 4)));
    EXPECT_FALSE(isImage(pfm("PF\n2 3\n-1.0\n", 2 * 3 * 3 * 4 - 1)));
    EXPECT_FALSE(isImage(pfm("PF\n2 x\n-1.0\n", 100)));
    EXPECT_FALSE(isImage(pfm("PF\n2 3\n0\n", 100)));
}

TEST(XTexture, OtherBytesAreNoImage)
{
    EXPECT_FALSE(isImage({}));
    EXPECT_FALSE(isImage(std::vector<std::uint8_t>(100, 0x42)));
    std::string text = "xof 0303txt 0032";
    EXPECT_FALSE(isImage(std::vector<std::uint8_t>(text.begin(), text.end())));
}

TEST(XTexture, FindsNamesInTheModelFolderFirst)
{
    auto folder = std::filesystem::temp_directory_path() / "fyrel_x_find_texture";
    std::filesystem::create_directories(folder / "maps");
    std::ofstream(folder / "maps" / "a.png") << "x";
    EXPECT_EQ(findTextureFile("maps\\a.png", folder.string()), (folder / "maps" / "a.png").string());
    EXPECT_EQ(findTextureFile("maps/missing.png", folder.string()), "");
    EXPECT_EQ(findTextureFile("", folder.string()), "");
    EXPECT_EQ(findTextureFile((folder / "maps" / "a.png").string(), "/nowhere"), (folder / "maps" / "a.png").string());
    TextureInfo info;
    std::string reason;
    EXPECT_FALSE(checkImageFile((folder / "maps").string(), info, reason));
    EXPECT_EQ(reason, "not a regular file");
    std::filesystem::remove_all(folder);
}
