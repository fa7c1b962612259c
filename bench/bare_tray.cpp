// The reference for program_tray_bench: a bare Qt program that shows one tray
// icon and otherwise waits in its event loop.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QPixmap picture(16, 16);
    picture.fill(Qt::darkBlue);
    QSystemTrayIcon icon{QIcon(picture)};
    icon.setToolTip("bare");
    icon.show();
    return app.exec();
}
