// fyrel-render and fyrel-thumbnail as a user runs them, with no display at
// all: the pictures are read back, the videos opened with libavformat.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "animation/bounds.h"
#include "diagnostics/debug_output.h"
#include "importers/model_formats.h"
#include "offscreen/picture.h"
#include "offscreen/render_job.h"
#include "support/source_tree.h"

namespace fyrel {
namespace {

struct ToolRun {
    int status = -1;
    std::string errors;
};

// The test program's own folder, removed with its files when it ends.
std::filesystem::path scratch()
{
    static const struct Folder {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("fyrel_offscreen_" + std::to_string(getpid()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

// Runs a tool with DISPLAY and WAYLAND_DISPLAY unset: no window system.
ToolRun runTool(const char* program, const std::string& arguments)
{
    const std::string errors = (scratch() / "stderr.txt").string();
    const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") + program + " " + arguments + " 2> " + errors;
    const int status = std::system(command.c_str());
    std::ifstream file(errors);
    std::stringstream text;
    text << file.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

Image readPng(const std::string& path)
{
    Image image;
    std::string reason;
    EXPECT_TRUE(decodeImageFile(path, image, reason)) << path << ": " << reason;
    return image;
}

struct Rgb { int r, g, b; };

Rgb pixel(const Image& image, int x, int y)
{
    const std::uint8_t* p = image.data.data() + (static_cast<std::size_t>(y) * image.width + x) * 4;
    return {p[0], p[1], p[2]};
}

int brightness(Rgb c) { return (c.r + c.g + c.b) / 3; }
bool saturated(Rgb c) { return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 50; }
bool bright(Rgb c) { return brightness(c) > 150; }
bool lightGrey(Rgb c) { return brightness(c) > 120 && !saturated(c); }
bool brightOrSaturated(Rgb c) { return bright(c) || saturated(c); }
// The demo character's skin (orange) or clothes (blue).
bool demoColour(Rgb c) { return (c.r > c.g + 15 && c.g > c.b) || (c.b > c.r + 25); }

// Where the world point appears in a picture of the camera: the render pass
// puts its axis change in front of the view matrix.
void project(const EulerCameraFov& camera, const Vector3& p, int width, int height, int& x, int& y)
{
    const Vector4 world{p.x, p.y, p.z, 1.0f};
    Vector4 v, clip;
    transform(camera.view, world, v);
    const Vector4 eye{v.x, v.z, -v.y, 1.0f};
    transform(camera.projection, eye, clip);
    x = static_cast<int>((clip.x / clip.w * 0.5f + 0.5f) * width);
    y = static_cast<int>((0.5f - clip.y / clip.w * 0.5f) * height);
}

// The motion's skeleton in the Studio look: its joints' colour.
bool studioJoint(Rgb c) { return c.r > c.g + 40 && c.g > c.b + 40; }

// The models as fyrel-render places, poses and frames them; their box, and
// where the model is sure to be drawn: the box's middle, or for a skeleton
// without a mesh its first joint.
EulerCameraFov expectedCamera(const std::string& path, int width, int height, Vector3& low, Vector3& high,
                              Vector3& anchor)
{
    setDebugSink([](const std::string&) {});  // the importers' reading summaries
    SceneList<Model> models;
    models.push_back(importModelFile(path));
    standOnGround(models.back());
    poseModels(models, 0.0f);
    EulerCameraFov camera;
    framePicture(models, CameraAngle::ThreeQuarter, width, height, camera);
    low = Vector3{1e30f, 1e30f, 1e30f};
    high = Vector3{-1e30f, -1e30f, -1e30f};
    growByDrawnBox(models.back(), low, high);
    anchor = Vector3{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
    const Model& model = models.back();
    if (model.vertices.empty() && !model.rootBone.children.empty()) {
        Matrix4 world;
        model.worldTransform(world);
        const Matrix4& joint = model.rootBone.children.front().worldMatrix;
        Vector4 p;
        transform(world, Vector4{joint(0, 3), joint(1, 3), joint(2, 3), 1.0f}, p);
        anchor = Vector3{p.x, p.y, p.z};
    }
    return camera;
}

std::string assimp(const char* relative) { return std::string("/usr/share/assimp/models/") + relative; }

// A model of every format, and a damaged file of each: the picture shows
// the model's colours where the middle of its box projects and the Studio
// look's shadow on the ground just in front of its feet; a file that cannot
// be read fails with the importer's message, which names it.
TEST(Offscreen, RenderDrawsEveryFormatWithoutADisplay)
{
    const struct {
        std::string file;
        bool (*colour)(Rgb);  // null: refused with the message
        std::string message;
    } rows[] = {
        {sourcePath("resources/demo/walker.ms3d"), demoColour, ""},
        {assimp("3DS/cube_with_diffuse_texture.3DS"), saturated, ""},
        {assimp("X/kwxport_test_cubewithvcolors.x"), lightGrey, ""},
        {assimp("glTF2/BoxTextured-glTF/BoxTextured.gltf"), brightOrSaturated, ""},
        {assimp("glTF2/BoxTextured-glTF-Binary/BoxTextured.glb"), brightOrSaturated, ""},
#ifdef FYREL_HAS_IMPORT_WORKER
        {assimp("BVH/01_01.bvh"), studioJoint, ""},  // no mesh: the skeleton is drawn
#endif
        {sourcePath("tests/data/ms3d/announces_65535_groups.ms3d"), nullptr, "announces_65535_groups.ms3d"},
        {sourcePath("tests/data/3ds/announces_65535_faces.3ds"), nullptr, "announces_65535_faces.3ds"},
        {sourcePath("tests/data/x/a_material_only.x"), nullptr, "the file holds no frame and no mesh"},
        {sourcePath("tests/data/gltf/not_json.gltf"), nullptr, "not_json.gltf"},
        {"/nonexistent/model.ms3d", nullptr, "/nonexistent/model.ms3d"},
        {sourcePath("tests/data/ms3d/MANIFEST"), nullptr, "MANIFEST"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string out = (scratch() / "picture.png").string();
        std::filesystem::remove(out);
        const ToolRun run = runTool(FYREL_RENDER_PROGRAM, quoted(row.file) + " -o " + quoted(out) + " --size 320x240");
        if (!row.colour) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.errors.find(row.message), std::string::npos) << run.errors;
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.errors;
        const Image image = readPng(out);
        ASSERT_EQ(image.width, 320);
        ASSERT_EQ(image.height, 240);
        Vector3 low, high, anchor;
        const EulerCameraFov camera = expectedCamera(row.file, 320, 240, low, high, anchor);
        int x = 0, y = 0;
        project(camera, anchor, 320, 240, x, y);
        int found = 0;
        for (int dy = -3; dy <= 3; ++dy) {
            for (int dx = -3; dx <= 3; ++dx) {
                found += row.colour(pixel(image, x + dx, y + dy));
            }
        }
        EXPECT_GT(found, 20) << "at " << x << "," << y;
        // The gradient: the top row is the Studio top colour; the ground
        // just in front of the model (the camera is on its +Y side) is
        // darker than the gradient at that row.
        const Rgb top = pixel(image, 2, 0);
        EXPECT_NEAR(top.r, kStudioTop[0], 3);
        EXPECT_NEAR(top.b, kStudioTop[2], 3);
        if (row.colour == studioJoint) {
            continue;  // framed by its joints, down to the feet: no ground in front in the picture
        }
        project(camera, {(low.x + high.x) / 2, high.y + 0.02f * (high.z - low.z), 0.0f}, 320, 240, x, y);
        ASSERT_TRUE(x > 0 && x < 319 && y > 0 && y < 239);
        int darkest = 255;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                darkest = std::min(darkest, brightness(pixel(image, x + dx, y + dy)));
            }
        }
        const float up = 1.0f - static_cast<float>(y) / 239.0f;
        const float gradient = kStudioBottom[1] + (kStudioTop[1] - kStudioBottom[1]) * up;
        EXPECT_LT(darkest, 0.8f * gradient) << "no shadow at " << x << "," << y;
    }
}

// Classic is the views' picture: black above the blue ground, no gradient.
TEST(Offscreen, ClassicLookIsTheViewsPicture)
{
    const std::string out = (scratch() / "classic.png").string();
    const ToolRun run = runTool(FYREL_RENDER_PROGRAM, quoted(sourcePath("resources/demo/walker.ms3d")) + " -o " +
                                                      quoted(out) + " --look classic --size 160x120");
    ASSERT_EQ(run.status, 0) << run.errors;
    const Image image = readPng(out);
    const Rgb top = pixel(image, 2, 0);
    EXPECT_EQ(brightness(top), 0);
    const Rgb ground = pixel(image, 2, 119);
    EXPECT_GT(ground.b, ground.r + 30);
}

// --time poses the clip: a quarter in, the walker stands otherwise than at
// its start, and its looping clip of one second is there again a second on.
TEST(Offscreen, TimePosesTheClip)
{
    const std::string walker = quoted(sourcePath("resources/demo/walker.ms3d"));
    std::vector<Image> pictures;
    for (const char* time : {"0", "0.25", "1.25"}) {
        const std::string out = (scratch() / (std::string("time") + time + ".png")).string();
        const ToolRun run = runTool(FYREL_RENDER_PROGRAM, walker + " -o " + quoted(out) + " --size 160x120 --time " + time);
        ASSERT_EQ(run.status, 0) << run.errors;
        pictures.push_back(readPng(out));
    }
    EXPECT_NE(pictures[0].data, pictures[1].data);
    EXPECT_EQ(pictures[1].data, pictures[2].data);
}

// Exit status and message for misuse.
TEST(Offscreen, RenderRefusesBadArguments)
{
    const std::string out = quoted((scratch() / "bad.png").string());
    const std::string walker = quoted(sourcePath("resources/demo/walker.ms3d"));
    const struct {
        std::string arguments;
        int status;
        std::string message;
    } rows[] = {
        {walker + " -o " + out + " --clip Nothing", 1, "no model has a clip named \"Nothing\""},
        {walker + " -o /nonexistent/picture.png", 1, "cannot write \"/nonexistent/picture.png\""},
        {walker + " -o " + out + " --size 0x10", 2, "--size wants"},
        {walker + " -o " + out + " --look gloomy", 2, "--look is studio or classic"},
        {walker + " -o " + out + " --camera below", 2, "--camera is"},
        {walker, 2, "no output"},
        {walker + " -o picture.jpg", 2, "must end in .png"},
        {walker + " -o clip.mp4", 2, "a video needs --clip NAME or --turntable"},
        {"-o " + out, 2, "no model file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const ToolRun run = runTool(FYREL_RENDER_PROGRAM, row.arguments);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.errors.find(row.message), std::string::npos) << run.errors;
    }
}

struct VideoFacts {
    int frames = 0;
    double seconds = 0.0;
    int width = 0;
    Rgb corner{0, 0, 0};  // the first frame's top left pixel, decoded
};

// Decodes the packet of the first frame and converts its top rows.
Rgb firstCorner(const AVStream& stream, const AVPacket& packet)
{
    const AVCodec* decoder = avcodec_find_decoder(stream.codecpar->codec_id);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, stream.codecpar);
    AVFrame* frame = av_frame_alloc();
    Rgb rgb{0, 0, 0};
    const bool decoded = avcodec_open2(codec, decoder, nullptr) == 0 && avcodec_send_packet(codec, &packet) == 0 &&
                         (avcodec_receive_frame(codec, frame) == 0 ||
                          (avcodec_send_packet(codec, nullptr) == 0 && avcodec_receive_frame(codec, frame) == 0));
    if (decoded) {
        SwsContext* scale = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                           frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr,
                                           nullptr);
        std::vector<std::uint8_t> rows(static_cast<std::size_t>(frame->width) * 3 * 2);
        std::uint8_t* out[1] = {rows.data()};
        const int stride[1] = {frame->width * 3};
        sws_scale(scale, frame->data, frame->linesize, 0, 2, out, stride);
        rgb = {rows[6], rows[7], rows[8]};
        sws_freeContext(scale);
    }
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    return rgb;
}

VideoFacts readVideo(const std::string& path)
{
    VideoFacts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return facts;
    }
    avformat_find_stream_info(format, nullptr);
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        const AVStream* stream = format->streams[index];
        facts.width = stream->codecpar->width;
        std::int64_t first = INT64_MAX, end = 0;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index) {
                if (facts.frames == 0) {
                    facts.corner = firstCorner(*stream, *packet);
                }
                ++facts.frames;
                first = std::min(first, packet->pts);
                end = std::max(end, packet->pts + packet->duration);
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        facts.seconds = static_cast<double>(end - first) * av_q2d(stream->time_base);
    }
    avformat_close_input(&format);
    return facts;
}

// A clip's video holds one frame per 1 / fps of the clip and lasts as long
// as the clip; a turntable lasts one turn.
TEST(Offscreen, VideoFramesAndDurationFollowTheClip)
{
    const std::string walker = quoted(sourcePath("resources/demo/walker.ms3d"));
    const std::string clip = " --clip 'Default MS3D Animation'";
    const struct {
        std::string name;
        std::string arguments;
        int frames;
        double seconds;
    } rows[] = {
        {"walk.mp4", clip + " --fps 24", 24, 1.0},
        {"walk.webm", clip, 30, 1.0},
        {"walk.gif", clip + " --fps 10", 10, 1.0},
        {"turn.mp4", " --turntable --fps 12", 48, 4.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = (scratch() / row.name).string();
        const ToolRun run = runTool(FYREL_RENDER_PROGRAM, walker + " -o " + quoted(out) + " --size 161x120" + row.arguments);
        ASSERT_EQ(run.status, 0) << run.errors;
        const VideoFacts facts = readVideo(out);
        EXPECT_EQ(facts.frames, row.frames);
        EXPECT_NEAR(facts.seconds, row.seconds, 0.051);
        EXPECT_EQ(facts.width, 160);  // even, for the halved colour planes
        EXPECT_NEAR(facts.corner.r, kStudioTop[0], 8);  // the colours survive the video's encoding
        EXPECT_NEAR(facts.corner.g, kStudioTop[1], 8);
        EXPECT_NEAR(facts.corner.b, kStudioTop[2], 8);
    }
}

// The thumbnailer's command line, and its file agreeing with the desktop
// entry and the MIME types.
TEST(Offscreen, ThumbnailerWritesASquarePictureAndIsRegistered)
{
    const std::string out = (scratch() / "thumb.png").string();
    const std::string walker = quoted(sourcePath("resources/demo/walker.ms3d"));
    ToolRun run = runTool(FYREL_THUMBNAIL_PROGRAM, "-s 96 " + walker + " " + quoted(out));
    ASSERT_EQ(run.status, 0) << run.errors;
    const Image image = readPng(out);
    EXPECT_EQ(image.width, 96);
    EXPECT_EQ(image.height, 96);
    EXPECT_TRUE(demoColour(pixel(image, 48, 48)));
    EXPECT_EQ(runTool(FYREL_THUMBNAIL_PROGRAM, walker + " " + quoted(out)).status, 2);
    EXPECT_EQ(runTool(FYREL_THUMBNAIL_PROGRAM, "-s 0 " + walker + " " + quoted(out)).status, 2);
    run = runTool(FYREL_THUMBNAIL_PROGRAM, "-s 64 /nonexistent.x " + quoted(out));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("/nonexistent.x"), std::string::npos);

    auto lineOf = [](const std::string& file, const std::string& key) {
        std::ifstream in(sourcePath(file));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(key, 0) == 0) {
                return line.substr(key.size());
            }
        }
        return std::string();
    };
    EXPECT_EQ(lineOf("resources/fyrel.thumbnailer", "Exec="), "fyrel-thumbnail -s %s %i %o");
    const std::string types = lineOf("resources/fyrel.thumbnailer", "MimeType=");
    EXPECT_EQ(lineOf("resources/fyrel.desktop", "MimeType="), types);
    std::ifstream xml(sourcePath("resources/fyrel-models.xml"));
    std::stringstream text;
    text << xml.rdbuf();
    const std::string defined = text.str();
    for (std::size_t at = 0; (at = defined.find("<mime-type type=\"", at)) != std::string::npos;) {
        at += 17;
        const std::string type = defined.substr(at, defined.find('"', at) - at);
        EXPECT_NE(types.find(type + ";"), std::string::npos) << type << " is not claimed";
    }
    for (const char* shared : {"model/gltf-binary;", "model/gltf+json;", "image/x-3ds;"}) {
        EXPECT_NE(types.find(shared), std::string::npos) << shared;
    }
}

}  // namespace
}  // namespace fyrel
