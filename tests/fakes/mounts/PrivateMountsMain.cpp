// The main of a test program that uses SmallTmpfs: the mount namespace is entered while
// the process still has one thread.
#include <gtest/gtest.h>

#include "mounts/PrivateMounts.h"

int main(int argc, char** argv) {
    lumvane::test::enterPrivateMountNamespace();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
