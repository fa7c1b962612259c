// Window classes, windows, their longs and extra bytes, their text, the
// default window procedure and registered messages.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>

#include "platform/kernel.h"
#include "platform/user_internal.h"

namespace win {
namespace user {
namespace {

struct WindowClass {
    WNDCLASSA wc;
    std::string name;
    ATOM atom = 0;
    int windows = 0;
};

// The process-wide tables; window procedures are never called while the lock
// is held.
std::mutex g_tablesLock;
std::unordered_map<HWND, std::shared_ptr<Window>> g_windows;
std::map<std::string, WindowClass> g_classes;  // key: instance + lower-case name
std::map<std::string, UINT> g_registeredMessages;
ATOM g_nextAtom = 0xC000;

std::shared_ptr<Window> FindWindowLocked(HWND hwnd) {
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end())
        return nullptr;
    return it->second;
}

std::string ClassKey(HINSTANCE instance, LPCSTR name) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p|", instance);
    return buf + Lower(name);
}

WindowClass* FindClassLocked(HINSTANCE instance, LPCSTR name) {
    auto it = g_classes.find(ClassKey(instance, name));
    if (it != g_classes.end())
        return &it->second;
    // A class of another instance serves too, as the system's global classes do.
    std::string lower = Lower(name);
    for (auto& [key, cls] : g_classes)
        if (Lower(cls.name.c_str()) == lower)
            return &cls;
    return nullptr;
}

void ForgetWindowLocked(std::unordered_map<HWND, std::shared_ptr<Window>>::iterator it) {
    auto cls = g_classes.find(it->second->classKey);
    if (cls != g_classes.end())
        --cls->second.windows;
    g_windows.erase(it);
}

// One attribute of a window as a long.
struct Attribute {
    LONG_PTR (*get)(const Window&);
    void (*set)(Window&, LONG_PTR);
    bool fitsLong;  // false: a pointer that the 32-bit calls cannot hold
};

const Attribute* FindAttribute(int index) {
    static const std::map<int, Attribute> attributes = {
        {GWLP_WNDPROC,
         {[](const Window& w) { return reinterpret_cast<LONG_PTR>(w.proc); },
          [](Window& w, LONG_PTR v) { w.proc = reinterpret_cast<WNDPROC>(v); }, false}},
        {GWLP_HINSTANCE,
         {[](const Window& w) { return reinterpret_cast<LONG_PTR>(w.instance); },
          [](Window& w, LONG_PTR v) { w.instance = reinterpret_cast<HINSTANCE>(v); }, false}},
        {GWLP_HWNDPARENT,
         {[](const Window& w) { return static_cast<LONG_PTR>(w.parent); },
          [](Window& w, LONG_PTR v) { w.parent = static_cast<HWND>(v); }, false}},
        {GWLP_ID,
         {[](const Window& w) { return w.id; }, [](Window& w, LONG_PTR v) { w.id = v; }, true}},
        {GWL_STYLE,
         {[](const Window& w) { return static_cast<LONG_PTR>(static_cast<LONG>(w.style)); },
          [](Window& w, LONG_PTR v) { w.style = static_cast<DWORD>(v); }, true}},
        {GWL_EXSTYLE,
         {[](const Window& w) { return static_cast<LONG_PTR>(static_cast<LONG>(w.exStyle)); },
          [](Window& w, LONG_PTR v) { w.exStyle = static_cast<DWORD>(v); }, true}},
        {GWLP_USERDATA,
         {[](const Window& w) { return w.userData; }, [](Window& w, LONG_PTR v) { w.userData = v; },
          true}},
    };
    auto it = attributes.find(index);
    return it == attributes.end() ? nullptr : &it->second;
}

template <typename T>
LONG_PTR ExchangeExtra(BYTE* at, const std::optional<LONG_PTR>& value) {
    T old;
    std::memcpy(&old, at, sizeof old);
    if (value) {
        const T v = static_cast<T>(*value);
        std::memcpy(at, &v, sizeof v);
    }
    return old;
}

// Reads the long at `index` of width `width` (a LONG or a LONG_PTR) and, with
// a value, replaces it; answers the previous value. Serves all four
// Get/SetWindowLong calls.
LONG_PTR AccessLong(HWND hwnd, int index, std::size_t width, std::optional<LONG_PTR> value) {
    const Attribute* attribute = index < 0 ? FindAttribute(index) : nullptr;
    if ((index < 0 && !attribute) || (attribute && width == sizeof(LONG) && !attribute->fitsLong)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    std::lock_guard g(g_tablesLock);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (attribute) {
        if (value && index == GWLP_WNDPROC && w->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        const LONG_PTR old = attribute->get(*w);
        if (value)
            attribute->set(*w, *value);
        return old;
    }
    if (static_cast<std::size_t>(index) + width > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    BYTE* at = w->extra.data() + index;
    return width == sizeof(LONG) ? ExchangeExtra<LONG>(at, value)
                                 : ExchangeExtra<LONG_PTR>(at, value);
}

}  // namespace

std::string Lower(LPCSTR s) {
    std::string out = s ? s : "";
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::shared_ptr<Window> FindWindow(HWND hwnd) {
    std::lock_guard g(g_tablesLock);
    return FindWindowLocked(hwnd);
}

std::shared_ptr<ThreadQueue> QueueOfLiveWindow(HWND hwnd) {
    std::lock_guard g(g_tablesLock);
    auto w = FindWindowLocked(hwnd);
    return w && !w->destroying ? w->queue.lock() : nullptr;
}

std::vector<std::pair<HWND, std::shared_ptr<ThreadQueue>>> LiveTopLevelWindows() {
    std::vector<std::pair<HWND, std::shared_ptr<ThreadQueue>>> out;
    std::lock_guard g(g_tablesLock);
    for (const auto& [h, w] : g_windows)
        if (w->parent == 0 && !(w->style & WS_CHILD) && !w->destroying)
            if (auto q = w->queue.lock())
                out.emplace_back(h, std::move(q));
    return out;
}

LRESULT CallProc(const Window& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc;
    {
        std::lock_guard g(g_tablesLock);
        proc = w.proc;
    }
    return proc ? proc(w.handle, msg, wParam, lParam)
                : DefWindowProcA(w.handle, msg, wParam, lParam);
}

void ForgetThreadWindows(DWORD threadId) {
    std::lock_guard g(g_tablesLock);
    for (auto it = g_windows.begin(); it != g_windows.end();) {
        auto next = std::next(it);
        if (it->second->threadId == threadId)
            ForgetWindowLocked(it);
        it = next;
    }
}

}  // namespace user

using namespace user;

// --- Classes ---------------------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !*wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard g(g_tablesLock);
    std::string key = ClassKey(wc->hInstance, wc->lpszClassName);
    if (g_classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass cls;
    cls.wc = *wc;
    cls.name = wc->lpszClassName;
    cls.wc.lpszClassName = nullptr;
    cls.wc.lpszMenuName = nullptr;
    cls.atom = g_nextAtom++;
    if (g_nextAtom == 0)
        g_nextAtom = 0xC000;
    ATOM atom = cls.atom;
    g_classes.emplace(key, std::move(cls));
    return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    std::lock_guard g(g_tablesLock);
    auto it = g_classes.find(ClassKey(instance, className));
    if (it == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (it->second.windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    g_classes.erase(it);
    return TRUE;
}

BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* wc) {
    std::lock_guard g(g_tablesLock);
    auto it = g_classes.find(ClassKey(instance, className));
    if (it == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (wc) {
        *wc = it->second.wc;
        wc->lpszClassName = className;
    }
    return TRUE;
}

UINT RegisterWindowMessageA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard g(g_tablesLock);
    std::string key = Lower(name);
    auto it = g_registeredMessages.find(key);
    if (it != g_registeredMessages.end())
        return it->second;
    UINT n = 0xC000 + static_cast<UINT>(g_registeredMessages.size());
    if (n > 0xFFFF)
        return 0;
    g_registeredMessages.emplace(key, n);
    return n;
}

// --- Windows ---------------------------------------------------------------

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    auto queue = CurrentQueueWithPump();
    auto w = std::make_shared<Window>();
    w->handle = NewHandle();
    if (!w->handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ListenToOtherProcesses();
    {
        std::lock_guard g(g_tablesLock);
        WindowClass* cls = className ? FindClassLocked(instance, className) : nullptr;
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return 0;
        }
        w->threadId = queue->threadId;
        w->queue = queue;
        w->classKey = ClassKey(cls->wc.hInstance, cls->name.c_str());
        w->proc = cls->wc.lpfnWndProc;
        w->extra.assign(static_cast<size_t>(std::max(0, cls->wc.cbWndExtra)), 0);
        w->style = style;
        w->exStyle = exStyle;
        w->instance = instance;
        w->parent = parent;
        w->text = windowName ? windowName : "";
        ++cls->windows;
        g_windows[w->handle] = w;
    }
    CREATESTRUCTA cs{.lpCreateParams = param,
                     .hInstance = instance,
                     .hMenu = menu,
                     .hwndParent = parent,
                     .cy = height,
                     .cx = width,
                     .y = y,
                     .x = x,
                     .style = static_cast<LONG>(style),
                     .lpszName = windowName,
                     .lpszClass = className,
                     .dwExStyle = exStyle};
    const LPARAM lp = reinterpret_cast<LPARAM>(&cs);
    if (!CallProc(*w, WM_NCCREATE, 0, lp) || CallProc(*w, WM_CREATE, 0, lp) == -1) {
        DestroyWindow(w->handle);
        return 0;
    }
    return w->handle;
}

BOOL DestroyWindow(HWND hwnd) {
    auto w = FindWindow(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    {
        std::lock_guard g(g_tablesLock);
        if (w->destroying)
            return TRUE;
        w->destroying = true;
    }
    CallProc(*w, WM_DESTROY, 0, 0);
    CallProc(*w, WM_NCDESTROY, 0, 0);
    if (auto q = w->queue.lock()) {
        std::lock_guard l(q->lock);
        ForgetTimersLocked(q.get(), hwnd);
        std::erase_if(q->posted, [hwnd](const Posted& p) { return p.msg.hwnd == hwnd; });
    }
    std::lock_guard g(g_tablesLock);
    auto it = g_windows.find(hwnd);
    if (it != g_windows.end())
        ForgetWindowLocked(it);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    {
        std::lock_guard g(g_tablesLock);
        if (auto w = FindWindowLocked(hwnd))
            return w->destroying ? FALSE : TRUE;
    }
    return ThreadOfOtherProcessWindow(hwnd, nullptr) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    auto w = FindWindow(hwnd);
    if (!w)
        return ThreadOfOtherProcessWindow(hwnd, processId);
    if (processId)
        *processId = GetCurrentProcessId();
    return w->threadId;
}

// --- Longs and extra bytes -------------------------------------------------

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    return AccessLong(hwnd, index, sizeof(LONG_PTR), std::nullopt);
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    return AccessLong(hwnd, index, sizeof(LONG_PTR), value);
}

LONG GetWindowLongA(HWND hwnd, int index) {
    return static_cast<LONG>(AccessLong(hwnd, index, sizeof(LONG), std::nullopt));
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
    return static_cast<LONG>(AccessLong(hwnd, index, sizeof(LONG), value));
}

// --- Text and default processing -------------------------------------------

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return static_cast<BOOL>(
        SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")));
}

std::string GetWindowTextString(HWND hwnd) {
    std::lock_guard g(g_tablesLock);
    auto w = FindWindowLocked(hwnd);
    return w ? w->text : std::string();
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    if (!buffer || size <= 0)
        return 0;
    std::string t = GetWindowTextString(hwnd);
    size_t n = std::min(t.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, t.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!proc)
        return 0;
    return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_SETTEXT: {
            std::lock_guard g(g_tablesLock);
            auto w = FindWindowLocked(hwnd);
            if (!w)
                return FALSE;
            w->text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
            return TRUE;
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(GetWindowTextString(hwnd).size());
        case WM_GETTEXT:
            return GetWindowTextA(hwnd, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE)
                SendMessageA(hwnd, WM_CLOSE, 0, 0);
            return 0;
        case WM_NCHITTEST:
            return HTCLIENT;
        case WM_NCACTIVATE:
            return TRUE;
        case WM_QUERYENDSESSION:
            return TRUE;
        default:
            return 0;
    }
}

}  // namespace win
