#pragma once
// Signing keys of a test's own, made and used with the `minisign` tool as a
// publisher would (Debian package minisign), in a private folder removed with
// the object:
//
//   SigningKey key;                               // minisign -G, no password
//   if (!key.Ok()) QUILVANE_SKIP_OR_FAIL(key.Error());
//   key.Sign(path, "Quilvane 2.0.7");             // writes path + ".minisig"
//   key.Sign(path, "Quilvane 2.0.7", /*legacy=*/true);  // the plain "Ed" form
//   key.TrustIn(configDir);   // <configDir>/Quilvane/upgrade-keys/<id>.pub
//
// Threads: one test thread.

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/http_servers.h"
#include "tests/support/test_host.h"

namespace quilvane_test {

class SigningKey {
public:
    SigningKey() {
        if (folder_.Path().empty()) {
            error_ = "cannot make a temporary folder";
            return;
        }
        if (RunCommand({"sh", "-c", "command -v minisign"}).exitCode != 0) {
            error_ = "minisign is not installed";
            return;
        }
        const CommandResult made =
            RunCommand({"minisign", "-G", "-W", "-p", PublicKeyFile(), "-s", SecretKeyFile()});
        if (made.exitCode != 0)
            error_ = "minisign -G failed: " + made.output;
    }
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    std::string PublicKeyFile() const { return folder_.Path() + "/key.pub"; }
    std::string SecretKeyFile() const { return folder_.Path() + "/key.sec"; }

    // Signs the file at path with this trusted comment into path + ".minisig"
    // (prehashed, minisign's default, or the legacy plain form); true when
    // minisign succeeded.
    bool Sign(const std::string& path, const std::string& trustedComment,
              bool legacy = false) const {
        std::vector<std::string> args{"minisign", "-S", "-W", "-s",          SecretKeyFile(),
                                      "-m",       path, "-t", trustedComment};
        if (legacy)
            args.push_back("-l");
        return RunCommand(args).exitCode == 0;
    }

    // Puts the public key where an administrator trusts a self-hosted site:
    // the "Quilvane/upgrade-keys" folder of one $XDG_CONFIG_DIRS folder.
    void TrustIn(const std::string& configDir, const std::string& name = "test.pub") const {
        const std::string keys = configDir + "/Quilvane/upgrade-keys";
        std::filesystem::create_directories(keys);
        ::chmod((configDir + "/Quilvane").c_str(), 0755);
        ::chmod(keys.c_str(), 0755);
        WriteFile(keys + "/" + name, ReadFile(PublicKeyFile()));
        ::chmod((keys + "/" + name).c_str(), 0644);
    }

private:
    TempFolder folder_;
    std::string error_;
};

}  // namespace quilvane_test
