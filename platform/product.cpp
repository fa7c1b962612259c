#include "platform/product.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

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

// Where the runtime area is when the session sets none.
std::string FallbackRuntimeFolder() {
    return "/tmp/" + ProductLowerName() + "-" + std::to_string(::geteuid());
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

std::string PrivateRuntimeFolder() {
    const char* x = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir =
        x && *x ? std::string(x) + "/" + ProductLowerName() : FallbackRuntimeFolder();
    return EnsurePrivateFolder(dir) ? dir : std::string();
}

std::string UserRuntimeFolder() {
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x) {
        struct stat st {};
        const bool there = (::stat(x, &st) == 0 && S_ISDIR(st.st_mode)) || EnsurePrivateFolder(x);
        return there ? std::string(x) : std::string();
    }
    const std::string dir = FallbackRuntimeFolder();
    return EnsurePrivateFolder(dir) ? dir : std::string();
}

}  // namespace win
