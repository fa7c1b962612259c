#include "platform/product.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

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

// Made 0700 when missing, closed to others when it is ours; refused when it is
// not a folder of ours.
bool EnsurePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
                      ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return ours;
}

}  // namespace

const std::string& ProductName() {
    static const std::string name = WIN_PRODUCT_NAME;
    return name;
}

std::string ProductVariable(const std::string& what) {
    return Transformed(::toupper) + "_" + what;
}

std::string PrivateRuntimeFolder() {
    std::string dir;
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x)
        dir = std::string(x) + "/" + Transformed(::tolower);
    else
        dir = "/tmp/" + Transformed(::tolower) + "-" + std::to_string(::geteuid());
    return EnsurePrivateFolder(dir) ? dir : std::string();
}

}  // namespace win
