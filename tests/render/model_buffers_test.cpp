#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "animation/pose.h"
#include "render/model_buffers.h"
#include "scene/model.h"
#include "support/fake_gl.h"

using namespace fyrel;
using fyrel::test::fakeGl;
using fyrel::test::makeFakeGl;

TEST(ModelBuffers, BindPoseAndIndicesAreUploadedAndOldBuffersDeleted)
{
    GlFunctions gl = makeFakeGl();
    {
        Model m;
        m.vertices.resize(3);
        m.vertices[1].position = {1, 2, 3};
        m.triangles.push_back(Triangle{{0, 1, 2}, {}});
        createBuffers(m, &gl);
        EXPECT_EQ(bufferFunctions(m), &gl);
        const std::vector<std::string> expected = {"gen 3", "bind 34962 1", "data 34962 36 35040", "bind 34962 2",
                                                   "data 34962 36 35040", "bind 34963 3", "data 34963 12 35044"};
        EXPECT_EQ(fakeGl().calls, expected);
        float y;
        std::memcpy(&y, fakeGl().data[1].data() + 16, 4);
        EXPECT_EQ(y, 2.0f);
        std::uint32_t third;
        std::memcpy(&third, fakeGl().data[3].data() + 8, 4);
        EXPECT_EQ(third, 2u);

        fakeGl().calls.clear();  // without a skeleton the skinned upload changes nothing
        updatePose(m);
        uploadSkinned(m);
        EXPECT_TRUE(fakeGl().calls.empty());
        createBuffers(m, &gl);  // the old three are deleted first
        EXPECT_EQ(fakeGl().deleted, (std::vector<GlUint>{1, 2, 3}));
    }
    EXPECT_EQ(fakeGl().deleted, (std::vector<GlUint>{1, 2, 3, 4, 5, 6}));

    Model other;  // a table without buffer entries leaves the model alone
    GlFunctions incomplete;
    createBuffers(other, &incomplete);
    EXPECT_EQ(bufferFunctions(other), nullptr);
}
