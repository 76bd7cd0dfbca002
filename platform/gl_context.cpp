#include "platform/gl_context.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

namespace fyrel {

struct GlContext::Impl {
    QOffscreenSurface surface;
    QOpenGLContext context;
};

GlContext::GlContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

GlContext::~GlContext()
{
    if (impl_ && QOpenGLContext::currentContext() == &impl_->context) {
        impl_->context.doneCurrent();
    }
}

std::unique_ptr<GlContext> GlContext::create()
{
    auto impl = std::make_unique<Impl>();
    impl->surface.setFormat(QSurfaceFormat::defaultFormat());
    impl->surface.create();
    impl->context.setFormat(QSurfaceFormat::defaultFormat());
    impl->context.setShareContext(QOpenGLContext::globalShareContext());
    if (!impl->surface.isValid() || !impl->context.create()) {
        return nullptr;
    }
    return std::unique_ptr<GlContext>(new GlContext(std::move(impl)));
}

bool GlContext::makeCurrent()
{
    return impl_->context.makeCurrent(&impl_->surface);
}

void GlContext::doneCurrent()
{
    impl_->context.doneCurrent();
}

void* glProcAddress(const char* name, void*)
{
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (!current) {
        return nullptr;
    }
    return reinterpret_cast<void*>(current->getProcAddress(name));
}

}  // namespace fyrel
