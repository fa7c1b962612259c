#pragma once
// Shared pieces of the shell component tests: an application object and a
// plain form per test, and a bounded wait on the event loop.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

#include "framework/application.h"
#include "framework/form.h"

namespace shell_test {

class PlainForm : public fw::TForm {
public:
    explicit PlainForm(fw::TComponent* owner) : TForm(owner) {
        SetCaption("Plain");
        SetClientWidth(300);
        SetClientHeight(200);
    }
};

// Runs the event loop until `done` holds or `ms` milliseconds passed.
inline bool RunUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { form = fw::TForm::Create<PlainForm>(&app); }
    fw::TApplication app;
    PlainForm* form = nullptr;
};

}  // namespace shell_test
