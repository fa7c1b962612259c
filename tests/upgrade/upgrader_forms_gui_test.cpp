// The upgrader's windows on a private Xvfb display, driven by the keyboard as
// a user would, against real servers on loopback: the question before the
// upgrade, the password dialog of a protected file (typed in, then the
// retried download completes), the progress window during a real download,
// its completed page, and cancelling a stalled download (no: it goes on; yes:
// aborted, nothing left). Screenshots are kept beside this test's binary.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <filesystem>

#include "tests/support/http_servers.h"
#include "tests/support/minisign_keys.h"
#include "tests/support/skip_or_fail.h"
#include "tests/support/xvfb_display.h"

namespace {

using quilvane_test::FaultServer;
using quilvane_test::ReadFile;
using quilvane_test::TempFolder;
using quilvane_test::WebServer;
using quilvane_test::WriteFile;

class UpgraderFormsOnXvfb : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "import"})
            if (!XvfbDisplay::HaveProgram(tool))
                QUILVANE_SKIP_OR_FAIL(std::string(tool) + " is not installed");
        if (!display_.Ok())
            QUILVANE_SKIP_OR_FAIL(display_.Error().toStdString());
        if (!web_.Ok())
            QUILVANE_SKIP_OR_FAIL(web_.Error());
        if (!key_.Ok())
            QUILVANE_SKIP_OR_FAIL(key_.Error());
        key_.TrustIn(home_.Path() + "/xdg");
        folder_ = home_.Path() + "/program dir";
        std::filesystem::create_directories(folder_);
        WriteFile(folder_ + "/Quilvane", "old program");
    }
    void TearDown() override {
        if (probe_.state() != QProcess::NotRunning) {
            probe_.kill();
            probe_.waitForFinished(5000);
        }
    }

    void Start(const QString& infoUrl, const QStringList& flags) {
        QProcessEnvironment env = display_.Environment();
        env.insert("HOME", QString::fromStdString(home_.Path()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(home_.Path() + "/config"));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(home_.Path()));
        env.insert("XDG_CONFIG_DIRS", QString::fromStdString(home_.Path() + "/xdg"));
        probe_.setProcessEnvironment(env);
        probe_.setProcessChannelMode(QProcess::MergedChannels);
        probe_.start(QUILVANE_UPGRADER_FORMS_SHOW,
                     QStringList{QString::fromStdString(folder_), infoUrl} + flags);
        ASSERT_TRUE(probe_.waitForStarted(10000)) << probe_.errorString().toStdString();
    }
    // An information file of version 1.1, signed by the trusted key.
    void Publish(const std::string& name, const std::string& info) {
        WriteFile(web_.Root() + name, info);
        ASSERT_TRUE(key_.Sign(web_.Root() + name, "Quilvane 1.1"));
    }
    static std::string Sha256(const std::string& data) {
        return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    }
    // Waits (bounded) for an output line that starts with `prefix`.
    QString WaitForLine(const QString& prefix, int ms = 20000) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (const QString& line : output_.split('\n'))
                if (line.startsWith(prefix))
                    return line;
            if (t.elapsed() > ms || probe_.state() == QProcess::NotRunning)
                return {};
            probe_.waitForReadyRead(200);
            output_ += QString::fromUtf8(probe_.readAllStandardOutput());
        }
    }
    QString Window(const QString& title) {
        const QString w = display_.FindWindow(title);
        EXPECT_FALSE(w.isEmpty()) << "no window titled " << title.toStdString();
        return w;
    }
    void Shot(const QString& window, const QString& name) {
        const QString shot = QDir(QUILVANE_TEST_OUTPUT_DIR).filePath(name);
        QFile::remove(shot);
        const auto r = display_.Run("import", {"-window", window, shot});
        EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    }
    // Focuses the window and sends each xdotool command ("key X" / "type T").
    void Keys(const QString& window, const QList<QStringList>& commands) {
        const auto focus = display_.Run("xdotool", {"windowfocus", "--sync", window});
        ASSERT_EQ(focus.exitCode, 0) << focus.output.toStdString();
        for (const QStringList& c : commands) {
            const auto r = display_.Run("xdotool", c);
            ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
        }
    }
    int Ended() {
        const bool ended = probe_.waitForFinished(15000);
        output_ += QString::fromUtf8(probe_.readAllStandardOutput());
        EXPECT_TRUE(ended) << "the program did not end: " << output_.toStdString();
        return probe_.exitCode();
    }
    std::vector<std::string> TemporaryFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder_))
            if (e.path().extension() == ".uTMP")
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    XvfbDisplay display_;
    WebServer web_;
    quilvane_test::SigningKey key_;
    TempFolder home_;
    std::string folder_;
    QProcess probe_;
    QString output_;
};

TEST_F(UpgraderFormsOnXvfb, QuestionPasswordByKeyboardAndTheCompletedPage) {
    Publish("/new.inf", "#version=1.1\n#message={Fixes}\n#url1=" + web_.Url("/private/secret.txt") +
                            "\n#sha2561=" + Sha256("the secret\n") +
                            "\n#url2=" + web_.Url("/big.bin") +
                            "\n#sha2562=" + Sha256(ReadFile(web_.Root() + "/big.bin")) + "\n");
    Start(QString::fromStdString(web_.Url("/new.inf")), {"--ask", "--password"});

    // The question (an info box titled with text 0): Enter is Yes.
    const QString question = Window("^Application update wizard$");
    ASSERT_FALSE(question.isEmpty());
    Shot(question, "upgrader_question.png");
    Keys(question, {{"key", "--clearmodifiers", "Return"}});

    // The protected file asks for a password: typed in, Enter is OK.
    const QString password = Window("^Enter password$");
    ASSERT_FALSE(password.isEmpty());
    Shot(password, "upgrader_password.png");
    Keys(password, {{"type", "quilvane"},
                    {"key", "--clearmodifiers", "Tab"},
                    {"type", "s3cret"},
                    {"key", "--clearmodifiers", "Return"}});

    // Both files arrive (the retried one with the entries); the window
    // showed the progress of the second.
    EXPECT_FALSE(WaitForLine("done secret.txt.uTMP").isEmpty()) << output_.toStdString();
    EXPECT_FALSE(WaitForLine("progress 100 bar=100 Downloading 2 of 2").isEmpty())
        << output_.toStdString();
    ASSERT_FALSE(WaitForLine("done big.bin.uTMP").isEmpty()) << output_.toStdString();
    EXPECT_EQ(ReadFile(folder_ + "/secret.txt.uTMP"), "the secret\n");

    // The completed page waits for its OK (focused): Enter closes it and the
    // upgrade ends.
    const QString wizard = Window("^Application update wizard$");
    ASSERT_FALSE(wizard.isEmpty());
    EXPECT_TRUE(WaitForLine("end", 1000).isEmpty()) << "ended before the page was closed";
    Shot(wizard, "upgrader_completed.png");
    Keys(wizard, {{"key", "--clearmodifiers", "Return"}});
    EXPECT_EQ(Ended(), 0);
    EXPECT_FALSE(WaitForLine("end").isEmpty()) << output_.toStdString();
    EXPECT_EQ(TemporaryFiles(), (std::vector<std::string>{"big.bin.uTMP", "secret.txt.uTMP"}));
}

TEST_F(UpgraderFormsOnXvfb, CancellingAskedTwiceNoGoesOnYesAborts) {
    FaultServer faults;
    if (!faults.Ok())
        QUILVANE_SKIP_OR_FAIL(faults.Error());
    Publish("/stall.inf",
            "#version=1.1\n#url=" + faults.Url("/stall") + "\n#sha256=" + Sha256("") + "\n");
    Start(QString::fromStdString(web_.Url("/stall.inf")), {});

    // 10 of 100 bytes, then the server is silent: the window shows it.
    EXPECT_FALSE(WaitForLine("progress 10 bar=10 Downloading 1 of 1").isEmpty())
        << output_.toStdString();
    const QString wizard = Window("^Application update wizard$");
    ASSERT_FALSE(wizard.isEmpty());
    Shot(wizard, "upgrader_progress.png");

    // Escape is Cancel, which asks; No leaves the download running.
    Keys(wizard, {{"key", "--clearmodifiers", "Escape"}});
    QString ask = Window("^Quilvane$");
    ASSERT_FALSE(ask.isEmpty());
    Shot(ask, "upgrader_cancel_question.png");
    Keys(ask, {{"key", "--clearmodifiers", "alt+n"}});
    EXPECT_TRUE(WaitForLine("aborted", 1000).isEmpty());
    EXPECT_EQ(probe_.state(), QProcess::Running);
    EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{"stall.uTMP"});

    // Asked again, Yes aborts: the window goes and the file with it.
    Keys(wizard, {{"key", "--clearmodifiers", "Escape"}});
    ask = Window("^Quilvane$");
    ASSERT_FALSE(ask.isEmpty());
    Keys(ask, {{"key", "--clearmodifiers", "Return"}});
    EXPECT_EQ(Ended(), 0);
    EXPECT_FALSE(WaitForLine("aborted").isEmpty()) << output_.toStdString();
    EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{});
}

}  // namespace
