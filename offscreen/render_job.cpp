#include "offscreen/render_job.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>

#include "animation/bounds.h"
#include "animation/pose.h"
#include "animation/sampling.h"
#include "diagnostics/debug_output.h"
#include "importers/model_formats.h"
#include "offscreen/headless_gl.h"
#include "offscreen/video_writer.h"
#include "render/model_buffers.h"

namespace fyrel {

namespace {

const char* const kUsage =
    "usage: fyrel-render FILE... -o OUTPUT [--size WxH] [--clip NAME] [--time SECONDS]\n"
    "                    [--look studio|classic] [--camera front|side|top|three-quarter]\n"
    "                    [--turntable] [--fps N] [--verbose]\n"
    "OUTPUT ending in .png writes a picture; .mp4, .webm or .gif a video of the clip\n"
    "(--clip) or of one turn around the models (--turntable).\n";

constexpr int kMaxSide = 8192;

bool readSize(const std::string& text, int& width, int& height)
{
    const std::size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto w = std::from_chars(begin, begin + x, width);
    const auto h = std::from_chars(begin + x + 1, end, height);
    return w.ec == std::errc{} && w.ptr == begin + x && h.ec == std::errc{} && h.ptr == end && width > 0 &&
           height > 0 && width <= kMaxSide && height <= kMaxSide;
}

bool readNumber(const std::string& text, float& out)
{
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc{} && r.ptr == end && std::isfinite(out);
}

bool endsWith(const std::string& path, const char* ending)
{
    std::string lower = path;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t n = std::char_traits<char>::length(ending);
    return lower.size() > n && lower.compare(lower.size() - n, n, ending) == 0;
}

int usageError(std::ostream& err, const std::string& why)
{
    err << "fyrel-render: " << why << '\n' << kUsage;
    return 2;
}

// The current directory, the executable's folder, the installed data
// folder: where the program looks for its shaders too.
std::vector<std::string> shaderDirs()
{
    std::vector<std::string> dirs{""};
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        dirs.push_back(exe.parent_path().string());
        dirs.push_back((exe.parent_path() / "../share/fyrel").string());
    }
    dirs.push_back(FYREL_DATA_DIR);
    return dirs;
}

bool loadModels(const RenderJob& job, SceneList<Model>& models, std::ostream& err)
{
    for (const std::string& path : job.files) {
        try {
            models.push_back(importModelFile(path));
            standOnGround(models.back());
        } catch (const std::bad_alloc&) {
            err << "There is not enough memory to load \"" << path << "\".\n";
            return false;
        } catch (const std::exception& error) {
            err << error.what() << '\n';
            return false;
        }
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::ostream& err)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        err << "fyrel-render: cannot write \"" << path << "\"\n";
        return false;
    }
    return true;
}

// One line, rewritten in place, on a terminal only.
void showProgress(int done, int total)
{
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "\rframe %d / %d", done, total);
        if (done == total) {
            std::fputc('\n', stderr);
        }
    }
}

// Progress is shown for videos of more than this many seconds.
constexpr float kProgressSeconds = 3.0f;

int writeVideo(const RenderJob& job, PictureGl& gl, SceneList<Model>& models, std::ostream& err)
{
    // The video formats halve the colour planes: even sizes.
    const int width = std::max(2, job.width & ~1);
    const int height = std::max(2, job.height & ~1);
    const int fps = static_cast<int>(std::lround(job.fps));
    const float seconds = job.turntable ? kTurntableSeconds : clipSeconds(models);
    const int frames = std::max(1, static_cast<int>(std::lround(seconds * fps)));
    std::string reason;
    std::unique_ptr<VideoWriter> video = VideoWriter::open(job.output, width, height, fps, reason);
    if (!video) {
        err << "fyrel-render: " << reason << '\n';
        return 1;
    }
    EulerCameraFov camera;
    poseModels(models, job.turntable ? job.time : 0.0f);
    framePicture(models, job.angle, width, height, camera);
    const SceneView scene = pictureScene(gl, models, job.look);
    Image picture;
    const bool progress = seconds > kProgressSeconds;
    for (int i = 0; i < frames; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(fps);
        if (job.turntable) {
            // The camera circles the models, framed at every turn.
            framePicture(models, job.angle, width, height, camera, 6.2831853f * t / kTurntableSeconds);
        } else {
            poseModels(models, t);
        }
        if (!drawPicture(gl, scene, width, height, camera.projection, camera.view, picture, reason)) {
            err << "fyrel-render: " << reason << '\n';
            return 1;
        }
        if (!video->write(picture, reason)) {
            err << "fyrel-render: " << reason << '\n';
            return 1;
        }
        if (progress) {
            showProgress(i + 1, frames);
        }
    }
    if (!video->finish(reason)) {
        err << "fyrel-render: " << reason << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

const char* renderUsage()
{
    return kUsage;
}

bool isVideoOutput(const std::string& path)
{
    return endsWith(path, ".mp4") || endsWith(path, ".webm") || endsWith(path, ".gif");
}

int readRenderArguments(int argc, char** argv, RenderJob& job, std::ostream& err)
{
    bool options = true;
    bool timeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "-o" || arg == "--size" || arg == "--clip" || arg == "--time" ||
                                arg == "--look" || arg == "--camera" || arg == "--fps";
        if (options && takesValue && i + 1 >= argc) {
            return usageError(err, arg + " needs a value");
        }
        if (!options || arg.empty() || arg[0] != '-' || arg == "-") {
            job.files.push_back(arg);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "-v" || arg == "--verbose") {
            job.verbose = true;
        } else if (arg == "--turntable") {
            job.turntable = true;
        } else if (arg == "-o") {
            job.output = argv[++i];
        } else if (arg == "--size") {
            if (!readSize(argv[++i], job.width, job.height)) {
                return usageError(err, std::string("--size wants WIDTHxHEIGHT, each 1 to 8192, not ") + argv[i]);
            }
        } else if (arg == "--clip") {
            job.clip = argv[++i];
        } else if (arg == "--time") {
            timeGiven = true;
            if (!readNumber(argv[++i], job.time) || job.time < 0.0f) {
                return usageError(err, std::string("--time wants seconds, not ") + argv[i]);
            }
        } else if (arg == "--fps") {
            if (!readNumber(argv[++i], job.fps) || job.fps < 1.0f || job.fps > 240.0f) {
                return usageError(err, std::string("--fps wants 1 to 240, not ") + argv[i]);
            }
        } else if (arg == "--look") {
            if (!parseLook(argv[++i], job.look)) {
                return usageError(err, std::string("--look is studio or classic, not ") + argv[i]);
            }
        } else if (arg == "--camera") {
            if (!parseCameraAngle(argv[++i], job.angle)) {
                return usageError(err, std::string("--camera is front, side, top or three-quarter, not ") + argv[i]);
            }
        } else {
            return usageError(err, "unknown option " + arg);
        }
    }
    if (job.files.empty()) {
        return usageError(err, "no model file");
    }
    if (job.output.empty()) {
        return usageError(err, "no output (-o)");
    }
    const bool video = isVideoOutput(job.output);
    if (!video && !endsWith(job.output, ".png")) {
        return usageError(err, "the output must end in .png, .mp4, .webm or .gif");
    }
    if (video && job.clip.empty() && !job.turntable) {
        return usageError(err, "a video needs --clip NAME or --turntable");
    }
    if (video && timeGiven && !job.turntable) {
        return usageError(err, "--time is for pictures and turntables; a clip's video runs the whole clip");
    }
    if (!video && job.turntable) {
        return usageError(err, "--turntable makes a video: the output must end in .mp4, .webm or .gif");
    }
    return -1;
}

bool selectClip(SceneList<Model>& models, const std::string& name)
{
    bool found = false;
    for (Model& model : models) {
        const std::vector<Animation>& clips = model.animator.animations;
        for (std::size_t i = 0; i < clips.size(); ++i) {
            if (clips[i].name == name) {
                model.animator.current = static_cast<std::int32_t>(i);
                found = true;
                break;
            }
        }
    }
    return found;
}

namespace {

const Animation* currentClip(const Model& model)
{
    const Animator& a = model.animator;
    return a.current >= 0 && static_cast<std::size_t>(a.current) < a.animations.size() ? &a.animations[a.current]
                                                                                          : nullptr;
}

}  // namespace

float clipSeconds(const SceneList<Model>& models)
{
    float longest = 0.0f;
    for (const Model& model : models) {
        if (const Animation* clip = currentClip(model); clip && clip->ticksPerSecond > 0.0f) {
            longest = std::max(longest, clip->length / clip->ticksPerSecond);
        }
    }
    return longest;
}

void poseModels(SceneList<Model>& models, float seconds)
{
    for (Model& model : models) {
        if (const Animation* clip = currentClip(model)) {
            const float perSecond = clip->ticksPerSecond > 0.0f ? clip->ticksPerSecond : 1.0f;
            float ticks = seconds * perSecond;
            if (clip->loop && clip->length > 0.0f) {
                ticks = std::fmod(ticks, clip->length);
            }
            model.animator.time = std::min(ticks, clip->length);
            updateAnimator(model, 0.0f);
        }
        updatePose(model);
        uploadSkinned(model);
    }
}

int runRenderJob(const RenderJob& job, std::ostream& err)
{
    if (!job.verbose) {
        setDebugSink([](const std::string&) {});  // the importers' reading summaries
    }
    SceneList<Model> models;
    if (!loadModels(job, models, err)) {
        return 1;
    }
    if (!job.clip.empty() && !selectClip(models, job.clip)) {
        err << "fyrel-render: no model has a clip named \"" << job.clip << "\"\n";
        return 1;
    }
    std::string reason;
    std::unique_ptr<HeadlessGl> context = HeadlessGl::create(reason);
    PictureGl gl;
    if (!context || !initPictureGl(gl, HeadlessGl::procAddress, nullptr, job.look, shaderDirs(), reason)) {
        err << "fyrel-render: no OpenGL without a window: " << reason << '\n';
        return 1;
    }
    createMissingBuffers(models, &gl.functions);
    int status = 0;
    if (isVideoOutput(job.output)) {
        status = writeVideo(job, gl, models, err);
    } else {
        poseModels(models, job.time);
        EulerCameraFov camera;
        framePicture(models, job.angle, job.width, job.height, camera);
        Image picture;
        if (!drawPicture(gl, pictureScene(gl, models, job.look), job.width, job.height, camera.projection,
                         camera.view, picture, reason)) {
            err << "fyrel-render: " << reason << '\n';
            status = 1;
        } else if (!writeFile(job.output, encodePng(picture), err)) {
            status = 1;
        }
    }
    models.clear();  // their buffers and textures, while the context is current
    return status;
}

}  // namespace fyrel
