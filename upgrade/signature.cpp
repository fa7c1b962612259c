#include "upgrade/signature.h"

#include <dirent.h>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace upgrade_signature {
namespace {

constexpr std::string_view kUntrusted = "untrusted comment:";
constexpr std::string_view kTrusted = "trusted comment: ";
// Key files and signatures are a few lines; anything larger is not one.
constexpr size_t kMaxKeyFile = 4096;

bool Ready() {
    static const bool ready = ::sodium_init() >= 0;
    return ready;
}

// Base64 (the original alphabet, padded) of exactly `size` bytes.
bool Decode(std::string_view text, unsigned char* out, size_t size) {
    size_t length = 0;
    const char* end = nullptr;
    return ::sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, &end,
                               sodium_base64_VARIANT_ORIGINAL) == 0 &&
           end == text.data() + text.size() && length == size;
}

// The text cut into lines; a CR before the LF and a final LF are dropped.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos)
            break;
        text.remove_prefix(lf + 1);
    }
    return lines;
}

// Owned by root or by us, and writable by nobody else.
bool Trustworthy(const struct stat& st) {
    return (st.st_uid == 0 || st.st_uid == ::geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A folder that is neither a link nor writable by others.
bool TrustworthyFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && Trustworthy(st);
}

// The keys in one administrator's folder.
void ReadKeyFolder(const std::string& base, std::vector<PublicKey>& keys) {
    const std::string product = base + "/Quilvane";
    const std::string folder = product + "/upgrade-keys";
    if (!TrustworthyFolder(product) || !TrustworthyFolder(folder))
        return;
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        // Never a link, never a FIFO that would block the check.
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        std::string text;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Trustworthy(st) &&
            static_cast<size_t>(st.st_size) <= kMaxKeyFile) {
            text.resize(kMaxKeyFile);
            const ssize_t n = ::read(fd, text.data(), text.size());
            text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        }
        ::close(fd);
        if (auto key = ReadPublicKey(text))
            keys.push_back(*key);
    }
    ::closedir(dir);
}

}  // namespace

std::optional<PublicKey> ReadPublicKey(std::string_view text) {
    if (!Ready() || text.size() > kMaxKeyFile)
        return std::nullopt;
    for (std::string_view line : Lines(text)) {
        if (line.empty() || line.substr(0, kUntrusted.size()) == kUntrusted)
            continue;
        unsigned char raw[2 + 8 + 32];
        if (!Decode(line, raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd')
            return std::nullopt;
        PublicKey key;
        std::memcpy(key.id.data(), raw + 2, 8);
        std::memcpy(key.key.data(), raw + 10, 32);
        return key;
    }
    return std::nullopt;
}

std::optional<PublicKey> BuiltInKey() {
#ifdef QUILVANE_UPGRADE_KEY
    return ReadPublicKey(QUILVANE_UPGRADE_KEY);
#else
    return std::nullopt;
#endif
}

std::vector<PublicKey> TrustedKeys() {
    std::vector<PublicKey> keys;
    if (auto key = BuiltInKey())
        keys.push_back(*key);
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = dirs && *dirs ? dirs : "/etc/xdg";
    while (!list.empty()) {
        const size_t colon = list.find(':');
        const std::string_view dir = list.substr(0, colon);
        // Relative entries are not part of the list's meaning.
        if (!dir.empty() && dir.front() == '/')
            ReadKeyFolder(std::string(dir), keys);
        if (colon == std::string_view::npos)
            break;
        list.remove_prefix(colon + 1);
    }
    return keys;
}

Verdict Verify(std::string_view message, std::string_view signatureFile,
               const std::vector<PublicKey>& keys, std::string_view expectedTrustedComment) {
    if (!Ready() || signatureFile.size() > kMaxKeyFile)
        return Verdict::Malformed;
    const auto lines = Lines(signatureFile);
    if (lines.size() < 4 || lines[0].substr(0, kUntrusted.size()) != kUntrusted ||
        lines[2].substr(0, kTrusted.size()) != kTrusted)
        return Verdict::Malformed;
    for (size_t i = 4; i < lines.size(); ++i)
        if (!lines[i].empty())
            return Verdict::Malformed;
    unsigned char signature[2 + 8 + crypto_sign_BYTES];
    unsigned char global[crypto_sign_BYTES];
    if (!Decode(lines[1], signature, sizeof signature) || !Decode(lines[3], global, sizeof global))
        return Verdict::Malformed;
    const bool prehashed = signature[0] == 'E' && signature[1] == 'D';
    if (!prehashed && !(signature[0] == 'E' && signature[1] == 'd'))
        return Verdict::Malformed;

    const unsigned char* sig = signature + 10;
    unsigned char digest[crypto_generichash_BYTES_MAX];
    std::string_view signedPart = message;
    if (prehashed) {
        ::crypto_generichash(digest, sizeof digest,
                             reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                             nullptr, 0);
        signedPart = {reinterpret_cast<const char*>(digest), sizeof digest};
    }
    // The trusted comment is bound to this signature by the global one.
    const std::string_view comment = lines[2].substr(kTrusted.size());
    std::string globalPart(reinterpret_cast<const char*>(sig), crypto_sign_BYTES);
    globalPart.append(comment);

    bool known = false;
    for (const PublicKey& key : keys) {
        // Two keys may share an id; each is tried.
        if (std::memcmp(key.id.data(), signature + 2, 8) != 0)
            continue;
        known = true;
        if (::crypto_sign_verify_detached(sig,
                                          reinterpret_cast<const unsigned char*>(signedPart.data()),
                                          signedPart.size(), key.key.data()) == 0 &&
            ::crypto_sign_verify_detached(global,
                                          reinterpret_cast<const unsigned char*>(globalPart.data()),
                                          globalPart.size(), key.key.data()) == 0)
            return comment == expectedTrustedComment ? Verdict::Valid : Verdict::WrongComment;
    }
    return known ? Verdict::BadSignature : Verdict::UnknownKey;
}

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Valid:
            return "valid signature";
        case Verdict::Malformed:
            return "no valid signature file";
        case Verdict::UnknownKey:
            return "signed by an untrusted key";
        case Verdict::BadSignature:
            return "bad signature";
        case Verdict::WrongComment:
            return "signature of another version";
    }
    return "bad signature";
}

}  // namespace upgrade_signature
