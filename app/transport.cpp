// The transport: the tool bar's clock, model, clip and time controls, the
// Animation menu, and the status bar that reports them.

#include "app/transport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/commands.h"
#include "platform/tool_bar.h"
#include "ui/resources.h"

namespace fyrel {

namespace {

constexpr float kRefreshSeconds = 0.1f;

const Animation* currentClip(const Model& model)
{
    const Animator& a = model.animator;
    if (a.current < 0 || static_cast<std::size_t>(a.current) >= a.animations.size()) {
        return nullptr;
    }
    return &a.animations[static_cast<std::size_t>(a.current)];
}

std::string seconds(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    return text;
}

void showModels(Application& app)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < app.models.size(); ++i) {
        names.push_back(app.modelName(app.models[i], i));
    }
    const int selected = app.models.empty() ? -1 : static_cast<int>(app.selectedModel);
    setToolItems(app.mainWindow, kControlModel, names, selected);
}

void showClips(Application& app, const Model* model)
{
    std::vector<std::string> names;
    int selected = -1;
    if (model) {
        for (const Animation& clip : model->animator.animations) {
            names.push_back(clip.name);
        }
        selected = currentClip(*model) ? model->animator.current : -1;
    }
    setToolItems(app.mainWindow, kControlClip, names, selected);
}

void showTime(Application& app, const Model* model, float frameRate)
{
    const Animation* clip = model ? currentClip(*model) : nullptr;
    // Seconds as they are seen: key time by the clip's own time base.
    const float perSecond = clip && clip->ticksPerSecond > 0.0f ? clip->ticksPerSecond : 1.0f;
    const float time = clip ? model->animator.time / perSecond : 0.0f;
    const float length = clip ? clip->length / perSecond : 0.0f;
    const int position = length > 0.0f ? static_cast<int>(std::lround(time / length * kTimeSliderSteps)) : 0;
    setToolValue(app.mainWindow, kControlTime, std::clamp(position, 0, kTimeSliderSteps));
    const std::string timeText = seconds(time) + " / " + seconds(length);
    setToolText(app.mainWindow, kControlTimeText, timeText);

    std::string status = model ? app.modelName(*model, app.selectedModel) : std::string("No model");
    if (model) {
        status += "   clip: " + (clip ? clip->name : std::string("none")) + "   " + timeText + " s";
    }
    status += "   speed: " + seconds(app.playback.speed) + "x";
    status += app.playback.playing ? "" : " (paused)";
    char rate[32];
    std::snprintf(rate, sizeof rate, "   %.0f fps", static_cast<double>(frameRate));
    status += rate;
    setStatusText(app.mainWindow, status);
}

}  // namespace

Model* transportModel(Application& app)
{
    if (app.models.empty()) {
        return nullptr;
    }
    app.selectedModel = std::min(app.selectedModel, app.models.size() - 1);
    return &app.models[app.selectedModel];
}

void refreshTransport(Application& app, float dt)
{
    TransportShown& shown = app.transportShown;
    if (shown.modelCount != app.models.size()) {
        // A model added (or the list emptied): the newest is the one chosen.
        app.selectedModel = app.models.empty() ? 0 : app.models.size() - 1;
        shown.modelCount = app.models.size();
        showModels(app);
    }
    const Model* model = transportModel(app);
    const std::size_t clipCount = model ? model->animator.animations.size() : 0;
    const std::int32_t clip = model ? model->animator.current : -1;
    const bool listsChanged = model != shown.model || clipCount != shown.clipCount || clip != shown.clip;
    if (listsChanged) {
        shown.model = model;
        shown.clipCount = clipCount;
        shown.clip = clip;
        showClips(app, model);
    }
    if (shown.playing != app.playback.playing) {
        shown.playing = app.playback.playing;
        setToolText(app.mainWindow, kCommandPlayPause, shown.playing ? "Pause" : "Play");
    }
    shown.sinceRefresh += dt;
    shown.frames += 1;
    if (shown.sinceRefresh >= kRefreshSeconds || listsChanged) {
        const float rate = shown.sinceRefresh > 0.0f ? static_cast<float>(shown.frames) / shown.sinceRefresh : 0.0f;
        showTime(app, model, rate);
        shown.sinceRefresh = 0.0f;
        shown.frames = 0;
    }
}

bool handleTransportControl(Application& app, int id, int value)
{
    Model* model = transportModel(app);
    switch (id) {
    case kControlSpeed:
        app.playback.setSpeed(static_cast<float>(value) / 100.0f);
        return true;
    case kControlModel:
        if (value >= 0 && static_cast<std::size_t>(value) < app.models.size()) {
            app.selectedModel = static_cast<std::size_t>(value);
        }
        return true;
    case kControlClip:
        // Any clip plays from its start, the generated IK clip included.
        if (model && value >= 0 && static_cast<std::size_t>(value) < model->animator.animations.size()) {
            model->animator.current = static_cast<std::int32_t>(value);
            model->animator.time = 0.0f;
            app.playback.playing = true;
        }
        return true;
    case kControlTime:
        if (model) {
            if (const Animation* clip = currentClip(*model)) {
                model->animator.time = clip->length * static_cast<float>(value) / kTimeSliderSteps;
            }
        }
        return true;
    default:
        return false;
    }
}

void commandPlayPause(Application& app)
{
    app.playback.playing = !app.playback.playing;
    app.playback.pendingStep = 0.0f;
}

void commandStepForward(Application& app)
{
    app.playback.stepForward();
}

// Every animated model goes back one frame of its own rate; a looping clip
// wraps to its end, any other stops at its start. Paths are not walked back.
void commandStepBack(Application& app)
{
    app.playback.playing = false;
    app.playback.pendingStep = 0.0f;
    for (Model& model : app.models) {
        const Animation* clip = currentClip(model);
        if (!clip) {
            continue;
        }
        float time = model.animator.time - model.animator.rate * clip->ticksPerSecond * Playback::kFrameStep;
        if (clip->loop && clip->length > 0.0f) {
            time = std::fmod(time, clip->length);
            time = time < 0.0f ? time + clip->length : time;
        } else {
            time = std::max(time, 0.0f);
        }
        model.animator.time = time;
    }
}

}  // namespace fyrel
