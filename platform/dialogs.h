#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/input.h"

// Modal dialogs: message boxes, the file-open dialog and dialog boxes built
// from a template. Each runs its own event loop until the user answers; no
// frame is drawn meanwhile.
//
// Tests (and anything else that must not wait for a person) install a
// responder: every request then goes to it instead of the screen, and its
// answer is taken as the user's.

namespace fyrel {

enum class MessageBoxIcon { Information, Warning, Error };

struct FileFilter {
    std::string name;     // "MS3D File"
    std::string pattern;  // "*.ms3d"
};

enum class DialogKind { MessageBox, OpenFile, SaveFile, DialogBox, Question, Progress };

struct DialogRequest {
    DialogKind kind = DialogKind::MessageBox;
    WindowHandle owner = kNoWindow;
    std::string text;     // message box text
    std::string caption;  // message box or dialog caption
    MessageBoxIcon icon = MessageBoxIcon::Information;
    std::vector<FileFilter> filters;  // file dialogs
    std::string directory;            // file dialogs: the folder it starts in (empty: the default)
    float fraction = -1.0f;           // progress: how far (0 to 1), negative when not known
};

struct DialogAnswer {
    std::optional<std::string> path;  // file dialogs: the chosen file, or none (cancel)
    int command = kIdOk;              // dialog box: the button pressed; question: the button's index
};

using DialogResponder = std::function<DialogAnswer(const DialogRequest& request)>;

// Installs a responder and returns the previous one; an empty responder
// shows the real dialogs again.
DialogResponder setDialogResponder(DialogResponder responder);

void messageBox(WindowHandle owner, const std::string& text, const std::string& caption, MessageBoxIcon icon);

// A question with a button per answer ("&Save", "&Discard", "&Cancel"), the
// last one also taken by Escape and the close box. Returns the index of the
// button pressed. A responder's answer is its command (out of range: the last).
std::size_t askQuestion(WindowHandle owner, const std::string& text, const std::string& caption,
                        const std::vector<std::string>& buttons);

// The path of an existing file the user chose, or none when cancelled. The
// dialog starts in directory unless that is empty. A filter's pattern may
// list several patterns separated by spaces.
std::optional<std::string> openFileDialog(WindowHandle owner, const std::vector<FileFilter>& filters,
                                          const std::string& directory = {});

// The path the user chose to write to, or none when cancelled; a name typed
// without an ending gets defaultEnding (".glb"). Overwriting an existing file
// is confirmed by the dialog itself.
std::optional<std::string> saveFileDialog(WindowHandle owner, const std::vector<FileFilter>& filters,
                                          const std::string& defaultEnding, const std::string& directory = {});

// The panel of a long task (an import): window-modal over owner, with text,
// a bar (fraction from 0 to 1; negative shows it busy) and a Cancel button.
// Each call shows or updates it and handles the pending events (the
// panel's, the windows' repaints); it returns false once the user has
// cancelled. endProgress closes it. With a responder installed, each call is
// a Progress request, and an answer of kIdCancel cancels.
bool showProgress(WindowHandle owner, const std::string& text, float fraction);
void endProgress();

// Dialog templates. Positions and sizes are in dialog units: a quarter of the
// average character width across, an eighth of the character height down.
enum class DialogControlKind { Icon, Text, PushButton, DefaultPushButton };

struct DialogControl {
    DialogControlKind kind = DialogControlKind::Text;
    int id = 0;        // command of a button; icon number of an icon
    std::string text;  // with '&' before a button's mnemonic
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct DialogTemplate {
    std::string caption;
    std::string fontName;
    int fontPoints = 8;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<DialogControl> controls;
};

// Runs a modal dialog made from the template, owned by owner. Every button
// pressed, and kIdCancel when the user closes the dialog or presses Escape,
// is handed to endsDialog; the first for which it answers true ends the
// dialog, and dialogBox returns that button's command.
int dialogBox(WindowHandle owner, const DialogTemplate& dialogTemplate,
              const std::function<bool(int command)>& endsDialog);

}  // namespace fyrel
