#include "platform/module.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/product.h"

namespace win {
namespace {

struct KnownLibrary {
    const char* windowsName;
    const char* fileName;  // as the build names it
    const char* variable;  // the program's variable that names another file
};

constexpr KnownLibrary kLibraries[] = {
    {"icmp.dll", WIN_ICMP_LIBRARY_FILE, "ICMP_LIBRARY"},
    {"uxtheme.dll", WIN_UXTHEME_LIBRARY_FILE, "UXTHEME_LIBRARY"},
};

const KernelServices kServices = {&SetLastError, &GetLastError};

std::string LibraryFolder() {
    std::string exe = ExecutablePath();
    auto slash = exe.rfind('/');
    if (slash == std::string::npos)
        return "../lib/";
    return exe.substr(0, slash) + "/../lib/";
}

}  // namespace

std::string LibraryPath(LPCSTR fileName) {
    if (!fileName)
        return {};
    if (std::strchr(fileName, '/'))
        return fileName;
    for (const auto& lib : kLibraries) {
        if (::strcasecmp(fileName, lib.windowsName) != 0)
            continue;
        if (const char* path = std::getenv(ProductVariable(lib.variable).c_str()); path && *path)
            return path;
        return LibraryFolder() + lib.fileName;
    }
    return {};
}

HMODULE LoadLibraryA(LPCSTR fileName) {
    std::string path = LibraryPath(fileName);
    void* module = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (void* attach = ::dlsym(module, "WinAttachModule"))
        reinterpret_cast<PWinAttachModule>(attach)(&kServices);
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    void* proc = module && procName ? ::dlsym(module, procName) : nullptr;
    if (!proc) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(proc);
}

BOOL FreeLibrary(HMODULE module) {
    if (!module || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // namespace win
