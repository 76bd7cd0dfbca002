#include "support/fake_gl.h"

#include <cstring>

namespace fyrel::test {

FakeGl& fakeGl()
{
    static FakeGl gl;
    return gl;
}

namespace {

void genBuffers(GlSizei n, GlUint* names)
{
    fakeGl().calls.push_back("gen " + std::to_string(n));
    for (GlSizei i = 0; i < n; ++i) {
        names[i] = fakeGl().nextName++;
    }
}

void bindBuffer(GlEnum target, GlUint name)
{
    fakeGl().calls.push_back("bind " + std::to_string(target) + " " + std::to_string(name));
    fakeGl().bound[target] = name;
}

void bufferData(GlEnum target, GlSizeiptr size, const void* bytes, GlEnum usage)
{
    fakeGl().calls.push_back("data " + std::to_string(target) + " " + std::to_string(size) + " " +
                             std::to_string(usage));
    auto& store = fakeGl().data[fakeGl().bound[target]];
    store.resize(static_cast<std::size_t>(size));
    if (size > 0) {
        std::memcpy(store.data(), bytes, static_cast<std::size_t>(size));
    }
}

void deleteBuffers(GlSizei n, const GlUint* names)
{
    fakeGl().calls.push_back("delete " + std::to_string(n));
    for (GlSizei i = 0; i < n; ++i) {
        fakeGl().deleted.push_back(names[i]);
    }
}

}  // namespace

GlFunctions makeFakeGl()
{
    fakeGl() = FakeGl{};
    return GlFunctions{.genBuffers = genBuffers, .bindBuffer = bindBuffer, .bufferData = bufferData,
                       .deleteBuffers = deleteBuffers};
}

}  // namespace fyrel::test
