#include "platform/product.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/file.h"

#ifndef WIN_PRODUCT_NAME
#error "the build names the product (WIN_PRODUCT_NAME)"
#endif

namespace win {
namespace {

std::string Transformed(int (*f)(int)) {
    std::string out = ProductName();
    for (char& c : out)
        c = static_cast<char>(f(static_cast<unsigned char>(c)));
    return out;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v == '/' ? std::string(v) : std::string();
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !*name)
        return "localhost";
    std::string host = name;
    for (char& c : host) {
        if (c == '/')
            c = '_';
    }
    return host;
}

// Where the runtime area is when the session's cannot be used, in the order
// they are tried.
std::vector<std::string> FallbackRuntimeFolders() {
    std::vector<std::string> caches;
    if (const std::string cache = Env("XDG_CACHE_HOME"); !cache.empty())
        caches.push_back(cache);
    if (const std::string home = Env("HOME"); !home.empty())
        caches.push_back(home + "/.cache");
    else if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
        caches.push_back(std::string(pw->pw_dir) + "/.cache");
    std::vector<std::string> folders;
    for (const std::string& cache : caches)
        folders.push_back(cache + "/" + ProductLowerName() + "/runtime-" + HostName());
    return folders;
}

}  // namespace

const std::string& ProductName() {
    static const std::string name = WIN_PRODUCT_NAME;
    return name;
}

std::string ProductVariable(const std::string& what) {
    return Transformed(::toupper) + "_" + what;
}

std::string ProductLowerName() {
    return Transformed(::tolower);
}

std::string UserRuntimeFolder(std::string* why) {
    std::string reasons;
    if (const std::string runtime = Env("XDG_RUNTIME_DIR"); !runtime.empty()) {
        const std::string problem = PrivateFolderProblem(runtime);
        if (problem.empty())
            return runtime;
        reasons = "XDG_RUNTIME_DIR " + runtime + " " + problem;
    }
    for (const std::string& folder : FallbackRuntimeFolders()) {
        const std::string problem = PrivateFolderProblem(folder);
        if (problem.empty())
            return folder;
        reasons += (reasons.empty() ? "" : "; ") + folder + " " + problem;
    }
    if (why)
        *why = reasons.empty() ? "neither XDG_RUNTIME_DIR nor HOME is set" : reasons;
    return {};
}

std::string PrivateRuntimeFolder(std::string* why) {
    const std::string runtime = UserRuntimeFolder(why);
    if (runtime.empty())
        return {};
    const std::string folder = runtime + "/" + ProductLowerName();
    const std::string problem = PrivateFolderProblem(folder);
    if (problem.empty())
        return folder;
    if (why)
        *why = folder + " " + problem;
    return {};
}

}  // namespace win
