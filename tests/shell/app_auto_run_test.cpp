// TacAppAutoRun over a private registry and private autostart folders
// ($XDG_CONFIG_HOME for the user, $XDG_CONFIG_DIRS for the machine).
#include "shell/app_auto_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "framework/menus.h"
#include "platform/kernel.h"
#include "platform/menu.h"
#include "platform/registry.h"
#include "tests/shell/shell_fixture.h"
#include "tests/support/skip_or_fail.h"

using namespace win;

namespace {

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The value's data, or nothing when it is absent.
std::optional<std::string> Value(HKEY root, const std::string& key, const std::string& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return std::nullopt;
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    const LONG r =
        RegQueryValueExA(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (r != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(data);
}

void SetValue(HKEY root, const std::string& key, const std::string& name, const std::string& data) {
    HKEY k = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
        ERROR_SUCCESS);
    RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(k);
}

class AutoRunTest : public shell_test::ShellTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Redirect("XDG_CONFIG_HOME", dir.filePath("user").toStdString());
        Redirect("XDG_CONFIG_DIRS", dir.filePath("machine").toStdString());
        app.SetTitle("AutoRunTest");
        ShellTest::SetUp();
        autoRun = new TacAppAutoRun(form);
        autoRun->OnAutoRunChanged = [this](fw::TObject*) { ++changes; };
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void Redirect(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    bool UserEntry() const {
        return QFile::exists(dir.filePath("user/autostart/AutoRunTest.desktop"));
    }
    bool MachineEntry() const {
        return QFile::exists(dir.filePath("machine/autostart/AutoRunTest.desktop"));
    }

    QTemporaryDir dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    TacAppAutoRun* autoRun = nullptr;
    int changes = 0;
};

TEST_F(AutoRunTest, RegistersTheQuotedExecutableAsTheUsersAutostartEntry) {
    EXPECT_FALSE(autoRun->AutoRun());
    EXPECT_FALSE(autoRun->CaptionButton()->Visible());
    EXPECT_EQ(autoRun->CaptionButton()->Hint(), "Auto-run at StartUp");
    EXPECT_EQ(autoRun->SystemMenu()->Caption(), "Auto-run at &StartUp");
    EXPECT_EQ(autoRun->SystemMenu()->Separators(), TacMenuSeparators{seBefore});
    const QImage disabled = autoRun->Glyph()->Image();
    EXPECT_FALSE(disabled.isNull());

    autoRun->SetAutoRun(true);
    EXPECT_TRUE(autoRun->AutoRun());
    EXPECT_EQ(changes, 1);
    // The entry's Exec line reads back as the command it runs.
    const auto data = Value(HKEY_CURRENT_USER, kRun, "AutoRunTest");
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(QProcess::splitCommand(QString::fromStdString(*data)),
              (QStringList{QString::fromStdString(ExecutablePath()), "/autorun"}));
    EXPECT_TRUE(UserEntry());
    EXPECT_NE(autoRun->Glyph()->Image(), disabled) << "the indicator still shows disabled";

    autoRun->SetAutoRun(false);
    EXPECT_FALSE(UserEntry());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(autoRun->Glyph()->Image(), disabled);
}

TEST_F(AutoRunTest, PresentValueIsNotRewrittenAndAnAbsentOneNotDeleted) {
    SetValue(HKEY_CURRENT_USER, kRun, "AutoRunTest", "\"/elsewhere/old\" /autorun");
    autoRun->SetAutoRun(true);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, kRun, "AutoRunTest"), "/elsewhere/old /autorun");

    // Absent: no change event, but the bound item still follows.
    autoRun->SetAutoRun(false);
    changes = 0;
    auto* item = new fw::TMenuItem(form);
    autoRun->SetMenuItem(item);
    item->SetChecked(true);
    autoRun->SetAutoRun(false);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(item->Checked());
}

TEST_F(AutoRunTest, BoundItemShowsTheStateAndItsClickToggles) {
    autoRun->SetAutoRun(true);
    auto* item = new fw::TMenuItem(form);
    int ownClicks = 0;
    item->OnClick = [&](fw::TObject*) { ++ownClicks; };
    autoRun->SetMenuItem(item);
    EXPECT_TRUE(item->Checked());
    item->Click();
    EXPECT_FALSE(item->Checked());
    EXPECT_FALSE(autoRun->AutoRun());
    item->Click();
    EXPECT_TRUE(autoRun->AutoRun());
    EXPECT_EQ(ownClicks, 0);
    // Unbound, the item has its own handler back.
    autoRun->SetMenuItem(nullptr);
    item->Click();
    EXPECT_EQ(ownClicks, 1);
}

TEST_F(AutoRunTest, RegistrationMovesWithRunForAndRunOnce) {
    autoRun->SetAutoRun(true);
    ASSERT_TRUE(UserEntry());
    autoRun->SetRunFor(rlLocalMachine);
    EXPECT_FALSE(UserEntry());
    EXPECT_TRUE(MachineEntry());
    EXPECT_EQ(Value(HKEY_CURRENT_USER, kRun, "AutoRunTest"), std::nullopt);
    EXPECT_TRUE(Value(HKEY_LOCAL_MACHINE, kRun, "AutoRunTest").has_value());

    // RunOnce: the value goes to ...\RunOnce, which starts nothing here.
    autoRun->SetRunOnce(true);
    EXPECT_FALSE(MachineEntry());
    EXPECT_EQ(autoRun->KeyPath(), std::string(kRun) + "Once");
    EXPECT_TRUE(Value(HKEY_LOCAL_MACHINE, std::string(kRun) + "Once", "AutoRunTest").has_value());
    EXPECT_TRUE(autoRun->AutoRun());
}

TEST_F(AutoRunTest, EmptyTitleNamesTheValueByTheExecutablesPath) {
    app.SetTitle("");
    autoRun->SetAutoRun(true);
    EXPECT_TRUE(Value(HKEY_CURRENT_USER, kRun, ExecutablePath()).has_value());
    autoRun->SetAutoRun(false);
    EXPECT_FALSE(Value(HKEY_CURRENT_USER, kRun, ExecutablePath()).has_value());
}

TEST_F(AutoRunTest, TwoClicksOnTheButtonToggleTwiceAndLeaveTheEntryAsItWas) {
    std::vector<bool> clicks;
    autoRun->OnButtonClick = [&](fw::TObject*, bool state) { clicks.push_back(state); };
    // The title-bar button's click, then the system-menu item's.
    const WPARAM id = autoRun->ButtonId();
    autoRun->CaptionButton()->SetVisible(true);
    form->Perform(WM_NCLBUTTONDOWN, id, 0);
    form->Perform(WM_NCLBUTTONUP, id, 0);
    EXPECT_TRUE(UserEntry());
    form->Perform(WM_SYSCOMMAND, id, 0);
    EXPECT_EQ(clicks, (std::vector<bool>{true, false}));
    EXPECT_FALSE(UserEntry());
}

TEST_F(AutoRunTest, SystemMenuItemIsCheckedByTheStateAlsoWhenInsertedAgain) {
    autoRun->SystemMenu()->SetApplyToMenu(true);
    const HMENU menu = GetSystemMenu(form->Handle(), FALSE);
    const UINT id = autoRun->ButtonId();
    auto checked = [&] { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0; };
    EXPECT_FALSE(checked());
    autoRun->SetAutoRun(true);
    EXPECT_TRUE(checked());
    form->Perform(WM_ACRESETMENUITEM, 0, 0);
    EXPECT_TRUE(checked()) << "the item inserted again lost the state";
    form->Perform(WM_SYSCOMMAND, id, 0);
    EXPECT_FALSE(checked());
    EXPECT_FALSE(autoRun->AutoRun());
}

TEST_F(AutoRunTest, LogonNoticeValuesFollowEnabled) {
    const std::string key = TacAutoRunLogonNotice::KeyPath();
    // The key is opened, never created: nothing is written without it.
    autoRun->LogonNotice()->SetEnabled(true);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, key, "LegalNoticeCaption"), std::nullopt);
    SetValue(HKEY_LOCAL_MACHINE, key, "Other", "x");
    autoRun->LogonNotice()->SetCaption("Notice");
    autoRun->LogonNotice()->SetText("Be kind");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, key, "LegalNoticeCaption"), "Notice");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, key, "LegalNoticeText"), "Be kind");
    autoRun->LogonNotice()->SetEnabled(false);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, key, "LegalNoticeCaption"), std::nullopt);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, key, "LegalNoticeText"), std::nullopt);
}

// The entry of a program whose path holds blanks is valid, and the desktop's
// login start (systemd's autostart generator) runs it with "/autorun".
TEST(AutoRunEntry, ProgramInAFolderWithBlanksIsStartedAtLogin) {
    const char* generator = "/lib/systemd/user-generators/systemd-xdg-autostart-generator";
    if (!QFile::exists(generator))
        QUILVANE_SKIP_OR_FAIL("systemd's autostart generator is not installed");
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        QUILVANE_SKIP_OR_FAIL("desktop-file-validate is not installed");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("Program Files/instance driver");
    QDir().mkpath(dir.filePath("Program Files"));
    ASSERT_TRUE(QFile::copy(INSTANCE_DRIVER, program));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("xdg"));
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
    QDir().mkpath(dir.filePath("run"));
    QFile::setPermissions(dir.filePath("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    auto run = [&](const QString& exe, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(exe, args);
        const bool done = p.waitForFinished(15000);
        return std::pair{done && p.exitCode() == 0,
                         QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
    };
    ASSERT_TRUE(run(program, {"Drive Monitor", "--register"}).first);
    const QString entry = dir.filePath("config/autostart/Drive%20Monitor.desktop");
    ASSERT_TRUE(QFile::exists(entry))
        << QDir(dir.filePath("config/autostart")).entryList().join(' ').toStdString();
    const auto valid = run("desktop-file-validate", {entry});
    EXPECT_TRUE(valid.first) << valid.second.toStdString();

    const QString units = dir.filePath("units");
    QDir().mkpath(units);
    const auto generated = run(generator, {units, units, units});
    ASSERT_TRUE(generated.first) << generated.second.toStdString();
    const QStringList services = QDir(units).entryList({"*.service"}, QDir::Files);
    ASSERT_EQ(services.size(), 1) << generated.second.toStdString();
    QFile unit(QDir(units).filePath(services[0]));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    QString execStart;
    for (const QString& line : QString::fromUtf8(unit.readAll()).split('\n'))
        if (line.startsWith("ExecStart="))
            execStart =
                line.mid(int(std::strlen("ExecStart="))).remove(QRegularExpression("^[:@+!-]+"));
    QStringList command = QProcess::splitCommand(execStart);
    ASSERT_GE(command.size(), 2) << execStart.toStdString();
    EXPECT_EQ(command[0], program);
    const QString exe = command.takeFirst();
    // The login start runs the program under its title: add it, as the title
    // is not part of the command.
    const auto started = run(exe, QStringList{"Drive Monitor", "--register"} + command);
    EXPECT_TRUE(started.second.contains("autorun 1")) << started.second.toStdString();
}

// The words of a systemd ExecStart= value as systemd reads them: prefixes
// dropped, words split at blanks outside quotes, C escapes, "%%" for "%".
// Nothing when the value holds what this reader does not know.
std::optional<std::vector<std::string>> SystemdCommand(std::string value) {
    value.erase(0, value.find_first_not_of(":@+!-"));
    std::vector<std::string> words;
    std::size_t i = 0;
    const auto hex = [&](std::size_t n) -> std::optional<char> {
        if (i + n > value.size())
            return std::nullopt;
        const std::string digits = value.substr(i, n);
        i += n;
        return static_cast<char>(std::stoi(digits, nullptr, 16));
    };
    while (true) {
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
            ++i;
        if (i == value.size())
            break;
        std::string word;
        char quote = 0;
        for (; i < value.size(); ++i) {
            const char c = value[i];
            if (!quote && (c == ' ' || c == '\t'))
                break;
            if (!quote && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote && c == quote) {
                quote = 0;
            } else if (c == '\\' && i + 1 < value.size()) {
                const char e = value[++i];
                static const std::string from = "abfnrtvs\\\"'", to = "\a\b\f\n\r\t\v \\\"'";
                if (const auto k = from.find(e); k != std::string::npos) {
                    word += to[k];
                } else if (e == 'x') {
                    ++i;
                    const auto h = hex(2);
                    if (!h)
                        return std::nullopt;
                    word += *h;
                    --i;
                } else {
                    return std::nullopt;
                }
            } else if (c == '%') {
                if (i + 1 >= value.size() || value[i + 1] != '%')
                    return std::nullopt;
                word += '%';
                ++i;
            } else {
                word += c;
            }
        }
        if (quote)
            return std::nullopt;
        words.push_back(word);
    }
    return words;
}

struct ExecPathCase {
    const char* name;
    std::string folder;  // holds the program
    // systemd 252's generator keeps the backslash of \` and \$ in the unit
    // it writes, which systemd then refuses to start.
    bool systemdRefuses = false;
};

void PrintTo(const ExecPathCase& c, std::ostream* os) {
    *os << c.name;
}

class AutoRunExecLine : public ::testing::TestWithParam<ExecPathCase> {};

// The program registers itself from a folder whose name holds characters that
// the Exec line must quote or escape; then the folder's program is replaced by
// a script that records the arguments it is started with, and GLib (gio
// launch) and systemd's generator must each start exactly that program with
// "/autorun" (or, for systemd, refuse the entry), never another.
TEST_P(AutoRunExecLine, GlibAndSystemdStartExactlyTheProgramWithAutorun) {
    const ExecPathCase& c = GetParam();
    const char* generator = "/lib/systemd/user-generators/systemd-xdg-autostart-generator";
    if (!QFile::exists(generator))
        QUILVANE_SKIP_OR_FAIL("systemd's autostart generator is not installed");
    if (std::system("command -v gio >/dev/null 2>&1") != 0)
        QUILVANE_SKIP_OR_FAIL("gio (libglib2.0-bin) is not installed");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/" + c.folder;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    const std::string program = folder + "/driver";
    ASSERT_TRUE(QFile::copy(INSTANCE_DRIVER, QString::fromStdString(program)));
    const std::string record = dir.filePath("argv").toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("xdg"));
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
    env.insert("ARGV_RECORD", QString::fromStdString(record));
    QDir().mkpath(dir.filePath("run"));
    QFile::setPermissions(dir.filePath("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const auto run = [&](const QString& exe, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(exe, args);
        const bool done = p.waitForFinished(15000);
        return std::pair{done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
                         QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
    };
    const auto registered = run(QString::fromStdString(program), {"Drive Monitor", "--register"});
    ASSERT_TRUE(registered.first) << registered.second.toStdString();
    const QString entry = dir.filePath("config/autostart/Drive%20Monitor.desktop");
    ASSERT_TRUE(QFile::exists(entry)) << registered.second.toStdString();

    // From here on the program only says how it was started.
    QFile::remove(QString::fromStdString(program));
    {
        QFile script(QString::fromStdString(program));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(
            "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"$ARGV_RECORD.tmp\" && "
            "mv \"$ARGV_RECORD.tmp\" \"$ARGV_RECORD\"\n");
    }
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    const std::vector<std::string> expected = {program, "/autorun"};
    // The arguments the program was started with (waited for, bounded).
    const auto started = [&] {
        std::vector<std::string> args;
        for (int i = 0; i < 100 && !QFile::exists(QString::fromStdString(record)); ++i)
            QThread::msleep(50);
        QFile f(QString::fromStdString(record));
        if (!f.open(QIODevice::ReadOnly))
            return args;
        const QByteArray all = f.readAll();
        for (const QByteArray& a : all.split('\0'))
            args.emplace_back(a.toStdString());
        if (!args.empty())
            args.pop_back();  // after the last NUL
        f.close();
        QFile::remove(QString::fromStdString(record));
        return args;
    };

    const auto launched = run("gio", {"launch", entry});
    ASSERT_TRUE(launched.first) << launched.second.toStdString();
    EXPECT_EQ(started(), expected) << "GLib";

    const QString units = dir.filePath("units");
    QDir().mkpath(units);
    const auto generated = run(generator, {units, units, units});
    const QStringList services = QDir(units).entryList({"*.service"}, QDir::Files);
    ASSERT_LE(services.size(), 1);
    // systemd's own reading of the unit decides whether it would start it.
    const auto verified =
        services.isEmpty()
            ? std::pair{false, generated.second}
            : run("systemd-analyze", {"verify", "--man=no", QDir(units).filePath(services[0])});
    if (c.systemdRefuses) {
        // Its generator mangles the escapes: refused, never another program.
        EXPECT_FALSE(verified.first) << verified.second.toStdString();
        return;
    }
    ASSERT_TRUE(verified.first) << verified.second.toStdString();
    QFile unit(QDir(units).filePath(services[0]));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    std::optional<std::vector<std::string>> command;
    for (const QByteArray& line : unit.readAll().split('\n')) {
        if (line.startsWith("ExecStart="))
            command = SystemdCommand(line.mid(10).toStdString());
    }
    ASSERT_TRUE(command && !command->empty());
    QStringList args;
    for (std::size_t i = 1; i < command->size(); ++i)
        args << QString::fromStdString((*command)[i]);
    ASSERT_TRUE(run(QString::fromStdString((*command)[0]), args).first);
    EXPECT_EQ(started(), expected) << "systemd";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AutoRunExecLine,
    ::testing::Values(ExecPathCase{"Blank", "Program Files"},
                      ExecPathCase{"CommandsAfterAQuote", "a\"; touch PWNED; \""},
                      ExecPathCase{"Quote", "q\"uote"}, ExecPathCase{"Backtick", "tick`id`", true},
                      ExecPathCase{"Dollar", "$HOME", true}, ExecPathCase{"Percent", "100%"},
                      ExecPathCase{"FieldCode", "a %f %u"}, ExecPathCase{"Semicolon", "a;b"},
                      ExecPathCase{"Apostrophe", "it's"}, ExecPathCase{"NewLine", "two\nlines"},
                      ExecPathCase{"TabAndReturn", "tab\there\r"}, ExecPathCase{"Equals", "a=b"}),
    [](const auto& info) { return std::string(info.param.name); });

// A path that no Exec line can hold gets no entry, and a word.
TEST(AutoRunEntry, APathThatNoEntryCanHoldIsLeftOutAndSaid) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string root = dir.path().toStdString();
    ASSERT_EQ(::mkdir((root + "/run").c_str(), 0700), 0);
    for (const std::string& name :
         {std::string("bell\a"), std::string("latin1-\xE9"), std::string("50%=half"),
          std::string("back\\slash"), std::string("x\\\"y")}) {
        const std::string folder = root + "/" + name;
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string program = folder + "/driver";
        std::filesystem::copy_file(INSTANCE_DRIVER, program);
        std::vector<std::string> env = {
            "QT_QPA_PLATFORM=offscreen",           "HOME=" + root,
            "XDG_CONFIG_HOME=" + root + "/config", "XDG_CONFIG_DIRS=" + root + "/xdg",
            "XDG_RUNTIME_DIR=" + root + "/run",    "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string title = "Drive Monitor", option = "--register";
        char* argv[] = {const_cast<char*>(program.c_str()), title.data(), option.data(), nullptr};
        int err[2];
        ASSERT_EQ(::pipe(err), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(err[1], 2);
            ::execve(program.c_str(), argv, envp.data());
            ::_exit(127);
        }
        ::close(err[1]);
        std::string said;
        char chunk[512];
        for (ssize_t n; (n = ::read(err[0], chunk, sizeof chunk)) > 0;)
            said.append(chunk, static_cast<std::size_t>(n));
        ::close(err[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_NE(said.find("cannot be written in an autostart entry"), std::string::npos) << said;
        EXPECT_FALSE(std::filesystem::exists(root + "/config/autostart/Drive%20Monitor.desktop"))
            << name;
    }
}

}  // namespace
