#pragma once
// Detached signatures of the upgrade information file, in the format the
// `minisign` tool writes (Ed25519, key files of `minisign -G`, signatures of
// `minisign -S`, plain "Ed" and prehashed "ED" forms alike), and the public
// keys an upgrade is allowed to trust:
//   - the publisher's key built into the program (the key file named at
//     configure time, QUILVANE_UPGRADE_PUBLIC_KEY);
//   - every key file in "Quilvane/upgrade-keys/" of each folder of
//     $XDG_CONFIG_DIRS (default /etc/xdg), where an administrator puts the
//     key of a self-hosted upgrade site. A key file, and the two folders
//     above it, count only when they belong to root or to this user and
//     nobody else may write them.
//
// A signature is valid when its key is trusted, the signature covers the
// file, and the global signature covers the signature and its trusted
// comment, which must read exactly as the caller expects (the upgrader asks
// for "Quilvane <#version of the file>", so an old signed file cannot be
// replayed for another version).
//
// Pure functions of their arguments, apart from TrustedKeys(), which reads
// the folders above: any thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace upgrade_signature {

struct PublicKey {
    std::array<unsigned char, 8> id{};
    std::array<unsigned char, 32> key{};
};

// The key of a minisign public-key file (its comment line and key line), or
// of the bare key line; nothing when the text holds no such key.
std::optional<PublicKey> ReadPublicKey(std::string_view text);

// The built-in key and the administrator's keys, as described above.
std::vector<PublicKey> TrustedKeys();
// The built-in key alone (none when the program was built without one).
std::optional<PublicKey> BuiltInKey();

enum class Verdict {
    Valid,
    Malformed,     // not a signature file of the known format
    UnknownKey,    // signed by a key that is not trusted
    BadSignature,  // the file or the trusted comment does not match
    WrongComment,  // valid, but its trusted comment is not the expected one
};

// Checks `signatureFile` (the text of a ".minisig" file) over `message`.
Verdict Verify(std::string_view message, std::string_view signatureFile,
               const std::vector<PublicKey>& keys, std::string_view expectedTrustedComment);

// A short English phrase for a verdict, for the standard-error line.
const char* VerdictText(Verdict verdict);

}  // namespace upgrade_signature
