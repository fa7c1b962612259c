#pragma once
// Shared pieces of the framework tests: an application object per test, a
// bounded wait on the event loop, and a watcher that answers real error boxes.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <string>
#include <vector>

#include "framework/application.h"

namespace fw::test {

// Runs the event loop until Quit() or until `ms` milliseconds passed.
class EventWait {
public:
    void Quit() {
        done_ = true;
        loop_.quit();
    }
    // True when Quit() was called (before or during the wait).
    bool Run(int ms) {
        if (done_)
            return true;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, &loop_, &QEventLoop::quit);
        watchdog.start(ms);
        loop_.exec();
        return done_;
    }

private:
    QEventLoop loop_;
    bool done_ = false;
};

// Records every message box that opens and presses its OK button, the way a
// user would, from inside the box's own modal loop.
class BoxWatcher : public QObject {
public:
    struct Shown {
        std::string title;
        std::string text;
        QMessageBox::Icon icon;
        Qt::WindowModality modality;
        QMessageBox::StandardButtons buttons;
    };
    std::vector<Shown> shown;

    BoxWatcher() { qApp->installEventFilter(this); }
    ~BoxWatcher() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* o, QEvent* e) override {
        auto* box = qobject_cast<QMessageBox*>(o);
        if (box && e->type() == QEvent::Show) {
            shown.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                             box->icon(), box->windowModality(), box->standardButtons()});
            QMetaObject::invokeMethod(
                box,
                [box] {
                    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                        ok->click();
                    else
                        box->reject();
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

class FrameworkTest : public ::testing::Test {
protected:
    TApplication app;
};

}  // namespace fw::test
