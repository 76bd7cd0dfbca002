#include <gtest/gtest.h>

#include "gui_test_support.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    fyrel::test::shutdownPlatform();
    return result;
}
