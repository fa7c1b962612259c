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
    {"wininet.dll", WIN_INET_LIBRARY_FILE, "INET_LIBRARY"},
};

const KernelServices kServices = {&SetLastError, &GetLastError};

const KnownLibrary* FindKnown(LPCSTR fileName) {
    for (const auto& lib : kLibraries) {
        if (fileName && ::strcasecmp(fileName, lib.windowsName) == 0)
            return &lib;
    }
    return nullptr;
}

}  // namespace

std::string OwnLibraryPath(const std::string& exePath, LPCSTR fileName) {
    const KnownLibrary* lib = FindKnown(fileName);
    if (!lib)
        return {};
    const auto slash = exePath.rfind('/');
    const std::string bin = slash == std::string::npos ? "." : exePath.substr(0, slash);
    // The build system names the folder, for the build tree and the install.
    return bin + "/../" WIN_PRIVATE_LIBRARY_DIR "/" + lib->fileName;
}

std::string LibraryPath(LPCSTR fileName) {
    if (!fileName)
        return {};
    if (std::strchr(fileName, '/'))
        return fileName;
    const KnownLibrary* lib = FindKnown(fileName);
    if (!lib)
        return {};
    if (const char* path = std::getenv(ProductVariable(lib->variable).c_str()); path && *path)
        return path;
    return OwnLibraryPath(ExecutablePath(), fileName);
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
