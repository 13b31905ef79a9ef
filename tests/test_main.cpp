// Runs the tests with a real (offscreen) Qt application.
#include "runtime/log.h"
#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const QByteArray dir = QDir::temp().filePath("varno-test-runtime").toLocal8Bit();
        QDir().mkpath(QString::fromLocal8Bit(dir));
        QFile::setPermissions(QString::fromLocal8Bit(dir),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("XDG_RUNTIME_DIR", dir.constData(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    runtime::log::Install(); // the program's messages as the program prints them
    if (runtime::InitRuntime(&argc, argv) != 0) return 2;
    return RUN_ALL_TESTS();
}
