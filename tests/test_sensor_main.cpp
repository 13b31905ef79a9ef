// The sensor layer's tests: QtCore only, no display.
#include "runtime/runtime.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    runtime::InitRuntimeNoDisplay(&argc, argv);
    return RUN_ALL_TESTS();
}
