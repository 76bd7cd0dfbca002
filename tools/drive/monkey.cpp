// fyrel-monkey: seeded random hands on the real program, meant for the
// AddressSanitizer + UndefinedBehaviorSanitizer build. Each step is one
// action: a menu item chosen by its command, a key pressed in a window, a
// click or a drag in a view, a view or the main window resized (down to
// nothing and back) or minimised, a window closed, a dialog's tree item or
// button clicked, a tool bar control moved, frames run, the program quit
// and started again. File dialogs are answered with good model files,
// broken and hostile ones (tests/data), missing ones, or cancelled; now and
// then the real dialogs are shown instead and closed (accepted or
// cancelled) from a timer, as a user would.
//
// A crash, a sanitizer report, or the watchdog seeing no progress prints
// the seed, the step and the last actions; `--seed S --steps N` replays the
// run up to that step (frames use fixed time steps, so a run repeats).
// Leaks are reported by LeakSanitizer when the program ends.
//
//   fyrel-monkey [--seed S] [--minutes M | --seconds T | --steps N] [--hang-seconds H] [--trace]

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>

#include "app/commands.h"
#include "diagnostics/debug_output.h"
#include "platform/dialogs.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "tools/drive/drive.h"
#include "ui/resources.h"

using namespace fyrel;
using namespace fyrel::drive;

namespace {

using Clock = std::chrono::steady_clock;

// Model files larger than this make a sanitized import take seconds.
constexpr std::uintmax_t kLargestFile = 1u << 20;

const int kKeys[] = {Qt::Key_W,        Qt::Key_A,      Qt::Key_S,     Qt::Key_D,        Qt::Key_Space,
                     Qt::Key_C,        Qt::Key_Plus,   Qt::Key_Minus, Qt::Key_Left,     Qt::Key_Right,
                     Qt::Key_Up,       Qt::Key_Down,   Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_P,
                     Qt::Key_Comma,    Qt::Key_Period, Qt::Key_F,     Qt::Key_F1,       Qt::Key_Return,
                     Qt::Key_Escape,   Qt::Key_Tab,    Qt::Key_Home,  Qt::Key_End,      Qt::Key_Delete,
                     Qt::Key_O,        Qt::Key_E,      Qt::Key_F6,    Qt::Key_Slash,    Qt::Key_Question};

struct Monkey {
    Options options;
    Session& session;
    std::mt19937_64 random;
    Watchdog watchdog;
    std::vector<std::string> goodFiles;
    std::vector<std::string> brokenFiles;
    std::filesystem::path scratch;
    long step = 0;
    bool realDialogs = false;   // this step shows the real modal dialogs
    QTimer dialogCloser;
    QPointer<QWidget> answering;  // the modal dialog or popup whose answer is queued

    Monkey(const Options& o, Session& s) : options(o), session(s), random(o.seed), watchdog(o.hangSeconds)
    {
        scratch = std::filesystem::temp_directory_path() / ("fyrel-monkey-" + std::to_string(::getpid()));
        std::filesystem::create_directories(scratch);
        dialogCloser.setInterval(30);
        QObject::connect(&dialogCloser, &QTimer::timeout, [this] { closeModal(); });
        dialogCloser.start();
    }

    ~Monkey()
    {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }

    Application& app() { return *session.app; }

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return uniform(0, 99) < percent; }
    template <typename T>
    T pick(const std::vector<T>& from)
    {
        return from[static_cast<std::size_t>(uniform(0, static_cast<int>(from.size()) - 1))];
    }

    void note(const std::string& what) { ActionLog::instance().record(step, what); }

    // A path for a file dialog: a model that loads, a broken or hostile
    // file, a file that is not there, a folder, or a file of no model format.
    std::string anyPath()
    {
        const int kind = uniform(0, 99);
        if (kind < 45) {
            return pick(goodFiles);
        }
        if (kind < 85) {
            return pick(brokenFiles);
        }
        if (kind < 90) {
            return (scratch / "missing.ms3d").string();
        }
        if (kind < 95) {
            return sourceDir() + "/tests/data";
        }
        return sourceDir() + "/tests/data/ms3d/MANIFEST";
    }

    std::string savePath()
    {
        const int kind = uniform(0, 9);
        if (kind < 6) {
            return (scratch / ("export-" + std::to_string(step) + ".glb")).string();
        }
        if (kind < 8) {
            return (scratch / "no-such-folder" / "export.glb").string();
        }
        return scratch.string();  // a folder: cannot be written as a file
    }

    DialogAnswer answer(const DialogRequest& request)
    {
        DialogAnswer a;
        switch (request.kind) {
        case DialogKind::OpenFile:
            if (chance(85)) {
                a.path = anyPath();
            }
            note("  open dialog answers " + (a.path ? *a.path : std::string("cancel")));
            break;
        case DialogKind::SaveFile:
            if (chance(80)) {
                a.path = savePath();
            }
            note("  save dialog answers " + (a.path ? *a.path : std::string("cancel")));
            break;
        case DialogKind::MessageBox:
            note("  message box \"" + request.caption + "\" closed");
            break;
        case DialogKind::Question:
            a.command = uniform(0, 2);  // Save, Discard or Cancel (Restore or Discard)
            note("  question \"" + request.caption + "\" answered " + std::to_string(a.command));
            break;
        case DialogKind::Progress:
            a.command = chance(10) ? kIdCancel : kIdOk;
            break;
        case DialogKind::DialogBox:
            a.command = chance(50) ? kIdOk : kIdCancel;
            note("  dialog \"" + request.caption + "\" answered " + std::to_string(a.command));
            break;
        }
        return a;
    }

    // With the real dialogs shown: the modal one in front is accepted with a
    // file, cancelled, or closed. The answer is queued, not given here: a
    // dialog may open another (a file dialog says "file not found" in a box
    // of its own), and this timer must be free to fire inside that one's
    // event loop too.
    void closeModal()
    {
        // A popup (a tool bar's overflow menu, a chooser's list) runs its
        // own loop until it is dismissed, as a click elsewhere would.
        if (QWidget* popup = QApplication::activePopupWidget(); popup && popup != answering) {
            answering = popup;
            QMetaObject::invokeMethod(popup, [this, guard = QPointer<QWidget>(popup)] {
                answering = nullptr;
                if (guard) {
                    note("  popup " + std::string(guard->metaObject()->className()) + " dismissed");
                    guard->close();
                }
            }, Qt::QueuedConnection);
            return;
        }
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog == answering) {
            return;
        }
        answering = dialog;
        QMetaObject::invokeMethod(dialog, [this, guard = QPointer<QWidget>(dialog)] {
            answering = nullptr;
            if (guard && guard->isVisible()) {
                answerModal(qobject_cast<QDialog*>(guard.data()));
            }
        }, Qt::QueuedConnection);
    }

    void answerModal(QDialog* dialog)
    {
        if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            if (chance(70)) {
                const std::string path = files->acceptMode() == QFileDialog::AcceptOpen ? anyPath() : savePath();
                note("  real file dialog: " + path);
                files->selectFile(QString::fromStdString(path));
                static_cast<QDialog*>(files)->accept();  // QFileDialog keeps its accept() protected
            } else {
                note("  real file dialog: cancel");
                files->reject();
            }
            return;
        }
        const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
        if (!buttons.isEmpty() && chance(70)) {
            QPushButton* button = buttons[uniform(0, static_cast<int>(buttons.size()) - 1)];
            note("  real dialog \"" + dialog->windowTitle().toStdString() + "\": " + button->text().toStdString());
            button->click();
        } else {
            note("  real dialog \"" + dialog->windowTitle().toStdString() + "\": closed");
            dialog->reject();
        }
    }

    QPoint anywhere(QWidget* w)
    {
        // Mostly inside, sometimes just outside the widget's edges.
        return {uniform(-8, std::max(w->width(), 1) + 8), uniform(-8, std::max(w->height(), 1) + 8)};
    }

    Qt::KeyboardModifiers modifiers()
    {
        Qt::KeyboardModifiers m = Qt::NoModifier;
        if (chance(15)) m |= Qt::ControlModifier;
        if (chance(10)) m |= Qt::ShiftModifier;
        if (chance(5)) m |= Qt::AltModifier;
        return m;
    }

    Qt::MouseButton button()
    {
        const int b = uniform(0, 9);
        return b < 6 ? Qt::LeftButton : b < 9 ? Qt::RightButton : Qt::MiddleButton;
    }

    std::vector<int> menuCommands()
    {
        std::vector<int> commands;
        auto* window = qobject_cast<QMainWindow*>(windowWidget(app().mainWindow));
        if (!window) {
            return commands;
        }
        std::vector<QMenu*> menus;
        for (QAction* top : window->menuBar()->actions()) {
            if (top->menu()) {
                menus.push_back(top->menu());
            }
        }
        for (std::size_t i = 0; i < menus.size(); ++i) {
            for (QAction* item : menus[i]->actions()) {
                if (item->menu()) {
                    menus.push_back(item->menu());
                } else if (!item->isSeparator() && item->data().toInt() != kCommandExit) {
                    commands.push_back(item->data().toInt());
                }
            }
        }
        return commands;
    }

    // Every window a hand can reach: the main window, the views, the dialogs.
    std::vector<QWidget*> windows()
    {
        std::vector<QWidget*> all{windowWidget(app().mainWindow)};
        for (QWidget* w : viewSurfaces(app())) all.push_back(w);
        for (QWidget* w : modelessDialogs(app())) all.push_back(w);
        return all;
    }

    void frames()
    {
        const float dts[] = {0.0f, 1.0f / 60.0f, 1.0f / 30.0f, 0.1f};
        const int count = uniform(1, 4);
        const float dt = dts[uniform(0, 3)];
        note("run " + std::to_string(count) + " frames of " + std::to_string(dt) + " s");
        for (int i = 0; i < count; ++i) {
            if (frame(app(), dt)) {
                return;
            }
        }
    }

    void menuItem()
    {
        const std::vector<int> commands = menuCommands();
        if (commands.empty()) {
            return;
        }
        const int command = pick(commands);
        QAction* action = menuAction(app(), command);
        note("menu " + std::to_string(command) + " \"" + (action ? action->text().toStdString() : "") + "\"" +
             (realDialogs ? " (real dialogs)" : ""));
        choose(app(), command);
    }

    void keyPress()
    {
        const std::vector<QWidget*> targets = windows();
        QWidget* target = pick(targets);
        if (!target) {
            return;
        }
        const int k = kKeys[uniform(0, static_cast<int>(std::size(kKeys)) - 1)];
        const Qt::KeyboardModifiers m = modifiers();
        note("key " + QKeySequence(QKeyCombination(m, static_cast<Qt::Key>(k))).toString().toStdString() + " in " + target->metaObject()->className() +
             (realDialogs ? " (real dialogs)" : ""));
        QTest::keyClick(target, static_cast<Qt::Key>(k), m);
        drain();
    }

    void mouse(bool dragging)
    {
        const std::vector<QWidget*> surfaces = viewSurfaces(app());
        if (surfaces.empty()) {
            return;
        }
        const std::size_t index = static_cast<std::size_t>(uniform(0, static_cast<int>(surfaces.size()) - 1));
        QWidget* target = surfaces[index];
        const Qt::MouseButton b = button();
        const Qt::KeyboardModifiers m = modifiers();
        const QPoint from = anywhere(target);
        if (dragging) {
            const QPoint to = anywhere(target);
            const int moves = uniform(1, 8);
            note("drag in view " + std::to_string(index) + " button " + std::to_string(b) + " from " +
                 std::to_string(from.x()) + "," + std::to_string(from.y()) + " to " + std::to_string(to.x()) + "," +
                 std::to_string(to.y()) + " in " + std::to_string(moves));
            drag(target, from, to, b, moves, m);
        } else {
            note("click in view " + std::to_string(index) + " button " + std::to_string(b) + " mods " +
                 std::to_string(m.toInt()) + " at " + std::to_string(from.x()) + "," + std::to_string(from.y()));
            click(target, from, b, m);
        }
        drain();
    }

    void resize()
    {
        const bool main = app().childWindows.empty() || chance(25);
        QWidget* target = main ? windowWidget(app().mainWindow)
                               : windowWidget(pick(childWindowsOf(app().mainWindow)));
        if (!target) {
            return;
        }
        const QSize before = target->size();
        const int how = uniform(0, 5);
        QSize size = how == 0 ? QSize(0, 0) : how == 1 ? QSize(1, 1) : how == 2 ? QSize(uniform(0, 40), uniform(0, 40))
                                                                                 : QSize(uniform(0, 1400), uniform(0, 1000));
        if (main && how == 5) {
            note("main window minimised and restored");
            target->showMinimized();
            frame(app(), 1.0f / 30.0f);
            target->showNormal();
            drain();
            return;
        }
        note(std::string(main ? "main window" : target->metaObject()->className()) + " resized to " +
             std::to_string(size.width()) + "x" + std::to_string(size.height()));
        target->resize(size);
        drain();
        frame(app(), 1.0f / 30.0f);
        if (chance(60)) {
            note("  and back to " + std::to_string(before.width()) + "x" + std::to_string(before.height()));
            target->resize(before);
            drain();
        }
    }

    void closeWindow()
    {
        const std::vector<WindowHandle> children = childWindowsOf(app().mainWindow);
        if (children.empty()) {
            return;
        }
        const WindowHandle w = pick(children);
        note("close box of \"" + windowText(w) + "\"");
        if (QWidget* widget = windowWidget(w)) {
            widget->close();
        }
        drain();
    }

    void dialogControl()
    {
        const std::vector<QWidget*> dialogs = modelessDialogs(app());
        if (dialogs.empty()) {
            return;
        }
        QPointer<QWidget> dialog = pick(dialogs);
        if (QTreeWidget* tree = dialog->findChild<QTreeWidget*>(); tree && chance(60)) {
            tree->expandAll();
            std::vector<QTreeWidgetItem*> items;
            for (QTreeWidgetItemIterator it(tree); *it; ++it) {
                items.push_back(*it);
            }
            if (!items.empty()) {
                QTreeWidgetItem* item = pick(items);
                note("dialog \"" + dialog->windowTitle().toStdString() + "\": item \"" +
                     item->text(0).toStdString() + "\"");
                tree->scrollToItem(item);
                drain();
                if (dialog) {
                    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier,
                                      tree->visualItemRect(item).center());
                    drain();
                }
                return;
            }
        }
        const QList<QAbstractButton*> buttons = dialog->findChildren<QAbstractButton*>();
        if (buttons.isEmpty()) {
            return;
        }
        QAbstractButton* b = buttons[uniform(0, static_cast<int>(buttons.size()) - 1)];
        note("dialog \"" + dialog->windowTitle().toStdString() + "\": button \"" + b->text().toStdString() + "\"");
        b->click();
        drain();
    }

    void toolBar()
    {
        QWidget* main = windowWidget(app().mainWindow);
        std::vector<QWidget*> controls;
        for (QComboBox* w : main->findChildren<QComboBox*>()) controls.push_back(w);
        for (QAbstractSpinBox* w : main->findChildren<QAbstractSpinBox*>()) controls.push_back(w);
        for (QAbstractSlider* w : main->findChildren<QAbstractSlider*>()) controls.push_back(w);
        for (QAbstractButton* w : main->findChildren<QAbstractButton*>()) controls.push_back(w);
        if (controls.empty()) {
            return;
        }
        QWidget* control = pick(controls);
        if (auto* slider = qobject_cast<QAbstractSlider*>(control); slider && chance(50)) {
            const int value = uniform(slider->minimum(), slider->maximum());
            note("tool bar slider set to " + std::to_string(value));
            slider->setValue(value);
        } else if (auto* b = qobject_cast<QAbstractButton*>(control)) {
            note("tool bar button \"" + b->text().toStdString() + "\"");
            b->click();
        } else {
            const int keys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
            const int k = keys[uniform(0, 5)];
            note(std::string("tool bar ") + control->metaObject()->className() + " key " +
                 QKeySequence(k).toString().toStdString());
            QTest::keyClick(control, static_cast<Qt::Key>(k));
        }
        drain();
    }

    void restart()
    {
        note("quit and start again");
        session.restart();
    }

    void takeStep()
    {
        ++step;
        watchdog.beat();
        // One step in five shows the real modal dialogs, closed from a timer.
        realDialogs = chance(20);
        if (realDialogs) {
            setDialogResponder({});
        } else {
            setDialogResponder([this](const DialogRequest& request) { return answer(request); });
        }
        const int roll = uniform(0, 99);
        if (roll < 16) {
            menuItem();
        } else if (roll < 32) {
            keyPress();
        } else if (roll < 42) {
            mouse(true);
        } else if (roll < 52) {
            mouse(false);
        } else if (roll < 60) {
            resize();
        } else if (roll < 64) {
            closeWindow();
        } else if (roll < 72) {
            dialogControl();
        } else if (roll < 79) {
            toolBar();
        } else if (roll < 99) {
            frames();
        } else {
            restart();
        }
        // The program may have been quit (Ctrl+Q, a menu's Exit): start it again.
        if (!isWindow(app().mainWindow)) {
            note("the program quit: start it again");
            session.restart();
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const Options options =
        parseOptions(argc, argv, "[--seed S] [--minutes M | --seconds T | --steps N] [--hang-seconds H] [--trace]");
    if (!options.rest.empty()) {
        std::fprintf(stderr, "fyrel-monkey: unknown option %s\n", options.rest.front().c_str());
        return 2;
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "fyrel-monkey needs a display: run it under xvfb-run\n");
        return 2;
    }
    ActionLog::instance().start("fyrel-monkey", options.seed, options.trace);
    installCrashReport();
    std::vector<std::string> good;
    std::vector<std::string> broken = brokenModelFiles();
    for (const std::string& file : allCandidateModelFiles()) {
        std::error_code error;
        if (std::filesystem::file_size(file, error) <= kLargestFile && !error) {
            good.push_back(file);
        }
    }
    if (good.empty() || broken.empty()) {
        std::fprintf(stderr, "fyrel-monkey: no model files found (is assimp-testmodels installed?)\n");
        return 2;
    }
    const Clock::time_point start = Clock::now();
    long steps = 0;
    {
        Session session(argc, argv, "fyrel-monkey");
        // Import summaries and GL checks, thousands of them, kept out of the
        // log (after the session: the platform sends them to standard error).
        setDebugSink([](const std::string&) {});
        Monkey monkey(options, session);
        monkey.goodFiles = good;
        monkey.brokenFiles = broken;
        while (options.steps < 0 ? std::chrono::duration<double>(Clock::now() - start).count() < options.seconds
                                 : monkey.step < options.steps) {
            monkey.takeStep();
        }
        steps = monkey.step;
        setDialogResponder({});
        setDebugSink({});
    }
    std::printf("fyrel-monkey: seed %llu, %ld steps in %.0f s, no crash, hang or sanitizer report\n",
                static_cast<unsigned long long>(options.seed), steps,
                std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}
