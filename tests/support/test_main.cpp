// Shared main of the test programs: a headless application object, then GoogleTest.
#include "tests/support/scripted_dialogs.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // Values written into SQL and files must not depend on the process locale.
    std::setlocale(LC_NUMERIC, "C");
    v7::test::prohibirDialogos();
    return RUN_ALL_TESTS();
}
