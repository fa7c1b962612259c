// The form-hook chain: order of before/after handlers, handled messages,
// unhooking in any order, re-creation of the owner's window, stay-on-top,
// caption notices, the application hook and errors inside hooks.
#include "shell/form_hook.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "platform/window_pos.h"
#include "shell_fixture.h"

namespace {

using namespace win;
using shell_test::RunUntil;

constexpr UINT kPlain = WM_USER + 1;    // nobody handles it
constexpr UINT kHandled = WM_USER + 2;  // marked handled by hooks that want it
constexpr UINT kThrows = WM_USER + 3;   // hooks that want it throw in BeforeMessage

std::string g_trace;

void Trace(const std::string& s) {
    g_trace += (g_trace.empty() ? "" : " ") + s;
}

// A form that logs the test messages reaching its own procedure.
class LogForm : public fw::TForm {
public:
    explicit LogForm(fw::TComponent* owner) : TForm(owner) { SetCaption("Log"); }

protected:
    void WndProc(fw::TMessage& m) override {
        if (m.Msg >= kPlain && m.Msg <= kThrows) {
            Trace("form");
            m.Result = 7;
            return;
        }
        TForm::WndProc(m);
    }
};

class Probe : public TacHFormHookComponentWatchCaption {
public:
    Probe(fw::TComponent* owner, std::string name, bool handles = false)
        : TacHFormHookComponentWatchCaption(owner), name_(std::move(name)), handles_(handles) {}
    ~Probe() override { Destroying(); }

    static inline int created = 0;
    const int seq = ++created;
    int rehooked = 0;
    int captionNotices = 0;
    std::vector<bool> stayOnTopSeen;

    void InstallApp() { InstallAppHook(); }
    std::vector<UINT> appMessages;
    bool swallowAppMinimize = false;

protected:
    void BeforeMessage(fw::TMessage& m, bool& handled) override {
        if (m.Msg < kPlain || m.Msg > kThrows)
            return;
        Trace(name_ + ".before");
        if (handles_ && m.Msg == kThrows)
            throw fw::Exception("hook failed");
        if (handles_ && m.Msg == kHandled)
            handled = true;
    }
    void AfterMessage(fw::TMessage& m) override {
        TacHFormHookComponentWatchCaption::AfterMessage(m);
        if (m.Msg >= kPlain && m.Msg <= kThrows)
            Trace(name_ + ".after");
    }
    void ReHooked() override {
        TacHFormHookComponentWatchCaption::ReHooked();
        ++rehooked;
    }
    void StayOnTopChanged(bool v) override {
        stayOnTopSeen.push_back(v);
        TacHFormHookComponentWatchCaption::StayOnTopChanged(v);
    }
    void CaptionChanged() override { ++captionNotices; }
    void BeforeAppMessage(fw::TMessage& m, bool& handled) override {
        appMessages.push_back(m.Msg);
        if (swallowAppMinimize && m.Msg == WM_SYSCOMMAND && (m.WParam & 0xFFF0) == SC_MINIMIZE)
            handled = true;
    }

private:
    std::string name_;
    bool handles_;
};

class FormHookTest : public ::testing::Test {
public:
    void SetUp() override {
        g_trace.clear();
        app.SetErrorBox(
            [this](const std::string&, const std::string& text) { errors.push_back(text); });
        form = fw::TForm::Create<LogForm>(&app);
        ownProc = GetWindowLongPtrA(form->Handle(), GWLP_WNDPROC);
    }
    // Sends `msg` to the form and returns the trace it left.
    std::string Send(UINT msg, LRESULT* result = nullptr) {
        g_trace.clear();
        const LRESULT r = form->Perform(msg, 0, 0);
        if (result)
            *result = r;
        return g_trace;
    }
    LONG_PTR Proc() { return GetWindowLongPtrA(form->Handle(), GWLP_WNDPROC); }
    void Recreate() {
        const HWND old = form->Handle();
        form->RecreateWnd();
        ASSERT_NE(form->Handle(), old);
        app.ProcessMessages();
    }

    fw::TApplication app;
    LogForm* form = nullptr;
    LONG_PTR ownProc = 0;
    std::vector<std::string> errors;
};

// One case of the chain: what is done to a form with an older hook A and a
// newer hook B (B handles kHandled), and the traces of messages afterwards.
struct ChainCase {
    const char* name;
    std::function<void(FormHookTest&, Probe*& a, Probe*& b)> act;
    const char* plainTrace;    // after kPlain
    const char* handledTrace;  // after kHandled
};

class ChainTest : public FormHookTest, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(ChainTest, MessagesFlowNewestFirstAndHandledOnesStop) {
    const ChainCase& c = GetParam();
    Probe* a = new Probe(form, "A");
    Probe* b = new Probe(form, "B", /*handles=*/true);
    c.act(*this, a, b);
    EXPECT_EQ(Send(kPlain), c.plainTrace);
    EXPECT_EQ(Send(kHandled), c.handledTrace);
    // The window's procedure is the newest hook's.
    Probe* newest = a && b ? (a->seq > b->seq ? a : b) : (a ? a : b);
    EXPECT_EQ(Proc(), newest ? reinterpret_cast<LONG_PTR>(newest->HookProcedure()) : ownProc);
    EXPECT_EQ(TacFormHookComponent::HookListExists(), a || b);
    delete b;
    delete a;
    EXPECT_EQ(Proc(), ownProc);
    EXPECT_FALSE(TacFormHookComponent::HookListExists());
}

const ChainCase kChainCases[] = {
    {"TwoHooks", [](FormHookTest&, Probe*&, Probe*&) {}, "B.before A.before form A.after B.after",
     "B.before B.after"},
    {"NewerDestroyed",
     [](FormHookTest&, Probe*&, Probe*& b) {
         delete b;
         b = nullptr;
     },
     "A.before form A.after", "A.before form A.after"},
    {"OlderDestroyed",
     [](FormHookTest&, Probe*& a, Probe*&) {
         delete a;
         a = nullptr;
     },
     "B.before form B.after", "B.before B.after"},
    {"AllDestroyed",
     [](FormHookTest&, Probe*& a, Probe*& b) {
         delete a;
         delete b;
         a = b = nullptr;
     },
     "form", "form"},
    {"WindowRecreated",
     [](FormHookTest& t, Probe*& a, Probe*& b) {
         t.Recreate();
         EXPECT_EQ(a->rehooked, 1);
         EXPECT_EQ(b->rehooked, 1);
         EXPECT_EQ(a->HookedWindow(), t.form->Handle());
         EXPECT_EQ(b->HookedWindow(), t.form->Handle());
     },
     "B.before A.before form A.after B.after", "B.before B.after"},
    {"RecreatedTwiceThenNewerDestroyed",
     [](FormHookTest& t, Probe*& a, Probe*& b) {
         t.Recreate();
         t.Recreate();
         EXPECT_EQ(a->rehooked, 2);
         delete b;
         b = nullptr;
     },
     "A.before form A.after", "A.before form A.after"},
    {"ThirdHookAddedAfterRecreation",
     [](FormHookTest& t, Probe*& a, Probe*&) {
         t.Recreate();
         delete a;
         a = new Probe(t.form, "C");
     },
     "C.before B.before form B.after C.after", "C.before B.before B.after C.after"},
};

INSTANTIATE_TEST_SUITE_P(Chain, ChainTest, ::testing::ValuesIn(kChainCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormHookTest, OwnerThatIsNoWindowedControlIsRefused) {
    auto* plain = new fw::TComponent(form);
    try {
        new Probe(plain, "X");
        FAIL() << "no exception";
    } catch (const fw::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Owner must be TWinControl or its descendant!");
    }
    EXPECT_FALSE(TacFormHookComponent::HookListExists());
    EXPECT_EQ(Proc(), ownProc);
}

TEST_F(FormHookTest, ErrorInAHookGoesToTheErrorBoxAndTheResultStays) {
    Probe a(form, "A");
    Probe b(form, "B", /*handles=*/true);
    LRESULT r = -1;
    // B's failure ends the message in B: nothing below sees it.
    EXPECT_EQ(Send(kThrows, &r), "B.before");
    EXPECT_EQ(r, 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "hook failed");
    EXPECT_EQ(Send(kPlain, &r), "B.before A.before form A.after B.after");
    EXPECT_EQ(r, 7);
}

TEST_F(FormHookTest, OneRehookPerDestroyedWindowEvenWithSeveralHooks) {
    Probe a(form, "A"), b(form, "B"), c(form, "C");
    Recreate();
    Recreate();
    EXPECT_EQ(a.rehooked, 2);
    EXPECT_EQ(b.rehooked, 2);
    EXPECT_EQ(c.rehooked, 2);
}

TEST_F(FormHookTest, OwnerChangeMovesTheHookToTheNewOwnersWindow) {
    auto* other = fw::TForm::Create<LogForm>(&app);
    const LONG_PTR otherProc = GetWindowLongPtrA(other->Handle(), GWLP_WNDPROC);
    Probe a(form, "A");
    a.SetOwnerReference(other);
    EXPECT_EQ(Proc(), ownProc);
    EXPECT_EQ(GetWindowLongPtrA(other->Handle(), GWLP_WNDPROC),
              reinterpret_cast<LONG_PTR>(a.HookProcedure()));
    g_trace.clear();
    other->Perform(kPlain, 0, 0);
    EXPECT_EQ(g_trace, "A.before form A.after");
    EXPECT_THROW(a.SetOwnerReference(new fw::TComponent(form)), fw::EInvalidOperation);
    a.SetOwnerReference(form);
    EXPECT_EQ(GetWindowLongPtrA(other->Handle(), GWLP_WNDPROC), otherProc);
}

TEST_F(FormHookTest, StayOnTopReachesEveryHookAndSurvivesRecreation) {
    Probe a(form, "A"), b(form, "B");
    EXPECT_FALSE(a.StayOnTop());
    a.SetStayOnTop(true);
    EXPECT_TRUE(form->Widget()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(GetWindowLongA(form->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(a.stayOnTopSeen, std::vector<bool>{true});
    EXPECT_EQ(b.stayOnTopSeen, std::vector<bool>{true});
    EXPECT_TRUE(b.StayOnTop());
    a.SetStayOnTop(true);  // no change: nobody is told
    EXPECT_EQ(b.stayOnTopSeen.size(), 1u);

    Recreate();
    EXPECT_TRUE(GetWindowLongA(form->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    a.SetStayOnTop(false);
    EXPECT_FALSE(form->Widget()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(b.StayOnTop());
}

TEST_F(FormHookTest, CaptionChangePostsOneNoticeAndTheSameCaptionNone) {
    Probe a(form, "A");
    form->SetCaption("First");
    EXPECT_EQ(a.captionNotices, 0);  // posted: arrives after the caption is in place
    EXPECT_TRUE(RunUntil([&] { return a.captionNotices == 1; }));
    form->SetCaption("First");
    app.ProcessMessages();
    EXPECT_EQ(a.captionNotices, 1);
    form->SetCaption("Second");
    form->SetCaption("Second");
    app.ProcessMessages();
    EXPECT_EQ(a.captionNotices, 2);
}

TEST_F(FormHookTest, HiddenWindowAnswersEndOfSession) {
    Probe a(form, "A");
    ASSERT_TRUE(IsWindow(a.HiddenWindow()));
    EXPECT_EQ(SendMessageA(a.HiddenWindow(), WM_QUERYENDSESSION, 0, 0), 1);
    const HWND hidden = a.HiddenWindow();
    { Probe gone(form, "G"); }
    EXPECT_TRUE(IsWindow(hidden));
}

TEST_F(FormHookTest, ApplicationHookSeesAndCanSwallowTheApplicationsMessages) {
    const LONG_PTR appProc = GetWindowLongPtrA(app.Handle(), GWLP_WNDPROC);
    int minimized = 0;
    app.OnMinimize = [&](fw::TObject*) { ++minimized; };
    {
        Probe a(form, "A");
        a.InstallApp();
        a.InstallApp();  // once only
        EXPECT_TRUE(a.AppHookInstalled());
        a.swallowAppMinimize = true;
        app.Minimize();
        EXPECT_EQ(minimized, 0);
        a.swallowAppMinimize = false;
        app.Minimize();
        EXPECT_EQ(minimized, 1);
        EXPECT_EQ(a.appMessages.size(), 3u);  // two commands and the WM_SIZE of the second
        EXPECT_EQ(a.appMessages[2], WM_SIZE);
    }
    EXPECT_EQ(GetWindowLongPtrA(app.Handle(), GWLP_WNDPROC), appProc);
}

}  // namespace
