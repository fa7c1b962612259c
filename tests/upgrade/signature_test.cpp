// Signatures made by the real minisign tool with keys of the test's own, and
// the administrator's key folders as another user would attack them.
#include "upgrade/signature.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/support/minisign_keys.h"

namespace {

using quilvane_test::ReadFile;
using quilvane_test::SigningKey;
using quilvane_test::TempFolder;
using quilvane_test::WriteFile;
using upgrade_signature::Verdict;

class Signature : public ::testing::Test {
protected:
    void SetUp() override {
        if (!key_.Ok())
            QUILVANE_SKIP_OR_FAIL(key_.Error());
        if (!other_.Ok())
            QUILVANE_SKIP_OR_FAIL(other_.Error());
        file_ = folder_.Path() + "/Quilvane.inf";
        WriteFile(file_, text_);
    }
    upgrade_signature::PublicKey Key(const SigningKey& key) const {
        auto k = upgrade_signature::ReadPublicKey(ReadFile(key.PublicKeyFile()));
        EXPECT_TRUE(k.has_value());
        return k.value_or(upgrade_signature::PublicKey{});
    }
    std::string Signed(const std::string& comment, bool legacy = false) const {
        EXPECT_TRUE(key_.Sign(file_, comment, legacy));
        return ReadFile(file_ + ".minisig");
    }

    TempFolder folder_;
    SigningKey key_, other_;
    std::string file_;
    std::string text_ =
        "#version=2.0.7\r\n#url=https://h/Quilvane\r\n#sha256=" + std::string(64, 'a') + "\r\n";
};

TEST_F(Signature, BothFormsVerifyAndEveryAlterationIsCaught) {
    const std::vector<upgrade_signature::PublicKey> keys{Key(other_), Key(key_)};
    for (const bool legacy : {false, true}) {
        SCOPED_TRACE(legacy ? "plain Ed25519" : "prehashed");
        const std::string sig = Signed("Quilvane 2.0.7", legacy);
        EXPECT_EQ(upgrade_signature::Verify(text_, sig, keys, "Quilvane 2.0.7"), Verdict::Valid);

        std::string changed = text_;
        changed[10] = '8';
        // The trusted comment is covered by the global signature.
        std::string comment = sig;
        comment.replace(comment.find("Quilvane 2.0.7"), 14, "Quilvane 2.0.8");
        std::string body = sig;
        const size_t line = body.find('\n') + 40;  // in the signature, past the key id
        body[line] = body[line] == 'A' ? 'B' : 'A';
        const struct {
            std::string message, signature;
            std::vector<upgrade_signature::PublicKey> keys;
            std::string expected;
            Verdict verdict;
        } cases[] = {
            {changed, sig, keys, "Quilvane 2.0.7", Verdict::BadSignature},
            {text_, comment, keys, "Quilvane 2.0.8", Verdict::BadSignature},
            {text_, body, keys, "Quilvane 2.0.7", Verdict::BadSignature},
            {text_, sig, keys, "Quilvane 2.0.6", Verdict::WrongComment},
            {text_, sig, {Key(other_)}, "Quilvane 2.0.7", Verdict::UnknownKey},
            {text_, sig, {}, "Quilvane 2.0.7", Verdict::UnknownKey},
            {text_, "", keys, "Quilvane 2.0.7", Verdict::Malformed},
            {text_, sig.substr(0, sig.rfind("trusted")), keys, "Quilvane 2.0.7",
             Verdict::Malformed},
            {text_, "untrusted comment: x\nnot base64\ntrusted comment: Quilvane 2.0.7\nAAAA\n",
             keys, "Quilvane 2.0.7", Verdict::Malformed},
            {text_, sig + "extra line\n", keys, "Quilvane 2.0.7", Verdict::Malformed},
        };
        for (const auto& c : cases)
            EXPECT_EQ(upgrade_signature::Verify(c.message, c.signature, c.keys, c.expected),
                      c.verdict)
                << c.signature;
    }
    // A file that is not a key.
    EXPECT_FALSE(upgrade_signature::ReadPublicKey("untrusted comment: x\nRWQ=\n").has_value());
    EXPECT_FALSE(upgrade_signature::ReadPublicKey(ReadFile(file_ + ".minisig")).has_value());
}

TEST_F(Signature, TheBuiltInKeyIsTheRepositorysOwn) {
    const auto builtIn = upgrade_signature::BuiltInKey();
    ASSERT_TRUE(builtIn.has_value());
    const auto repository = upgrade_signature::ReadPublicKey(ReadFile(
        std::string(QUILVANE_SOURCE_DIR_DEFAULT) + "/resources/upgrade/quilvane-upgrade.pub"));
    ASSERT_TRUE(repository.has_value());
    EXPECT_EQ(builtIn->key, repository->key);
    // Not a key this test can sign with.
    EXPECT_EQ(
        upgrade_signature::Verify(text_, Signed("Quilvane 2.0.7"), {*builtIn}, "Quilvane 2.0.7"),
        Verdict::UnknownKey);
}

// Keys in every $XDG_CONFIG_DIRS folder count; a key another user could have
// put or changed does not.
TEST_F(Signature, AdministratorsKeyFoldersAreTrustedOnlyWhenNobodyElseCanWriteThem) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::geteuid() != 0)
        GTEST_SKIP() << "needs root and the user nobody";
    const std::string first = folder_.Path() + "/first", second = folder_.Path() + "/second";
    std::filesystem::create_directories(first);
    key_.TrustIn(second);
    ::setenv("XDG_CONFIG_DIRS", (first + ":relative:" + second).c_str(), 1);
    struct Restore {
        ~Restore() { ::unsetenv("XDG_CONFIG_DIRS"); }
    } restore;
    const std::string sig = Signed("Quilvane 2.0.7");
    auto verdict = [&] {
        return upgrade_signature::Verify(text_, sig, upgrade_signature::TrustedKeys(),
                                         "Quilvane 2.0.7");
    };
    ASSERT_EQ(verdict(), Verdict::Valid);

    const std::string keys = second + "/Quilvane/upgrade-keys";
    const std::string pub = keys + "/test.pub";
    const struct {
        const char* name;
        std::function<void()> attack, undo;
    } attacks[] = {
        {"key file owned by nobody", [&] { ASSERT_EQ(::chown(pub.c_str(), nobody->pw_uid, 0), 0); },
         [&] { ASSERT_EQ(::chown(pub.c_str(), 0, 0), 0); }},
        {"key file writable by others", [&] { ::chmod(pub.c_str(), 0666); },
         [&] { ::chmod(pub.c_str(), 0644); }},
        {"key folder writable by others", [&] { ::chmod(keys.c_str(), 0777); },
         [&] { ::chmod(keys.c_str(), 0755); }},
        {"product folder owned by nobody",
         [&] { ASSERT_EQ(::chown((second + "/Quilvane").c_str(), nobody->pw_uid, 0), 0); },
         [&] { ASSERT_EQ(::chown((second + "/Quilvane").c_str(), 0, 0), 0); }},
        {"key file is a link to the key",
         [&] {
             std::filesystem::rename(pub, folder_.Path() + "/moved.pub");
             std::filesystem::create_symlink(folder_.Path() + "/moved.pub", pub);
         },
         [&] {
             std::filesystem::remove(pub);
             std::filesystem::rename(folder_.Path() + "/moved.pub", pub);
         }},
    };
    for (const auto& a : attacks) {
        SCOPED_TRACE(a.name);
        a.attack();
        EXPECT_EQ(verdict(), Verdict::UnknownKey);
        a.undo();
        EXPECT_EQ(verdict(), Verdict::Valid);
    }
    // A FIFO among the keys does not hold the check up.
    ASSERT_EQ(::mkfifo((keys + "/fifo.pub").c_str(), 0644), 0);
    EXPECT_EQ(verdict(), Verdict::Valid);
}

}  // namespace
