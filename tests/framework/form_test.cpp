// Forms: two-phase construction, the non-client messages travelling the window
// procedure chain, caption, geometry and the default button.
#include "framework/form.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/std_controls.h"
#include "framework/timer.h"
#include "framework_fixture.h"

namespace fw {
namespace {

using namespace win;
using test::FrameworkTest;

std::vector<std::string> g_steps;

class Part : public TComponent {
public:
    Part(TComponent* owner, std::string label) : TComponent(owner), label_(std::move(label)) {
        g_steps.push_back("create " + label_ + (IsLoading() ? " loading" : ""));
        if (label_ == "B")
            new Part(this, "B1");
    }
    void Loaded() override {
        g_steps.push_back("loaded " + label_ + (IsLoading() ? "" : " NOT LOADING"));
        TComponent::Loaded();
    }

private:
    std::string label_;
};

class StepForm : public TForm {
public:
    explicit StepForm(TComponent* owner) : TForm(owner) {
        g_steps.push_back(std::string("form ctor") + (IsLoading() ? " loading" : ""));
        new Part(this, "A");
        new Part(this, "B");
        new Part(this, "C");
        OnCreate = [this](TObject*) {
            std::string step = "FormCreate";
            for (int i = 0; i < ComponentCount(); ++i)
                if (Components(i)->IsLoading())
                    step += " (a component still loading)";
            if (Application->MainForm() == this)
                step += " main";
            g_steps.push_back(step);
            new Part(this, "late");
        };
    }
    void Loaded() override {
        g_steps.push_back("loaded form");
        TForm::Loaded();
    }
};

TEST_F(FrameworkTest, FormIsBuiltInTwoPhasesThenItsCreationHandlerRuns) {
    g_steps.clear();
    StepForm* form = nullptr;
    app.CreateForm(&form);
    ASSERT_NE(form, nullptr);
    const std::vector<std::string> expected = {
        "form ctor loading", "create A loading", "create B loading", "create B1 loading",
        "create C loading",  "loaded form",      "loaded A",         "loaded B",
        "loaded B1",         "loaded C",         "FormCreate main",  "create late"};
    EXPECT_EQ(g_steps, expected);
    EXPECT_FALSE(form->IsLoading());
    EXPECT_EQ(app.MainForm(), form);
}

TEST_F(FrameworkTest, ComponentFreedWhileLoadingGetsNoLoadedStep) {
    struct Form : TForm {
        explicit Form(TComponent* owner) : TForm(owner) {
            new Part(this, "A");
            delete new Part(this, "B");  // B and its B1 go before loading ends
        }
    };
    g_steps.clear();
    TForm::Create<Form>(&app);
    EXPECT_EQ(g_steps, (std::vector<std::string>{"create A loading", "create B loading",
                                                 "create B1 loading", "loaded A"}));
}

TEST_F(FrameworkTest, ShowingAFormThatNeverFinishedLoadingThrows) {
    g_steps.clear();
    auto* form = new StepForm(nullptr);  // not through TForm::Create
    EXPECT_THROW(form->Show(), EInvalidOperation);
    delete form;
}

// A procedure put in front of a window's chain, as the shell's hooks do it.
class Hook {
public:
    struct Seen {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
    };
    // Returns true when it answered the message itself (in Result).
    std::function<bool(TMessage&)> before;
    std::function<void(TMessage&)> after;
    std::vector<Seen> seen;

    explicit Hook(HWND hwnd) : hwnd_(hwnd) {
        mine_ = MakeWindowProcInstance([this](HWND h, UINT m, WPARAM w, LPARAM l) {
            // Listed in arrival order; the answer is filled in once known.
            const size_t index = seen.size();
            seen.push_back({m, w, l, 0});
            TMessage msg{m, w, l, 0};
            if (!(before && before(msg))) {
                msg.Result = CallWindowProcA(old_, h, m, w, l);
                if (after)
                    after(msg);
            }
            seen[index].result = msg.Result;
            return msg.Result;
        });
        old_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mine_)));
    }
    ~Hook() {
        if (IsWindow(hwnd_))
            SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old_));
        FreeWindowProcInstance(mine_);
    }
    WNDPROC Proc() const { return mine_; }

    // The messages seen of the given kinds, in order.
    std::vector<Seen> Only(std::initializer_list<UINT> kinds) const {
        std::vector<Seen> out;
        for (const Seen& s : seen)
            for (UINT k : kinds)
                if (s.msg == k)
                    out.push_back(s);
        return out;
    }

private:
    HWND hwnd_;
    WNDPROC old_ = nullptr;
    WNDPROC mine_ = nullptr;
};

void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

class FormFixture : public FrameworkTest {
protected:
    TForm* mainForm = TForm::Create<TForm>(&app);
    TForm* form = TForm::Create<TForm>(&app);
    void SetUp() override {
        form->SetCaption("Quilvane");
        form->SetBounds(100, 80, 461, 265);
        form->Show();
    }
    QWidget* Frame() const { return form->Widget(); }
};

TEST_F(FormFixture, TitleBarPressTravelsTheChainAndDragsTheWindow) {
    Hook hook(form->Handle());
    const QPoint onTitle(60, NCFrameHeight + 8);
    const QPoint screen = QPoint(form->Left(), form->Top()) + onTitle;
    SendMouse(Frame(), QEvent::MouseButtonPress, onTitle, Qt::LeftButton, Qt::LeftButton);

    auto nc = hook.Only({WM_NCHITTEST, WM_NCLBUTTONDOWN, WM_SYSCOMMAND});
    ASSERT_EQ(nc.size(), 3u);
    EXPECT_EQ(nc[0].msg, WM_NCHITTEST);
    EXPECT_EQ(GetXLParam(nc[0].lParam), screen.x());
    EXPECT_EQ(GetYLParam(nc[0].lParam), screen.y());
    EXPECT_EQ(nc[0].result, HTCAPTION);
    EXPECT_EQ(nc[1].msg, WM_NCLBUTTONDOWN);
    EXPECT_EQ(nc[1].wParam, static_cast<WPARAM>(HTCAPTION));
    EXPECT_EQ(nc[2].msg, WM_SYSCOMMAND);
    EXPECT_EQ(nc[2].wParam, SC_MOVE | static_cast<WPARAM>(HTCAPTION));
    EXPECT_EQ(hook.Only({WM_SETCURSOR}).size(), 1u);

    SendMouse(Frame(), QEvent::MouseMove, onTitle + QPoint(25, 15), Qt::NoButton, Qt::LeftButton);
    SendMouse(Frame(), QEvent::MouseButtonRelease, onTitle + QPoint(25, 15), Qt::LeftButton,
              Qt::NoButton);
    EXPECT_EQ(form->Left(), 125);
    EXPECT_EQ(form->Top(), 95);
}

TEST_F(FormFixture, HookAnsweringTheHitTestOwnsThePressAndTheFormDoesNotMove) {
    // As a caption button does: its own code for its own place on the bar.
    constexpr LRESULT kButtonCode = 5734;
    Hook hook(form->Handle());
    hook.after = [](TMessage& m) {
        if (m.Msg == WM_NCHITTEST && m.Result == HTCAPTION)
            m.Result = kButtonCode;
    };
    const QPoint onTitle(200, NCFrameHeight + 5);
    SendMouse(Frame(), QEvent::MouseButtonPress, onTitle, Qt::LeftButton, Qt::LeftButton);
    SendMouse(Frame(), QEvent::MouseMove, onTitle + QPoint(0, 40), Qt::NoButton, Qt::LeftButton);
    SendMouse(Frame(), QEvent::MouseButtonRelease, onTitle + QPoint(0, 40), Qt::LeftButton,
              Qt::NoButton);

    auto down = hook.Only({WM_NCLBUTTONDOWN});
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(down[0].wParam, static_cast<WPARAM>(kButtonCode));
    EXPECT_TRUE(hook.Only({WM_SYSCOMMAND}).empty());
    // While the button is held the pointer is followed in client coordinates:
    // 40 pixels down from the title bar is inside the client area.
    auto moves = hook.Only({WM_MOUSEMOVE, WM_LBUTTONUP});
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(GetYLParam(moves[0].lParam),
              NCFrameHeight + 5 + 40 - NCFrameHeight - NCCaptionHeight);
    EXPECT_EQ(moves[1].msg, WM_LBUTTONUP);
    EXPECT_EQ(form->Left(), 100);
    EXPECT_EQ(form->Top(), 80);
}

TEST_F(FormFixture, RightClickAndDoubleClickOnTheTitleBarArriveAsMessages) {
    Hook hook(form->Handle());
    const QPoint onTitle(60, NCFrameHeight + 8);
    SendMouse(Frame(), QEvent::MouseButtonPress, onTitle, Qt::RightButton, Qt::RightButton);
    SendMouse(Frame(), QEvent::MouseButtonRelease, onTitle, Qt::RightButton, Qt::NoButton);
    SendMouse(Frame(), QEvent::MouseButtonDblClick, onTitle, Qt::LeftButton, Qt::LeftButton);
    auto seen = hook.Only({WM_NCRBUTTONDOWN, WM_NCRBUTTONUP, WM_NCLBUTTONDBLCLK});
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].msg, WM_NCRBUTTONDOWN);
    EXPECT_EQ(seen[1].msg, WM_NCRBUTTONUP);
    EXPECT_EQ(seen[2].msg, WM_NCLBUTTONDBLCLK);
    for (const auto& s : seen)
        EXPECT_EQ(s.wParam, static_cast<WPARAM>(HTCAPTION));
}

TEST_F(FormFixture, CaptionChangesTravelAsSetTextAndAHookMayRefuseThem) {
    Hook hook(form->Handle());
    std::vector<std::string> texts;
    hook.before = [&](TMessage& m) {
        if (m.Msg == WM_SETTEXT)
            texts.emplace_back(reinterpret_cast<const char*>(m.LParam));
        return false;
    };
    form->SetCaption("Quilvane 1.0");
    EXPECT_EQ(texts, std::vector<std::string>{"Quilvane 1.0"});
    EXPECT_EQ(form->Caption(), "Quilvane 1.0");
    EXPECT_EQ(GetWindowTextString(form->Handle()), "Quilvane 1.0");

    hook.before = [](TMessage& m) { return m.Msg == WM_SETTEXT; };
    form->SetCaption("Other");
    EXPECT_EQ(form->Caption(), "Quilvane 1.0");
    EXPECT_EQ(GetWindowTextString(form->Handle()), "Quilvane 1.0");
}

TEST_F(FormFixture, NcPaintHookDrawsOverTheDefaultTitleBar) {
    const QRect mark(200, NCFrameHeight + 4, 6, 6);
    Hook hook(form->Handle());
    hook.after = [&](TMessage& m) {
        if (m.Msg == WM_NCPAINT && form->NonClientPainter())
            form->NonClientPainter()->fillRect(mark, Qt::magenta);
    };
    const QImage image = Frame()->grab().toImage();
    EXPECT_FALSE(hook.Only({WM_NCPAINT}).empty());
    EXPECT_EQ(image.pixelColor(mark.center()), QColor(Qt::magenta));
    // The rest of the bar carries the skin, drawn before the hook.
    const QColor bar = image.pixelColor(mark.left() - 40, mark.center().y());
    EXPECT_NE(bar, QColor(Qt::magenta));
    EXPECT_GT(bar.blue(), bar.red());
    EXPECT_EQ(form->NonClientPainter(), nullptr);
}

TEST_F(FormFixture, ActivationChangesArriveAsNcActivate) {
    Hook hook(form->Handle());
    QEvent change(QEvent::ActivationChange);
    QCoreApplication::sendEvent(Frame(), &change);
    auto acts = hook.Only({WM_NCACTIVATE});
    ASSERT_EQ(acts.size(), 1u);
    EXPECT_EQ(acts[0].wParam, static_cast<WPARAM>(Frame()->isActiveWindow() ? 1 : 0));
    EXPECT_EQ(form->Active(), Frame()->isActiveWindow());
}

TEST_F(FormFixture, RecreatingTheWindowSendsDestroyThroughTheChainAndKeepsTheCaption) {
    const HWND old = form->Handle();
    {
        Hook hook(old);
        form->RecreateWnd();
        EXPECT_EQ(hook.Only({WM_DESTROY}).size(), 1u);
    }
    const HWND now = form->Handle();
    EXPECT_NE(now, old);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_EQ(TWinControl::FindControl(now), form);
    EXPECT_EQ(TWinControl::FindControl(old), nullptr);
    EXPECT_EQ(GetWindowTextString(now), "Quilvane");
    // The new window answers through the form's own procedure.
    EXPECT_EQ(
        SendMessageA(now, WM_NCHITTEST, 0, MakeLParamPoint(form->Left() + 30, form->Top() + 8)),
        HTCAPTION);
}

TEST_F(FormFixture, StayOnTopIsInTheExtendedStyleAndTheWindowStaysShown) {
    form->SetFormStyle(fsStayOnTop);
    EXPECT_TRUE(GetWindowLongA(form->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(Frame()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(Frame()->pos(), QPoint(100, 80));
    form->SetFormStyle(fsNormal);
    EXPECT_FALSE(GetWindowLongA(form->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(Frame()->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(FormFixture, SysCloseClosesThroughOnCloseAndHidesASecondaryForm) {
    TCloseAction seen = caNone;
    form->OnClose = [&](TObject*, TCloseAction& action) { seen = action; };
    // The application's main form is another one here.
    ASSERT_EQ(app.MainForm(), mainForm);
    SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(seen, caHide);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_FALSE(app.Terminated());
}

TEST_F(FrameworkTest, WholeWindowAndClientGeometry) {
    TForm* form = TForm::Create<TForm>(&app);
    form->SetClientWidth(455);
    form->SetHeight(265);
    EXPECT_EQ(form->Width(), 455 + 2 * NCFrameWidth);
    EXPECT_EQ(form->ClientHeight(), 265 - NCCaptionHeight - 2 * NCFrameHeight);
    auto* ok = new TButton(form);
    ok->SetParent(form);
    ok->SetBounds(280, 200, 80, 27);
    ok->SetCaption("&Ok");
    form->Show();
    const QPoint inFrame = ok->Widget()->mapTo(form->Widget(), QPoint(0, 0));
    EXPECT_EQ(inFrame, QPoint(NCFrameWidth + 280, NCFrameHeight + NCCaptionHeight + 200));
    EXPECT_EQ(ok->Widget()->size(), QSize(80, 27));
    // The caption fits its button in the skin's font.
    const QFontMetrics fm(ok->Widget()->font());
    EXPECT_LT(fm.horizontalAdvance("Ok"), 80 - 8);
    EXPECT_LT(fm.height(), 27);
}

TEST_F(FrameworkTest, ScreenCenterPositionCentresOnFirstShowOnly) {
    TForm* form = TForm::Create<TForm>(&app);
    form->SetPosition(poScreenCenter);
    form->SetClientWidth(455);
    form->SetHeight(265);
    form->Show();
    const QRect screen = form->Widget()->screen()->geometry();
    EXPECT_EQ(form->Left(), screen.x() + (screen.width() - form->Width()) / 2);
    EXPECT_EQ(form->Top(), screen.y() + (screen.height() - form->Height()) / 2);
    form->SetBounds(10, 20, form->Width(), form->Height());
    form->Hide();
    form->Show();
    EXPECT_EQ(form->Left(), 10);
    // A change of height (the editor view) and an explicit centring.
    form->SetHeight(440);
    form->CenterOnScreen();
    EXPECT_EQ(form->Top(), screen.y() + (screen.height() - 440) / 2);
    EXPECT_EQ(form->Widget()->pos(), QPoint(form->Left(), form->Top()));
}

TEST_F(FrameworkTest, EnterPressesTheDefaultButtonUnlessAnotherButtonHasIt) {
    TForm* form = TForm::Create<TForm>(&app);
    int okClicks = 0, addClicks = 0;
    auto* add = new TButton(form);
    add->SetParent(form);
    add->OnClick = [&](TObject*) { ++addClicks; };
    auto* ok = new TButton(form);
    ok->SetDefault(true);  // before it has its parent: still the form's default
    ok->SetParent(form);
    ok->OnClick = [&](TObject*) { ++okClicks; };
    auto* edit = new TEdit(form);
    edit->SetParent(form);
    form->Show();
    EXPECT_EQ(form->DefaultButton(), ok);

    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(edit->Widget(), &enter);
    EXPECT_EQ(okClicks, 1);
    QKeyEvent enterOnAdd(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(add->Widget(), &enterOnAdd);
    EXPECT_EQ(addClicks, 1);
    EXPECT_EQ(okClicks, 1);

    delete ok;
    EXPECT_EQ(form->DefaultButton(), nullptr);
}

enum class ModalEnd { OkClick, EscapeKey, CloseCommand };

class ShowModalTest : public FrameworkTest, public ::testing::WithParamInterface<ModalEnd> {};

TEST_P(ShowModalTest, EndsWithTheAnswerWhileTimersKeepTicking) {
    TForm* main = TForm::Create<TForm>(&app);
    TForm* dialog = TForm::Create<TForm>(&app);
    auto* ok = new TButton(dialog);
    ok->SetParent(dialog);
    ok->SetModalResult(mrOk);
    auto* cancel = new TButton(dialog);
    cancel->SetParent(dialog);
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    main->Show();

    // The answer comes from a timer tick inside the modal loop, the second
    // tick: the loop keeps delivering them.
    int ticks = 0;
    TTimer timer(nullptr);
    timer.SetInterval(10);
    timer.OnTimer = [&](TObject*) {
        if (++ticks != 2)
            return;
        EXPECT_TRUE(dialog->Widget()->isModal());
        switch (GetParam()) {
            case ModalEnd::OkClick:
                ok->Button()->click();
                break;
            case ModalEnd::EscapeKey: {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(dialog->Widget(), &escape);
                break;
            }
            case ModalEnd::CloseCommand:
                SendMessageA(dialog->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
        }
    };
    // Bounded: should nothing end the loop, the watchdog does.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { dialog->Hide(); });
    watchdog.start(5000);

    const TModalResult result = dialog->ShowModal();
    EXPECT_EQ(result, GetParam() == ModalEnd::OkClick ? mrOk : mrCancel);
    EXPECT_GE(ticks, 2);
    EXPECT_FALSE(dialog->Visible());
    EXPECT_FALSE(dialog->Widget()->isModal());
    EXPECT_TRUE(main->Visible());
}

INSTANTIATE_TEST_SUITE_P(Ends, ShowModalTest,
                         ::testing::Values(ModalEnd::OkClick, ModalEnd::EscapeKey,
                                           ModalEnd::CloseCommand));

}  // namespace
}  // namespace fw
