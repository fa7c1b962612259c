// Window procedures bound to objects: a fixed table of ordinary functions, each
// calling the bound function of its slot.
#include <array>
#include <mutex>
#include <utility>

#include "platform/kernel.h"
#include "platform/user.h"

namespace win {
namespace {

constexpr int kProcInstances = 1024;
std::mutex g_thunkLock;  // guards the two tables below
std::array<std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>, kProcInstances> g_instanceFns;
std::array<bool, kProcInstances> g_instanceUsed{};

template <int N>
LRESULT InstanceProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return g_instanceFns[N](h, m, w, l);
}

template <int... N>
constexpr std::array<WNDPROC, sizeof...(N)> MakeInstanceTable(std::integer_sequence<int, N...>) {
    return {&InstanceProc<N>...};
}

const std::array<WNDPROC, kProcInstances> g_instanceProcs =
    MakeInstanceTable(std::make_integer_sequence<int, kProcInstances>{});

}  // namespace

WNDPROC MakeWindowProcInstance(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> fn) {
    std::lock_guard l(g_thunkLock);
    for (int i = 0; i < kProcInstances; ++i) {
        if (!g_instanceUsed[i]) {
            g_instanceUsed[i] = true;
            g_instanceFns[i] = std::move(fn);
            return g_instanceProcs[i];
        }
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

void FreeWindowProcInstance(WNDPROC proc) {
    std::lock_guard l(g_thunkLock);
    for (int i = 0; i < kProcInstances; ++i) {
        if (g_instanceProcs[i] == proc && g_instanceUsed[i]) {
            g_instanceUsed[i] = false;
            g_instanceFns[i] = nullptr;
            return;
        }
    }
}

}  // namespace win
