// Opening files as a desktop user does: File > Open, drag-and-drop, Recent
// Files, and what the program remembers between runs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "app/commands.h"
#include "gui_test_support.h"
#include "platform/qt_access.h"
#include "platform/window.h"
#include "ui/resources.h"
#include "support/source_tree.h"

namespace fyrel::test {
namespace {

std::string demoPath()
{
    return sourcePath("resources/demo/walker.ms3d");
}

class FilesTest : public AppTest {
protected:
    QList<QAction*> recentItems()
    {
        QAction* holder = menuAction(kCommandRecentFiles);
        return holder && holder->menu() ? holder->menu()->actions() : QList<QAction*>{};
    }
};

// One dialog offers every format; the file's ending picks the importer (no
// format notice); the folder, the files, the window's place and the display
// sync are remembered, also by the next run, and a recent file that is gone leaves the list with an error box.
TEST_F(FilesTest, OpenRecentFilesAndSettingsSurviveARestart)
{
    ScratchDir scratch;
    const std::string copy = scratch.write("copy.ms3d", readBytes(demoPath()));
    answerFile(demoPath());
    choose(kCommandOpen);
    ASSERT_EQ(script->requests.size(), 1u);
    const DialogRequest& dialog = script->requests[0];
    EXPECT_EQ(dialog.kind, DialogKind::OpenFile);
    ASSERT_GE(dialog.filters.size(), 2u);
    EXPECT_EQ(dialog.filters[0].pattern, "*.ms3d *.3ds *.x *.gltf *.glb");
    EXPECT_EQ(dialog.filters[dialog.filters.size() - 2].pattern, "*.gltf *.glb");
    EXPECT_EQ(dialog.filters.back().pattern, "*.*");
    EXPECT_EQ(app->models.size(), 1u);

    const std::string room = assimpModel("3DS/test1.3ds");
    if (!room.empty()) {
        answerFile(room);
        choose(kCommandOpen);
        ASSERT_EQ(script->requests.size(), 2u);  // no "Animation not supported" notice
        EXPECT_EQ(script->requests[1].directory, std::filesystem::path(demoPath()).parent_path().string());
        EXPECT_EQ(app->models.size(), 2u);
    }
    answerFile(copy);
    choose(kCommandOpen);
    EXPECT_EQ(app->recentFiles.front(), copy);
    ASSERT_EQ(recentItems().size(), static_cast<qsizetype>(app->recentFiles.size()));
    EXPECT_EQ(recentItems()[0]->text().toStdString(), "&1 " + copy);

    // The last entry is the demo: choosing it imports it again and moves it first.
    const std::size_t models = app->models.size();
    recentItems().back()->trigger();
    drain();
    EXPECT_EQ(app->models.size(), models + 1);
    EXPECT_EQ(app->recentFiles.front(), demoPath());

    EXPECT_FALSE(app->syncToDisplay);
    choose(kCommandSyncToDisplay);
    EXPECT_TRUE(app->syncToDisplay);
    QWidget* frame = mainWidget();
    frame->setGeometry(QRect(60, 50, 900, 700));
    drain();
    const QRect placed = frame->geometry();
    const std::vector<std::string> remembered = app->recentFiles;
    pressKey(Qt::Key_Q, Qt::ControlModifier);  // quits, saving the geometry
    EXPECT_FALSE(isWindow(app->mainWindow));

    app.reset();
    drain();
    app = std::make_unique<Application>();
    drain();
    EXPECT_EQ(app->recentFiles, remembered);
    EXPECT_EQ(mainWidget()->geometry(), placed);
    EXPECT_TRUE(app->syncToDisplay);
    EXPECT_TRUE(menuAction(kCommandSyncToDisplay)->isChecked());

    std::filesystem::remove(copy);
    const std::size_t errors = script->requests.size();
    recentItems()[1]->trigger();  // the copy, now gone
    drain();
    ASSERT_EQ(script->requests.size(), errors + 1);
    EXPECT_EQ(script->requests.back().icon, MessageBoxIcon::Error);
    EXPECT_EQ(std::count(app->recentFiles.begin(), app->recentFiles.end(), copy), 0);
    EXPECT_TRUE(app->models.empty());
}

// Files dropped onto the main window are imported in order; one that no
// format reads is refused in an error box and the others still load.
TEST_F(FilesTest, DroppedFilesAreOpened)
{
    ScratchDir scratch;
    const std::string notes = scratch.write("notes.txt", "not a model");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(notes)),
                  QUrl::fromLocalFile(QString::fromStdString(demoPath()))});
    QWidget* frame = mainWidget();
    const QPointF middle(frame->width() / 2.0, frame->height() / 2.0);
    QDragEnterEvent enter(middle.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &drop);
    drain();

    ASSERT_EQ(script->requests.size(), 1u);
    EXPECT_EQ(script->requests[0].icon, MessageBoxIcon::Error);
    EXPECT_NE(script->requests[0].text.find("notes.txt"), std::string::npos);
    ASSERT_EQ(app->models.size(), 1u);
    EXPECT_EQ(app->modelName(app->models[0], 0), "walker.ms3d");
}

}  // namespace
}  // namespace fyrel::test
