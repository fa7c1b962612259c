#include "ping/hidden_window.h"

#include <cxxabi.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/kernel.h"
#include "platform/user.h"

Q_LOGGING_CATEGORY(lcIcs, "quilvane.ping.ics", QtInfoMsg)

namespace {

// Guards the registration of the window class and the hidden-window count.
// Taken inside the pool's lock when both are needed.
std::mutex g_windowClassLock;
int g_hiddenWindowCount = 0;

void Trace(const std::string& line) {
    qCDebug(lcIcs).noquote() << QString::fromStdString(line);
}

std::string ClassName(const fw::TObject* object) {
    const char* mangled = typeid(*object).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? name.get() : mangled;
}

std::string Identity(const void* p) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p) & 0xFFFFFFFFu));
    return text;
}

win::LRESULT HiddenWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                              win::LPARAM lParam) {
    auto* handler = reinterpret_cast<TIcsWndHandler*>(win::GetWindowLongPtrA(hwnd, 0));
    if (!handler)
        return win::DefWindowProcA(hwnd, msg, wParam, lParam);
    fw::TMessage message{msg, wParam, lParam, 0};
    handler->RouteMessage(message);
    return message.Result;
}

}  // namespace

// --- TIcsWndHandler ----------------------------------------------------------

TIcsWndHandler::TIcsWndHandler(TIcsWndHandlerList* ownerList) : FOwnerList(ownerList) {}

TIcsWndHandler::~TIcsWndHandler() {
    DestroyHiddenWindow();
}

TIcsWndControl* TIcsWndHandler::MsgOwner(win::UINT msg) const {
    if (msg < FMsgLow || msg >= FMsgLow + WH_MAX_MSG)
        return nullptr;
    return FMsgMap[msg - FMsgLow];
}

win::UINT TIcsWndHandler::AllocateMessage(TIcsWndControl* component) {
    if (FMsgLow < win::WM_USER)
        throw EIcsException("MsgLow not defined");
    if (FMsgCount >= WH_MAX_MSG)
        throw EIcsException("No more free message");
    auto free = std::find(FMsgMap.begin(), FMsgMap.end(), nullptr);
    *free = component;
    ++FMsgCount;
    if (!FHandle)
        CreateHiddenWindow();
    return FMsgLow + static_cast<win::UINT>(free - FMsgMap.begin());
}

void TIcsWndHandler::FreeMessage(win::UINT& msg) {
    if (msg == 0)
        return;
    if (FMsgLow < win::WM_USER)
        throw EIcsException("MsgLow not defined");
    if (msg < FMsgLow || msg >= FMsgLow + WH_MAX_MSG)
        throw EIcsException("Msg value out of bound");
    if (!FMsgMap[msg - FMsgLow])
        throw EIcsException("Msg not registered");
    FMsgMap[msg - FMsgLow] = nullptr;
    --FMsgCount;
    msg = 0;
    if (FMsgCount == 0)
        DestroyHiddenWindow();
}

void TIcsWndHandler::CreateHiddenWindow() {
    if (FHandle)
        return;
    win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
    std::lock_guard classLock(g_windowClassLock);
    win::WNDCLASSA existing;
    if (!win::GetClassInfoA(instance, IcsWndControlWindowClassName, &existing)) {
        win::WNDCLASSA wc;
        wc.style = 0;
        wc.lpfnWndProc = &HiddenWindowProc;
        wc.cbClsExtra = 0;
        wc.cbWndExtra = sizeof(void*);
        wc.hInstance = instance;
        wc.lpszClassName = IcsWndControlWindowClassName;
        if (!win::RegisterClassA(&wc))
            throw EIcsException("Unable to register TIcsWndControl hidden window class. Error #" +
                                std::to_string(win::GetLastError()) + ".");
    }
    FHandle = win::CreateWindowExA(win::WS_EX_TOOLWINDOW, IcsWndControlWindowClassName, "",
                                   win::WS_POPUP, 0, 0, 0, 0, 0, nullptr, instance, nullptr);
    if (!FHandle)
        throw EIcsException("Unable to create TIcsWndControl hidden window.  Error #" +
                            std::to_string(win::GetLastError()) + ".");
    win::SetWindowLongPtrA(FHandle, 0, reinterpret_cast<win::LONG_PTR>(this));
    ++g_hiddenWindowCount;
}

void TIcsWndHandler::DestroyHiddenWindow() {
    if (!FHandle)
        return;
    FMsgMap.fill(nullptr);
    win::SetWindowLongPtrA(FHandle, 0, 0);
    win::DestroyWindow(FHandle);
    FHandle = 0;
    std::lock_guard classLock(g_windowClassLock);
    if (--g_hiddenWindowCount <= 0)
        win::UnregisterClassA(IcsWndControlWindowClassName, win::GetModuleHandleA(nullptr));
}

void TIcsWndHandler::RouteMessage(fw::TMessage& msg) {
    auto report = [this](const std::exception& E) {
        if (!OnBgException)
            return;
        bool canAbort = true;
        try {
            OnBgException(this, E, canAbort);
        } catch (...) {
            // The hook is the last stop: nothing it raises goes further.
        }
    };
    try {
        if (TIcsWndControl* component = MsgOwner(msg.Msg))
            component->WindowProc(msg);
        else
            msg.Result = win::DefWindowProcA(FHandle, msg.Msg, msg.WParam, msg.LParam);
    } catch (const std::exception& E) {
        report(E);
    } catch (...) {
        report(fw::Exception("Unknown exception"));
    }
}

// --- TIcsWndHandlerList and TIcsWndHandlerPool -------------------------------

TIcsWndHandlerList::~TIcsWndHandlerList() {
    for (TIcsWndHandler* handler : Handlers)
        delete handler;
}

TIcsWndHandlerPool::~TIcsWndHandlerPool() {
    for (TIcsWndHandlerList* list : FLists)
        delete list;
}

TIcsWndHandler* TIcsWndHandlerPool::AcquireHandler(int count, win::DWORD threadId) {
    TIcsWndHandlerList* list = nullptr;
    for (auto it = FLists.rbegin(); it != FLists.rend(); ++it) {
        if ((*it)->ThreadID == threadId) {
            list = *it;
            break;
        }
    }
    if (!list) {
        FLists.push_back(new TIcsWndHandlerList(threadId));
        list = FLists.back();
    }
    for (TIcsWndHandler* handler : list->Handlers)
        if (TIcsWndHandler::WH_MAX_MSG - handler->MsgCount() >= count)
            return handler;
    auto* handler = new TIcsWndHandler(list);
    list->Handlers.push_back(handler);
    Trace("TIcsWndHandler.Create OwnerList = " + Identity(list));
    return handler;
}

void TIcsWndHandlerPool::ReleaseHandler(TIcsWndHandler*& handler) {
    TIcsWndHandlerList* list = handler->OwnerList();
    auto it = std::find(list->Handlers.begin(), list->Handlers.end(), handler);
    if (it == list->Handlers.end())
        return;
    list->Handlers.erase(it);
    if (list->Handlers.empty()) {
        std::erase(FLists, list);
        Trace("Free OwnerList = " + Identity(list));
        delete list;
    }
    delete handler;
    handler = nullptr;
}

TIcsWndHandlerPool& GWndHandlerPool() {
    static TIcsWndHandlerPool pool;
    return pool;
}

int IcsHiddenWindowCount() {
    std::lock_guard classLock(g_windowClassLock);
    return g_hiddenWindowCount;
}

// --- TIcsWndControl ----------------------------------------------------------

TIcsWndControl::TIcsWndControl(fw::TComponent* AOwner) : fw::TComponent(AOwner) {
    Trace("Create " + ClassName(this) + " ThreadID=" + std::to_string(win::GetCurrentThreadId()));
}

TIcsWndControl::~TIcsWndControl() {
    Trace("Destroy");
    Dispose(true);
}

win::HWND TIcsWndControl::GetHandle() {
    if (!FHandle)
        AllocateWindow();
    return FHandle;
}

void TIcsWndControl::Dispose(bool Disposing) {
    Trace("Dispose " + ClassName(this) + " ThreadID=" + std::to_string(win::GetCurrentThreadId()));
    if (FDisposed)
        return;
    if (Disposing)
        Trace("Free managed resources");
    Trace("Free unmanaged resources");
    ReleaseWindow();
    FDisposed = true;
}

void TIcsWndControl::WindowProc(fw::TMessage& Msg) {
    Guarded([&] {
        if (Msg.Msg == FMsgRelease)
            WMRelease(Msg);
        else
            Msg.Result = win::DefWindowProcA(FHandle, Msg.Msg, Msg.WParam, Msg.LParam);
    });
}

void TIcsWndControl::HandleBackgroundError(const std::exception& E) {
    bool CanAbort = true;
    if (OnBackgroundError) {
        try {
            FireBackgroundError(E, CanAbort);
        } catch (...) {
            // A failing error handler must not turn one error into two.
        }
    }
    if (CanAbort) {
        try {
            AbortOperation();
        } catch (...) {
            // Same: the abort is best effort.
        }
    }
}

void TIcsWndControl::FireBackgroundError(const std::exception& E, bool& CanAbort) {
    if (OnBackgroundError)
        OnBackgroundError(this, E, CanAbort);
}

void TIcsWndControl::WMRelease(fw::TMessage&) {
    delete this;
}

void TIcsWndControl::PostRelease() {
    win::PostMessageA(FHandle, FMsgRelease, 0, 0);
}

void TIcsWndControl::AbortOperation() {}

void TIcsWndControl::AllocateWindow() {
    if (FHandle)
        return;
    FThreadId = win::GetCurrentThreadId();
    TIcsWndHandlerPool& pool = GWndHandlerPool();
    std::lock_guard lock(pool.Lock);
    if (!FWndHandler)
        FWndHandler = pool.AcquireHandler(MessageSlotCount(), FThreadId);
    FWndHandler->CreateHiddenWindow();
    FHandle = FWndHandler->Handle();
    AllocateMessageSlots();
}

void TIcsWndControl::ReleaseWindow() {
    if (!FHandle)
        return;
    TIcsWndHandlerPool& pool = GWndHandlerPool();
    std::lock_guard lock(pool.Lock);
    FreeMessageSlots();
    if (FWndHandler->MsgCount() <= 0)
        pool.ReleaseHandler(FWndHandler);
    FHandle = 0;
    FWndHandler = nullptr;
}

int TIcsWndControl::MessageSlotCount() {
    return 1;
}

void TIcsWndControl::AllocateMessageSlots() {
    FMsgRelease = FWndHandler->AllocateMessage(this);
}

void TIcsWndControl::FreeMessageSlots() {
    FWndHandler->FreeMessage(FMsgRelease);
}

void TIcsWndControl::AttachToThread() {
    if (FHandle)
        throw EIcsException("Cannot attach when not detached");
    AllocateWindow();
}

void TIcsWndControl::DetachFromThread() {
    if (win::GetCurrentThreadId() != FThreadId)
        throw EIcsException("Cannot detach from another thread");
    ReleaseWindow();
}

void TIcsWndControl::RunMessageLoop() {
    win::MSG msg;
    while (win::GetMessageA(&msg, 0, 0, 0) > 0) {
        win::TranslateMessage(&msg);
        win::DispatchMessageA(&msg);
    }
    Terminated = true;
}

bool TIcsWndControl::ProcessOneMessage() {
    win::MSG msg;
    if (!win::PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE))
        return false;
    if (msg.message == win::WM_QUIT) {
        Terminated = true;
    } else {
        win::TranslateMessage(&msg);
        win::DispatchMessageA(&msg);
    }
    return true;
}

void TIcsWndControl::ProcessPendingMessages() {
    while (ProcessOneMessage()) {
    }
}

void TIcsWndControl::PumpMessages() {
    if (MultiThreaded)
        ProcessPendingMessages();
    else
        QCoreApplication::processEvents();
}
