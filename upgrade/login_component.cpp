#include "upgrade/login_component.h"

#include "framework/exceptions.h"

namespace {
constexpr unsigned char kMask = 0xA7;
}

std::string TacLoginComponent::WriteLInfo() const {
    const size_t n = 1 + HTTPUsername.size() + HTTPPassword.size();
    if (n > 255)
        throw fw::EInvalidOperation("User name and password are too long");
    const auto key = static_cast<unsigned char>(n ^ kMask);
    std::string out;
    out += static_cast<char>(n);
    out += static_cast<char>(HTTPUsername.size() ^ key);
    for (char c : HTTPUsername + HTTPPassword)
        out += static_cast<char>(c ^ key);
    return out;
}

void TacLoginComponent::ReadLInfo(std::string_view Data) {
    const size_t n = Data.empty() ? 0 : static_cast<unsigned char>(Data[0]);
    if (n == 0 || Data.size() < 1 + n)
        throw fw::EInvalidOperation("Invalid login information");
    const auto key = static_cast<unsigned char>(n ^ kMask);
    std::string plain;
    for (size_t i = 1; i <= n; ++i)
        plain += static_cast<char>(Data[i] ^ key);
    const size_t l = static_cast<unsigned char>(plain[0]);
    if (l > n - 1)
        throw fw::EInvalidOperation("Invalid login information");
    HTTPUsername = plain.substr(1, l);
    HTTPPassword = plain.substr(1 + l);
}
