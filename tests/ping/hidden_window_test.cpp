// Shared hidden windows: message numbers, routing, release, background
// errors, attaching to threads and the message loops.
#include "ping/hidden_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/user.h"

namespace {

// A component with `extra` message numbers of its own after the release one.
class Probe : public TIcsWndControl {
public:
    explicit Probe(fw::TComponent* owner = nullptr, int extra = 1)
        : TIcsWndControl(owner), extra_(extra) {}
    ~Probe() override {
        Dispose(true);
        if (destroyed)
            *destroyed = true;
    }

    using TIcsWndControl::AllocateWindow;
    using TIcsWndControl::ReleaseWindow;

    void WindowProc(fw::TMessage& m) override {
        Guarded([&] {
            if (std::find(own.begin(), own.end(), m.Msg) == own.end()) {
                TIcsWndControl::WindowProc(m);
                return;
            }
            seen.push_back(m.Msg);
            seenOnThread = win::GetCurrentThreadId();
            if (quitOnMessage)
                win::PostQuitMessage(0);
            if (throwOnMessage)
                throw std::runtime_error("handler failed");
            m.Result = 42;
        });
    }
    void AbortOperation() override {
        ++aborts;
        if (throwInAbort)
            throw std::runtime_error("abort failed");
    }

    std::vector<win::UINT> own;
    std::vector<win::UINT> seen;
    win::DWORD seenOnThread = 0;
    bool throwOnMessage = false;
    bool throwInAbort = false;
    bool quitOnMessage = false;
    int aborts = 0;
    bool* destroyed = nullptr;

protected:
    int MessageSlotCount() override { return TIcsWndControl::MessageSlotCount() + extra_; }
    void AllocateMessageSlots() override {
        TIcsWndControl::AllocateMessageSlots();
        for (int i = 0; i < extra_; ++i)
            own.push_back(WndHandler()->AllocateMessage(this));
    }
    void FreeMessageSlots() override {
        for (win::UINT& m : own)
            WndHandler()->FreeMessage(m);
        own.clear();
        TIcsWndControl::FreeMessageSlots();
    }

private:
    int extra_;
};

// A component whose WindowProc lets exceptions out, as a careless derived
// class might: the handler's hook is the last stop.
class Careless : public TIcsWndControl {
public:
    Careless() : TIcsWndControl(nullptr) { AllocateWindow(); }
    void WindowProc(fw::TMessage&) override { throw std::runtime_error("escaped"); }
};

bool ClassRegistered() {
    win::WNDCLASSA wc;
    return win::GetClassInfoA(win::GetModuleHandleA(nullptr), IcsWndControlWindowClassName, &wc);
}

void Pump() {
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

class HiddenWindowTest : public testing::Test {
protected:
    void TearDown() override {
        // Every test leaves the process as it found it.
        EXPECT_EQ(IcsHiddenWindowCount(), 0);
        EXPECT_FALSE(ClassRegistered());
        EXPECT_TRUE(GWndHandlerPool().Lists().empty());
    }
};

TEST_F(HiddenWindowTest, ComponentsOfAThreadShareOneWindowLowestNumbersFirst) {
    Probe a, b;
    a.AllocateWindow();
    b.AllocateWindow();
    EXPECT_EQ(a.MsgRelease(), 1025u);
    EXPECT_EQ(a.own, std::vector<win::UINT>{1026});
    EXPECT_EQ(b.MsgRelease(), 1027u);
    EXPECT_EQ(b.own, std::vector<win::UINT>{1028});
    EXPECT_EQ(a.Handle(), b.Handle());
    EXPECT_EQ(IcsHiddenWindowCount(), 1);
    EXPECT_EQ(a.ThreadID(), win::GetCurrentThreadId());

    // A freed number is handed out again before higher ones.
    a.ReleaseWindow();
    EXPECT_EQ(a.Handle(), 0u);
    Probe c;
    c.AllocateWindow();
    EXPECT_EQ(c.MsgRelease(), 1025u);
    EXPECT_EQ(c.own, std::vector<win::UINT>{1026});
}

TEST_F(HiddenWindowTest, ComponentThatDoesNotFitGetsANewHandlerAndWindow) {
    Probe big(nullptr, 98);  // 99 numbers: one left in the first handler
    big.AllocateWindow();
    Probe pair;
    pair.AllocateWindow();
    EXPECT_NE(pair.Handle(), big.Handle());
    EXPECT_EQ(pair.MsgRelease(), 1025u);
    EXPECT_EQ(pair.own, std::vector<win::UINT>{1026});
    EXPECT_EQ(IcsHiddenWindowCount(), 2);
    ASSERT_EQ(GWndHandlerPool().Lists().size(), 1u);
    EXPECT_EQ(GWndHandlerPool().Lists()[0]->Handlers.size(), 2u);

    Probe single(nullptr, 0);  // fits the first handler's last number
    single.AllocateWindow();
    EXPECT_EQ(single.Handle(), big.Handle());
    EXPECT_EQ(single.MsgRelease(), 1124u);
}

TEST_F(HiddenWindowTest, LastFreedNumberDestroysWindowAndClassComesBackWithTheNext) {
    win::HWND first;
    {
        Probe a;
        a.AllocateWindow();
        first = a.Handle();
        EXPECT_TRUE(win::IsWindow(first));
        EXPECT_TRUE(ClassRegistered());
    }
    EXPECT_FALSE(win::IsWindow(first));
    EXPECT_FALSE(ClassRegistered());
    EXPECT_EQ(IcsHiddenWindowCount(), 0);

    Probe b;
    EXPECT_NE(b.GetHandle(), 0u);  // GetHandle allocates
    EXPECT_TRUE(ClassRegistered());
    EXPECT_EQ(IcsHiddenWindowCount(), 1);
}

TEST_F(HiddenWindowTest, MessagesReachOnlyTheComponentThatOwnsTheirNumber) {
    Probe a, b;
    a.AllocateWindow();
    b.AllocateWindow();
    const win::HWND h = a.Handle();
    EXPECT_EQ(win::SendMessageA(h, a.own[0], 1, 2), 42);
    EXPECT_EQ(a.seen, std::vector<win::UINT>{1026});
    EXPECT_TRUE(b.seen.empty());

    // Unowned numbers in range, numbers outside the range: default processing.
    EXPECT_EQ(win::SendMessageA(h, 1060, 0, 0), 0);
    EXPECT_EQ(win::SendMessageA(h, 1125, 0, 0), 0);
    EXPECT_EQ(win::SendMessageA(h, win::WM_USER, 0, 0), 0);
    EXPECT_EQ(a.seen.size(), 1u);
    EXPECT_TRUE(b.seen.empty());

    win::PostMessageA(h, b.own[0], 0, 0);
    Pump();
    EXPECT_EQ(b.seen, std::vector<win::UINT>{1028});
}

TEST_F(HiddenWindowTest, NumberBookkeepingErrors) {
    TIcsWndHandler handler(nullptr);
    Probe p;
    win::UINT none = 0;
    EXPECT_NO_THROW(handler.FreeMessage(none));

    struct Case {
        win::UINT msg;
        const char* message;
    };
    win::UINT taken = handler.AllocateMessage(&p);
    for (Case c : {Case{1030, "Msg not registered"}, Case{1125, "Msg value out of bound"},
                   Case{1500, "Msg value out of bound"}, Case{100, "Msg value out of bound"}}) {
        try {
            handler.FreeMessage(c.msg);
            ADD_FAILURE() << c.msg << " freed";
        } catch (const EIcsException& e) {
            EXPECT_STREQ(e.what(), c.message) << c.msg;
        }
    }
    handler.FreeMessage(taken);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(handler.Handle(), 0u);

    for (int i = 0; i < TIcsWndHandler::WH_MAX_MSG; ++i)
        handler.AllocateMessage(&p);
    try {
        handler.AllocateMessage(&p);
        ADD_FAILURE() << "101st number handed out";
    } catch (const EIcsException& e) {
        EXPECT_STREQ(e.what(), "No more free message");
    }
    handler.DestroyHiddenWindow();

    TIcsWndHandler low(nullptr);
    low.FMsgLow = 1000;
    win::UINT m = 1000;
    EXPECT_THROW(
        {
            try {
                low.AllocateMessage(&p);
            } catch (const EIcsException& e) {
                EXPECT_STREQ(e.what(), "MsgLow not defined");
                throw;
            }
        },
        EIcsException);
    EXPECT_THROW(low.FreeMessage(m), EIcsException);
}

TEST_F(HiddenWindowTest, HandlerExceptionStaysInsideAndAbortsWithoutAHandler) {
    Probe p;
    p.AllocateWindow();
    p.throwOnMessage = true;
    win::PostMessageA(p.Handle(), p.own[0], 0, 0);
    Pump();
    EXPECT_EQ(p.seen.size(), 1u);
    EXPECT_EQ(p.aborts, 1);

    // A handler that keeps the operation going.
    std::string reported;
    p.OnBackgroundError = [&](fw::TObject* sender, const std::exception& e, bool& canAbort) {
        EXPECT_EQ(sender, &p);
        reported = e.what();
        canAbort = false;
    };
    win::PostMessageA(p.Handle(), p.own[0], 0, 0);
    Pump();
    EXPECT_EQ(reported, "handler failed");
    EXPECT_EQ(p.aborts, 1);

    // A failing handler and a failing abort are swallowed.
    p.OnBackgroundError = [](fw::TObject*, const std::exception&, bool&) {
        throw std::runtime_error("error handler failed");
    };
    p.throwInAbort = true;
    EXPECT_NO_THROW(win::SendMessageA(p.Handle(), p.own[0], 0, 0));
    EXPECT_EQ(p.aborts, 2);
}

TEST_F(HiddenWindowTest, ExceptionEscapingAComponentGoesToTheHandlersHook) {
    Careless c;
    std::string reported;
    c.WndHandler()->OnBgException = [&](fw::TObject* sender, const std::exception& e, bool&) {
        EXPECT_EQ(sender, c.WndHandler());
        reported = e.what();
    };
    EXPECT_NO_THROW(win::SendMessageA(c.Handle(), c.MsgRelease(), 0, 0));
    EXPECT_EQ(reported, "escaped");
    c.WndHandler()->OnBgException = nullptr;
    EXPECT_NO_THROW(win::SendMessageA(c.Handle(), c.MsgRelease(), 0, 0));
}

TEST_F(HiddenWindowTest, PostReleaseDestroysAfterTheCurrentHandlerAndOwnerForgetsIt) {
    fw::TComponent owner(nullptr);
    bool destroyed = false;
    auto* p = new Probe(&owner);
    p->destroyed = &destroyed;
    p->AllocateWindow();
    p->PostRelease();
    EXPECT_FALSE(destroyed);  // nothing happens inside the call
    EXPECT_EQ(owner.ComponentCount(), 1);
    Pump();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST_F(HiddenWindowTest, AttachAndDetachRules) {
    Probe p;
    p.AllocateWindow();
    try {
        p.AttachToThread();
        ADD_FAILURE() << "attached twice";
    } catch (const EIcsException& e) {
        EXPECT_STREQ(e.what(), "Cannot attach when not detached");
    }
    std::string fromOtherThread;
    std::thread([&] {
        try {
            p.DetachFromThread();
        } catch (const EIcsException& e) {
            fromOtherThread = e.what();
        }
    }).join();
    EXPECT_EQ(fromOtherThread, "Cannot detach from another thread");
    EXPECT_NE(p.Handle(), 0u);
    p.DetachFromThread();
    EXPECT_EQ(p.Handle(), 0u);
    EXPECT_EQ(IcsHiddenWindowCount(), 0);
    p.AttachToThread();
    EXPECT_NE(p.Handle(), 0u);
}

void QuitTimer(win::HWND, win::UINT, win::UINT_PTR, win::DWORD) {
    win::PostQuitMessage(1);
}

TEST_F(HiddenWindowTest, WorkerThreadGetsItsOwnWindowAndRunsItsLoop) {
    Probe mainProbe;
    mainProbe.AllocateWindow();

    std::promise<Probe*> attached;
    std::promise<void> posted;
    win::DWORD workerId = 0;
    bool terminated = false;
    std::vector<win::UINT> seen;
    std::thread worker([&] {
        workerId = win::GetCurrentThreadId();
        Probe p;
        p.quitOnMessage = true;
        p.AttachToThread();
        win::SetTimer(0, 0, 10000, &QuitTimer);  // bounds the loop if nothing comes
        attached.set_value(&p);
        posted.get_future().wait();
        p.RunMessageLoop();
        terminated = p.Terminated;
        seen = p.seen;
        EXPECT_EQ(p.seenOnThread, workerId);
    });
    Probe* p = attached.get_future().get();
    EXPECT_NE(p->Handle(), mainProbe.Handle());
    EXPECT_EQ(p->MsgRelease(), 1025u);  // its thread's own handler
    EXPECT_EQ(GWndHandlerPool().Lists().size(), 2u);
    win::PostMessageA(p->Handle(), p->own[0], 0, 0);
    posted.set_value();
    worker.join();
    EXPECT_TRUE(terminated);
    EXPECT_EQ(seen, std::vector<win::UINT>{1026});
    EXPECT_EQ(GWndHandlerPool().Lists().size(), 1u);  // the worker's list went with its handler
}

TEST_F(HiddenWindowTest, ProcessOneMessageDispatchesAndStopsAtQuit) {
    std::thread([] {
        Probe p(nullptr, 1);
        p.MultiThreaded = true;
        p.AttachToThread();
        EXPECT_FALSE(p.ProcessOneMessage());
        win::PostMessageA(p.Handle(), p.own[0], 0, 0);
        win::PostMessageA(p.Handle(), p.own[0], 0, 0);
        p.PumpMessages();
        EXPECT_EQ(p.seen.size(), 2u);
        EXPECT_FALSE(p.Terminated);
        win::PostQuitMessage(0);
        EXPECT_TRUE(p.ProcessOneMessage());
        EXPECT_TRUE(p.Terminated);
        EXPECT_EQ(p.seen.size(), 2u);
    }).join();
}

QStringList g_trace;
void CollectTrace(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (QString(context.category) == "quilvane.ping.ics")
        g_trace << text;
}

TEST_F(HiddenWindowTest, TraceLinesAreOffUntilTheirCategoryIsEnabled) {
    QtMessageHandler previous = qInstallMessageHandler(&CollectTrace);
    g_trace.clear();
    {
        Probe p;
        p.AllocateWindow();
    }
    EXPECT_TRUE(g_trace.isEmpty()) << g_trace.join('|').toStdString();

    QLoggingCategory::setFilterRules("quilvane.ping.ics.debug=true");
    {
        Probe p;
        p.AllocateWindow();
    }
    QLoggingCategory::setFilterRules("");
    qInstallMessageHandler(previous);

    const QString tid = QString::number(win::GetCurrentThreadId());
    ASSERT_EQ(g_trace.size(), 8) << g_trace.join('|').toStdString();
    EXPECT_EQ(g_trace[0], "Create TIcsWndControl ThreadID=" + tid);
    EXPECT_TRUE(QRegularExpression("^TIcsWndHandler.Create OwnerList = [0-9A-F]{8}$")
                    .match(g_trace[1])
                    .hasMatch())
        << g_trace[1].toStdString();
    // The derived destructor disposes first, the base's Dispose finds it done.
    EXPECT_EQ(g_trace[2], "Dispose (anonymous namespace)::Probe ThreadID=" + tid);
    EXPECT_EQ(g_trace[3], "Free managed resources");
    EXPECT_EQ(g_trace[4], "Free unmanaged resources");
    EXPECT_TRUE(g_trace[5].startsWith("Free OwnerList = ")) << g_trace[5].toStdString();
    EXPECT_EQ(g_trace[6], "Destroy");
    EXPECT_EQ(g_trace[7], "Dispose TIcsWndControl ThreadID=" + tid);
}

}  // namespace
