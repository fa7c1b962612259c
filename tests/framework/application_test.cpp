// The application object: the error box for exceptions that reach handlers,
// the event loop's end, and the application window's minimise path.
#include "framework/application.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>
#include <string>

#include "framework/exceptions.h"
#include "framework/std_controls.h"
#include "framework/timer.h"
#include "framework_fixture.h"

namespace fw {
namespace {

using namespace win;
using test::BoxWatcher;
using test::EventWait;
using test::FrameworkTest;

constexpr UINT kThrowMessage = WM_USER + 7;

// A form whose window procedure fails on one private message.
class FailingForm : public TForm {
public:
    explicit FailingForm(TComponent* owner) : TForm(owner) {}
    int handled = 0;
    std::function<void()> onSecond;

protected:
    void WndProc(TMessage& m) override {
        if (m.Msg == kThrowMessage) {
            if (++handled == 2 && onSecond)
                onSecond();
            throw Exception("window procedure failed " + std::to_string(handled));
        }
        TForm::WndProc(m);
    }
};

enum class Trigger { ButtonClick, TimerTick, PostedWindowMessage, FormCreate };

class HandlerException : public FrameworkTest, public ::testing::WithParamInterface<Trigger> {};

// Each trigger runs its handler twice; each run throws. Both must reach the
// real error box, and the program must go on after each.
TEST_P(HandlerException, ReachesTheErrorBoxAndTheProgramGoesOn) {
    app.SetTitle("Quilvane");
    BoxWatcher boxes;
    int runs = 0;
    auto failing = [&runs](TObject*) {
        ++runs;
        throw Exception("handler failed " + std::to_string(runs));
    };

    switch (GetParam()) {
        case Trigger::ButtonClick: {
            TForm* form = TForm::Create<TForm>(&app);
            auto* button = new TButton(form);
            button->SetParent(form);
            button->OnClick = failing;
            form->Show();
            button->Button()->click();
            button->Button()->click();
            break;
        }
        case Trigger::TimerTick: {
            EventWait wait;
            TTimer timer(nullptr);
            timer.SetInterval(10);
            timer.OnTimer = [&](TObject* s) {
                if (runs == 1)
                    wait.Quit();
                failing(s);
            };
            EXPECT_TRUE(wait.Run(5000));
            break;
        }
        case Trigger::PostedWindowMessage: {
            FailingForm* form = TForm::Create<FailingForm>(&app);
            EventWait wait;
            // Dispatched from Qt's event loop: an escaping exception would end the test.
            form->onSecond = [&] { wait.Quit(); };
            PostMessageA(form->Handle(), kThrowMessage, 0, 0);
            PostMessageA(form->Handle(), kThrowMessage, 0, 0);
            EXPECT_TRUE(wait.Run(5000));
            runs = form->handled;
            break;
        }
        case Trigger::FormCreate:
            for (int i = 0; i < 2; ++i) {
                struct CreateFails : TForm {
                    explicit CreateFails(TComponent* o, std::function<void(TObject*)> f)
                        : TForm(o) {
                        OnCreate = f;
                    }
                };
                CreateFails* form = TForm::Create<CreateFails>(&app, nullptr, failing);
                EXPECT_NE(form, nullptr);  // the form stays
            }
            break;
    }

    ASSERT_EQ(runs, 2);
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const auto& box = boxes.shown[static_cast<size_t>(i)];
        const std::string prefix = GetParam() == Trigger::PostedWindowMessage
                                       ? "window procedure failed "
                                       : "handler failed ";
        EXPECT_EQ(box.text, prefix + std::to_string(i + 1));
        EXPECT_EQ(box.title, "Quilvane");
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.modality, Qt::ApplicationModal);
        EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

INSTANTIATE_TEST_SUITE_P(Handlers, HandlerException,
                         ::testing::Values(Trigger::ButtonClick, Trigger::TimerTick,
                                           Trigger::PostedWindowMessage, Trigger::FormCreate));

TEST_F(FrameworkTest, OnExceptionReplacesTheBoxAndAbortIsSilent) {
    BoxWatcher boxes;
    std::vector<std::string> reported;
    app.OnException = [&](TObject*, const std::exception& e) { reported.push_back(e.what()); };
    CallGuarded(nullptr, [] { throw Exception("seen by the handler"); });
    CallGuarded(nullptr, [] { Abort(); });
    EXPECT_EQ(reported, std::vector<std::string>{"seen by the handler"});

    app.OnException = nullptr;
    std::vector<std::string> boxed;
    app.SetErrorBox([&](const std::string&, const std::string& text) { boxed.push_back(text); });
    CallGuarded(nullptr, [] { Abort(); });
    CallGuarded(nullptr, [] { throw std::runtime_error("plain error"); });
    EXPECT_EQ(boxed, std::vector<std::string>{"plain error"});
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(FrameworkTest, RunEndsWhenTheMainFormClosesThroughItsCloseBox) {
    TForm* main = nullptr;
    app.CreateForm(&main);
    main->SetBorderIcons({biSystemMenu});
    bool closed = false;
    main->OnClose = [&](TObject*, TCloseAction&) { closed = true; };
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(main->Visible());
        // Press and release on the close box.
        const QRect box(main->Width() - NCFrameWidth - NCCaptionButtonWidth, NCFrameHeight + 2,
                        NCCaptionButtonWidth - 2, NCCaptionButtonHeight - 4);
        const LPARAM at =
            MakeLParamPoint(main->Left() + box.center().x(), main->Top() + box.center().y());
        const LRESULT ht = SendMessageA(main->Handle(), WM_NCHITTEST, 0, at);
        EXPECT_EQ(ht, HTCLOSE);
        SendMessageA(main->Handle(), WM_NCLBUTTONDOWN, static_cast<WPARAM>(ht), at);
        SendMessageA(main->Handle(), WM_NCLBUTTONUP, static_cast<WPARAM>(ht), at);
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { app.Terminate(); });
    watchdog.start(5000);
    app.Run();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(app.Terminated());
}

TEST_F(FrameworkTest, TerminateBeforeRunReturnsAtOnceWithoutShowingTheMainForm) {
    TForm* main = nullptr;
    app.CreateForm(&main);
    app.Terminate();
    app.Run();
    EXPECT_FALSE(main->Visible());
}

TEST_F(FrameworkTest, ProcessMessagesDeliversWhatIsWaitingAndReturns) {
    std::vector<LPARAM> got;
    const HWND wnd = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_USER)
            got.push_back(m.LParam);
    });
    ASSERT_NE(wnd, 0u);
    PostMessageA(wnd, WM_USER, 0, 1);
    PostMessageA(wnd, WM_USER, 0, 2);
    EXPECT_TRUE(got.empty());
    app.ProcessMessages();
    EXPECT_EQ(got, (std::vector<LPARAM>{1, 2}));
    DeallocateHWnd(wnd);
    EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(FrameworkTest, MinimisingTheMainFormGoesThroughTheApplicationWindow) {
    TForm* main = nullptr;
    app.CreateForm(&main);
    main->Show();
    std::vector<WPARAM> sizes;
    WNDPROC old = nullptr;
    WNDPROC hook = MakeWindowProcInstance([&](HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_SIZE)
            sizes.push_back(w);
        return CallWindowProcA(old, h, m, w, l);
    });
    old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(app.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hook)));
    int minimized = 0;
    app.OnMinimize = [&](TObject*) { ++minimized; };

    SendMessageA(main->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(sizes, std::vector<WPARAM>{SIZE_MINIMIZED});
    EXPECT_EQ(minimized, 1);
    EXPECT_TRUE(main->Widget()->isMinimized());

    SetWindowLongPtrA(app.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    FreeWindowProcInstance(hook);
}

}  // namespace
}  // namespace fw
