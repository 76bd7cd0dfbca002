// The IK menu: choosing an end effector, generating the reach (walking the
// model to the target first when it stands far away) and playing it again.

#include "app/application.h"
#include "app/commands.h"
#include "ik/ik_error.h"
#include "platform/dialogs.h"
#include "ui/end_effector_dialog.h"
#include "workbench/edits.h"

namespace fyrel {

namespace {

// Within this distance of the target, measured in the ground plane, the model
// reaches from where it stands; farther away it first walks to a point this
// far short of the target.
constexpr float kReachDistance = 5.0f;

// A failing generation (the end effector is not in the skeleton) is shown;
// the model keeps what the failed generation left.
void generateAndPlay(Application& app, IkController& controller)
{
    try {
        controller.generateAnimation();
    } catch (const IkError& error) {
        messageBox(app.mainWindow, error.what(), kIkFailureCaption, MessageBoxIcon::Error);
        return;
    }
    controller.playAnimation();
}

// Replaces every path and binding by a straight two-point walk from the
// model's ground position to the point kReachDistance short of the target,
// bound to the model with the controller, which reaches on arrival.
void walkToTarget(Application& app, Model& model, IkController& controller, const Vector3& from, const Vector3& to)
{
    app.bindings.clear();
    app.paths.clear();

    Vector3 offset, direction;
    difference(to, from, offset);
    normalize(offset, direction);
    const float walk = length(offset) - kReachDistance;
    const Vector3 end{model.position.x + walk * direction.x, model.position.y + walk * direction.y,
                      model.position.z + walk * direction.z};
    Path path;
    path.addControlPoint(from);
    path.addControlPoint(end);
    path.buildCurve();
    path.buildArcLengthTable();

    model.animator.time = 0.0f;
    model.animator.current = 0;
    app.paths.push_back(path);

    PathBinding binding;
    binding.controller = &controller;
    binding.path = &app.paths.back();
    binding.model = &model;
    binding.parameter = 0.0f;
    binding.speed = 1.0f;
    binding.searchHint = 0;
    app.bindings.push_back(binding);
}

// Why nothing was generated for a controller whose target is still where
// the End Effector Selector put it, and how to place it.
std::string noTargetMessage(const IkController& controller)
{
    return "No IK animation was made: the target of the controller for \"" + controller.endEffectorName +
           "\" has not been placed yet.\nPlace it first: Ctrl+click in the Path Window, or move it with the "
           "arrow keys and Page Up / Page Down in a view.";
}

}  // namespace

void commandAddIkController(Application& app)
{
    if (app.models.empty()) {
        return;
    }
    EndEffectorSelector::open(app);
}

// The model that walks and reaches is the controller's own: the one that was
// last when the controller was made. (A model imported since then is the
// last model, but walking it would leave the controller's model standing
// while the binding asked it, frame after frame, to reach again.)
void commandGenerateIkAnimation(Application& app)
{
    if (app.models.empty() || app.ikControllers.empty()) {
        return;
    }
    IkController& controller = app.ikControllers.back();
    if (!controller.model) {
        return;
    }
    if (!controller.targetPlaced) {
        messageBox(app.mainWindow, noTargetMessage(controller), kIkFailureCaption, MessageBoxIcon::Warning);
        return;
    }
    Model& model = *controller.model;
    const Vector3 from{model.position.x, model.position.y, 0.0f};
    const Vector3 to{controller.target.x, controller.target.y, 0.0f};
    Vector3 offset;
    DocumentState before = beginGeneration(app.document);
    if (length(difference(from, to, offset)) < kReachDistance) {
        generateAndPlay(app, controller);
    } else {
        walkToTarget(app, model, controller, from, to);
    }
    endGeneration(app.document, std::move(before));
}

void commandPlayIkAnimation(Application& app)
{
    if (app.models.empty() || app.ikControllers.empty()) {
        return;
    }
    app.ikControllers.back().playAnimation();
}

}  // namespace fyrel
