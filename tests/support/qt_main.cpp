// gtest main for tests that need a Qt application object; GUI tests run offscreen.

#ifdef ZANST_GUI_TESTS
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef ZANST_GUI_TESTS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The window writes its recording number files at first show: keep them out of the user's folder.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
