#pragma once
// Hidden message windows shared by non-visual components.
//
// TIcsWndControl is the base of components that receive asynchronous
// notifications as window messages. Components do not get a window each: a
// process-wide pool keeps, per thread, a list of handlers; each handler owns
// one hidden window of the class "IcsWndControlWindowClass" and hands out up
// to 100 message numbers from 1025 on, lowest free first. A message posted to
// the hidden window is routed by its number to the component that owns the
// number, on the thread that created the window.
//
// A component holds MessageSlotCount() numbers: the first is always its
// release message (PostRelease), a derived class's own follow. A derived
// class that takes numbers of its own calls Dispose(true) in its destructor,
// so that its FreeMessageSlots still runs while the object is of its class.
//
// Exceptions raised while a component handles a routed message never reach
// the message loop: they go to HandleBackgroundError (component) or to the
// handler's OnBgException hook.
//
// Locks. The pool's lock serialises AllocateWindow and ReleaseWindow across
// threads (lists, handlers, slots). A second process-wide lock guards the
// window class's registration and the count of hidden windows. When both are
// taken, the pool's lock comes first.
//
// Threads: a component is used on the thread that allocated its window;
// AllocateWindow and ReleaseWindow may run on any thread, each on its own
// components. The trace lines go to the logging category "quilvane.ping.ics"
// (debug level, off by default).

#include <array>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/messages.h"
#include "platform/types.h"

class EIcsException : public fw::Exception {
public:
    using fw::Exception::Exception;
};

class TIcsWndControl;
class TIcsWndHandlerList;

// (Sender, E, CanAbort): an exception that escaped a message handler.
using TIcsBgExceptionEvent =
    std::function<void(fw::TObject* Sender, const std::exception& E, bool& CanAbort)>;

// One hidden window and the components that own its message numbers.
class TIcsWndHandler : public fw::TObject {
public:
    static constexpr int WH_MAX_MSG = 100;
    // One above the platform's first user message number.
    static constexpr win::UINT WH_MSG_LOW = 1025;

    explicit TIcsWndHandler(TIcsWndHandlerList* ownerList);
    ~TIcsWndHandler() override;

    win::HWND Handle() const { return FHandle; }
    int MsgCount() const { return FMsgCount; }
    TIcsWndHandlerList* OwnerList() const { return FOwnerList; }
    // The component that owns message number `msg`, or nullptr.
    TIcsWndControl* MsgOwner(win::UINT msg) const;

    // Takes the lowest free number for `component` (creating the window if
    // there is none) and returns it.
    win::UINT AllocateMessage(TIcsWndControl* component);
    // Frees `msg` and sets it to 0; 0 itself is ignored. Freeing the last
    // number destroys the window.
    void FreeMessage(win::UINT& msg);

    void CreateHiddenWindow();
    void DestroyHiddenWindow();
    // Hands the message to the component that owns its number, or to the
    // default processing. Nothing it raises leaves it.
    void RouteMessage(fw::TMessage& msg);

    // First message number; 1025 for every handler.
    win::UINT FMsgLow = WH_MSG_LOW;
    TIcsBgExceptionEvent OnBgException;

private:
    win::HWND FHandle = 0;
    std::array<TIcsWndControl*, WH_MAX_MSG> FMsgMap{};
    int FMsgCount = 0;
    TIcsWndHandlerList* FOwnerList;
};

// The handlers of one thread, in order of creation.
class TIcsWndHandlerList : public fw::TObject {
public:
    explicit TIcsWndHandlerList(win::DWORD threadId) : ThreadID(threadId) {}
    ~TIcsWndHandlerList() override;

    const win::DWORD ThreadID;
    std::vector<TIcsWndHandler*> Handlers;
};

// The process's one pool of handler lists (GWndHandlerPool()).
class TIcsWndHandlerPool : public fw::TObject {
public:
    TIcsWndHandlerPool() = default;
    ~TIcsWndHandlerPool() override;

    // A handler of `threadId` with at least `count` free numbers, made (and
    // its thread's list) when there is none. Call with the lock held.
    TIcsWndHandler* AcquireHandler(int count, win::DWORD threadId);
    // Removes the handler from its list (and an emptied list from the pool),
    // frees it and clears `handler`. Call with the lock held.
    void ReleaseHandler(TIcsWndHandler*& handler);

    // The lists, for inspection; change them only with the lock held.
    const std::vector<TIcsWndHandlerList*>& Lists() const { return FLists; }

    std::recursive_mutex Lock;

private:
    std::vector<TIcsWndHandlerList*> FLists;
};

TIcsWndHandlerPool& GWndHandlerPool();

// The number of hidden windows of the process (under the window-class lock).
int IcsHiddenWindowCount();

// The window class of the hidden windows.
inline constexpr char IcsWndControlWindowClassName[] = "IcsWndControlWindowClass";

class TIcsWndControl : public fw::TComponent {
public:
    explicit TIcsWndControl(fw::TComponent* AOwner);
    ~TIcsWndControl() override;

    // The window handle; allocates the window first when there is none.
    win::HWND GetHandle();
    // The handle as it is: 0 while detached.
    win::HWND Handle() const { return FHandle; }
    win::DWORD ThreadID() const { return FThreadId; }
    TIcsWndHandler* WndHandler() const { return FWndHandler; }
    win::UINT MsgRelease() const { return FMsgRelease; }

    // Set when RunMessageLoop ends or ProcessOneMessage meets the quit message.
    bool Terminated = false;
    // PumpMessages: ProcessPendingMessages when true, else the application's
    // processing of waiting messages.
    bool MultiThreaded = false;
    TIcsBgExceptionEvent OnBackgroundError;

    virtual void Dispose(bool Disposing);
    // Handles a message routed to one of this component's numbers.
    virtual void WindowProc(fw::TMessage& Msg);
    // CanAbort starts true; OnBackgroundError may clear it; then
    // AbortOperation. Whatever these raise is swallowed.
    virtual void HandleBackgroundError(const std::exception& E);
    // Posts the release message: the component deletes itself when it is
    // handled, after the handler that posted it has returned.
    virtual void PostRelease();
    // A hook for derived classes; does nothing here.
    virtual void AbortOperation();
    // Allocates the window on the calling thread; raises when attached.
    virtual void AttachToThread();
    // Releases the window; raises on another thread than the component's.
    virtual void DetachFromThread();
    // Message loops of the calling thread.
    virtual void RunMessageLoop();
    virtual bool ProcessOneMessage();
    virtual void ProcessPendingMessages();
    virtual void PumpMessages();

protected:
    virtual void FireBackgroundError(const std::exception& E, bool& CanAbort);
    virtual void WMRelease(fw::TMessage& Msg);
    virtual void AllocateWindow();
    virtual void ReleaseWindow();
    // How many message numbers this class needs: 1 here (the release
    // message); derived classes add theirs to the inherited count.
    virtual int MessageSlotCount();
    // Takes the release message; derived classes call this first, then
    // take their own, so the release message is the lowest.
    virtual void AllocateMessageSlots();
    // Frees the release message; derived classes free their own first.
    virtual void FreeMessageSlots();

    // Runs WindowProc's dispatch for `Msg` with its exceptions going to
    // HandleBackgroundError.
    template <typename F>
    void Guarded(F&& handle) {
        try {
            handle();
        } catch (const std::exception& E) {
            HandleBackgroundError(E);
        } catch (...) {
            HandleBackgroundError(fw::Exception("Unknown exception"));
        }
    }

private:
    win::HWND FHandle = 0;
    win::DWORD FThreadId = 0;
    TIcsWndHandler* FWndHandler = nullptr;
    win::UINT FMsgRelease = 0;
    bool FDisposed = false;
};
