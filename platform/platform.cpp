#include "platform/platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <unistd.h>

#include "platform/icons.h"
#include "platform/qt_access.h"
#include "platform/window_registry.h"
#include "diagnostics/debug_output.h"

namespace fyrel {

namespace {

struct QuitState {
    bool posted = false;
    int code = 0;
};

QuitState& quitState()
{
    static QuitState q;
    return q;
}

// One write per message, so that messages of the debug output never
// interleave with other output mid-line.
void writeToStandardError(const std::string& message)
{
    const char* p = message.data();
    std::size_t left = message.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void setDefaultSurfaceFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);
}

std::uint64_t& inputEvents()
{
    static std::uint64_t count = 0;
    return count;
}

// Counts what a person does to the program and what changes a view's size or
// visibility. Timers, paints and queued calls are not counted: they arrive
// while nobody does anything and would wake an idle program to draw.
class InputCounter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::Drop:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Expose:
        case QEvent::WindowStateChange:
        case QEvent::Close:
            ++inputEvents();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

struct Platform::Impl {
    std::unique_ptr<QApplication> application;
    InputCounter inputCounter;
    DebugSink previousSink;
};

Platform::Platform(int& argc, char** argv) : impl_(std::make_unique<Impl>())
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    setDefaultSurfaceFormat();
    impl_->application = std::make_unique<QApplication>(argc, argv);
    impl_->application->installEventFilter(&impl_->inputCounter);
    QApplication::setOrganizationName(QStringLiteral("fyrel"));
    QApplication::setApplicationName(QStringLiteral("fyrel"));
    QApplication::setDesktopFileName(QStringLiteral("fyrel"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(platform_detail::iconFor(kLargeIcon));
    impl_->previousSink = setDebugSink(writeToStandardError);
}

Platform::~Platform()
{
    setDebugSink(std::move(impl_->previousSink));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::string Platform::executableDir()
{
    if (!QCoreApplication::instance()) {
        return {};
    }
    return QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
}

bool drainEvents(int& exitCode)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Windows destroyed during the drain are freed now; outside a running
    // event loop nothing else would free them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QuitState& q = quitState();
    if (!q.posted) {
        return false;
    }
    q.posted = false;
    exitCode = q.code;
    return true;
}

bool waitForEvents(int& exitCode, int timeoutMs)
{
    // The timer's own event ends the wait when nothing else does.
    QTimer timeout;
    timeout.setSingleShot(true);
    if (timeoutMs >= 0) {
        timeout.start(timeoutMs);
    }
    if (!quitState().posted) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return drainEvents(exitCode);
}

std::uint64_t inputEventCount()
{
    return inputEvents();
}

double displayRefreshRate(WindowHandle window)
{
    const QWidget* widget = windowWidget(window);
    const QScreen* screen = widget ? widget->screen() : nullptr;
    const double rate = screen ? screen->refreshRate() : 0.0;
    return rate >= 1.0 ? rate : 60.0;
}

void requestQuit(int exitCode)
{
    quitState().posted = true;
    quitState().code = exitCode;
}

}  // namespace fyrel
