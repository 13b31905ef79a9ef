// The sensor layer's tests: QtCore only, no display.
#include "runtime/log.h"
#include "runtime/runtime.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    runtime::InitRuntimeNoDisplay(&argc, argv);
    runtime::log::Install();
    return RUN_ALL_TESTS();
}
