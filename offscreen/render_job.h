#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "offscreen/picture.h"
#include "render/studio_look.h"
#include "scene/model.h"
#include "scene/scene_list.h"

// What fyrel-render and fyrel-thumbnail do: read the model files, pose them,
// and write a picture (PNG) or a video of a clip or of a turn around them.
//
// Exit status: 0 written; 1 a file could not be read, a clip is missing,
// no OpenGL context could be made or the output could not be written (the
// reason on standard error, naming the file); 2 a usage error.

namespace fyrel {

struct RenderJob {
    std::vector<std::string> files;
    std::string output;
    int width = 640;
    int height = 480;
    std::string clip;          // empty: each model's first clip
    float time = 0.0f;         // seconds into the clip, for a picture
    Look look = Look::Studio;
    CameraAngle angle = CameraAngle::ThreeQuarter;
    bool turntable = false;    // a video of one turn around the models
    float fps = 30.0f;
    bool verbose = false;
};

// Reads fyrel-render's command line into job. Returns -1 to go on, else the
// exit status, having printed the usage (to standard output after --help,
// with the reason to err otherwise).
int readRenderArguments(int argc, char** argv, RenderJob& job, std::ostream& err);

// The usage text of fyrel-render.
const char* renderUsage();

// Whether the output's ending names a video (.mp4, .webm, .gif).
bool isVideoOutput(const std::string& path);

// Seconds a turntable video takes for one turn.
inline constexpr float kTurntableSeconds = 4.0f;

// Makes the clip of that name the current one of every model that has one;
// false when none has.
bool selectClip(SceneList<Model>& models, const std::string& name);

// The longest current clip's length in seconds (0 without clips).
float clipSeconds(const SceneList<Model>& models);

// Poses every model at seconds into its current clip (clamped to the clip,
// or wrapped around a looping one) and uploads the pose to its buffers.
void poseModels(SceneList<Model>& models, float seconds);

// Runs the job; messages go to err. Returns the exit status.
int runRenderJob(const RenderJob& job, std::ostream& err);

}  // namespace fyrel
