// Test main for programs that need a QApplication: the tests run on the thread
// that runs Qt's event loop, as the program's own handlers do.
//
// Every such program gets configuration, data and cache folders of its own,
// removed when it ends: a main window made in a test carries the components
// that write the registry hives and autostart entries, and those must never
// reach the user's real ~/.config or the machine's /etc/xdg.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home(QDir::tempPath() + "/quilvane-test-XXXXXX");
    if (!home.isValid()) {
        fprintf(stderr, "cannot make a private configuration folder: %s\n",
                qPrintable(home.errorString()));
        return 1;
    }
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString dir = home.filePath(QString::fromLatin1(name).toLower());
        QDir().mkpath(dir);
        qputenv(name, dir.toLocal8Bit());
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
