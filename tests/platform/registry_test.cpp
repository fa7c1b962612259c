// The registry on real hive files in a private configuration folder: values
// and keys, Windows answers, damaged hives, a hive the user may not write,
// two processes writing at once, and the start-up key as autostart entries.
#include "platform/registry.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/skip_or_fail.h"

using namespace win;

namespace {

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qreg-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        Dir = tmpl;
        UserConfig = Dir + "/config";
        MachineConfig = Dir + "/xdg";
        Save("XDG_CONFIG_HOME", UserConfig);
        Save("XDG_CONFIG_DIRS", MachineConfig + ":" + Dir + "/second");
    }
    void TearDown() override {
        for (const auto& [name, value] : Saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
    void Save(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    static std::string Take(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
    }
    std::string UserHive() const { return UserConfig + "/Quilvane/registry/HKEY_CURRENT_USER.reg"; }
    std::string MachineHive() const {
        return MachineConfig + "/Quilvane/registry/HKEY_LOCAL_MACHINE.reg";
    }

    // The value's data, or the error as text.
    static std::string Query(HKEY key, const char* name, DWORD* type = nullptr) {
        DWORD size = 0;
        if (LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size))
            return "error " + std::to_string(rc);
        std::string data(size, '?');
        if (LONG rc = RegQueryValueExA(key, name, nullptr, type,
                                       reinterpret_cast<BYTE*>(data.data()), &size))
            return "error " + std::to_string(rc);
        return data.substr(0, size);
    }
    static LONG SetText(HKEY key, const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    }
    static HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, disposition),
                  ERROR_SUCCESS);
        return key;
    }

    std::string Dir, UserConfig, MachineConfig;
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

TEST_F(Registry, KeysAndValuesOfEachRootWithWindowsAnswers) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE}) {
        SCOPED_TRACE(reinterpret_cast<ULONG_PTR>(root));
        HKEY missing = nullptr;
        EXPECT_EQ(RegOpenKeyExA(root, "Software\\Test", 0, KEY_READ, &missing),
                  ERROR_FILE_NOT_FOUND);
        DWORD disposition = 0;
        HKEY key = Create(root, "\\\\Software\\Test\\", &disposition);
        EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
        ASSERT_EQ(SetText(key, "Name", "Quilvane"), ERROR_SUCCESS);
        const DWORD handle = 0x12345;
        ASSERT_EQ(
            RegSetValueExA(key, "Handle", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&handle), 4),
            ERROR_SUCCESS);

        // Names without regard to case; the parent exists because its child does.
        HKEY again = nullptr;
        ASSERT_EQ(RegOpenKeyExA(root, "SOFTWARE\\test", 0, KEY_READ, &again), ERROR_SUCCESS);
        HKEY parent = nullptr;
        EXPECT_EQ(RegOpenKeyExA(root, "software", 0, KEY_READ, &parent), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
        HKEY reopened = Create(root, "Software\\TEST", &disposition);
        EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
        EXPECT_EQ(RegCloseKey(reopened), ERROR_SUCCESS);

        DWORD type = 0, size = 0;
        EXPECT_EQ(RegQueryValueExA(again, "name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, REG_SZ);
        EXPECT_EQ(size, 9u);  // with its terminating zero
        EXPECT_EQ(RegQueryValueExA(again, "NAME", nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        char small[4];
        size = sizeof small;
        EXPECT_EQ(
            RegQueryValueExA(again, "Name", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
        EXPECT_EQ(size, 9u);
        EXPECT_EQ(RegQueryValueExA(again, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(small),
                                   nullptr),
                  ERROR_INVALID_PARAMETER);
        EXPECT_EQ(Query(again, "Name"), std::string("Quilvane\0", 9));
        DWORD read = 0;
        size = sizeof read;
        EXPECT_EQ(RegQueryValueExA(again, "handle", nullptr, &type, reinterpret_cast<BYTE*>(&read),
                                   &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, REG_DWORD);
        EXPECT_EQ(read, handle);

        // A key opened for reading cannot change values.
        EXPECT_EQ(SetText(again, "Name", "x"), ERROR_ACCESS_DENIED);
        EXPECT_EQ(RegDeleteValueA(again, "Name"), ERROR_ACCESS_DENIED);

        EXPECT_EQ(RegDeleteValueA(key, "nAmE"), ERROR_SUCCESS);
        EXPECT_EQ(Query(again, "Name"), "error 2");
        EXPECT_EQ(RegDeleteValueA(key, "Name"), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(Query(again, "Missing"), "error 2");
        EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        EXPECT_EQ(Query(key, "Handle"), "error 6");
    }
    EXPECT_EQ(Mode(UserHive()), 0600u);
    EXPECT_EQ(Mode(MachineHive()), 0644u);  // every user reads the machine's values
    const std::string text = Take(UserHive());
    EXPECT_NE(text.find("[Software\\Test]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Handle\"=dword:00012345\n"), std::string::npos) << text;
    EXPECT_TRUE(std::filesystem::exists(UserConfig + "/Quilvane/registry/HKEY_CLASSES_ROOT.reg"));
}

// Whatever bytes a value holds, the hive gives them back as they were stored.
// A hive beyond MaxHiveSize is refused before it is read into memory, for
// reads and writes alike, and left as it is; one at the limit still reads.
TEST_F(Registry, AHiveBeyondTheSizeLimitIsRefusedUnread) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Name", "value"), ERROR_SUCCESS);
    RegCloseKey(key);
    // Padded to the limit with NUL bytes (a damaged line, skipped), sparse.
    ASSERT_EQ(::truncate(UserHive().c_str(), static_cast<off_t>(MaxHiveSize)), 0);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "Name"), std::string("value\0", 6));
    RegCloseKey(key);

    ASSERT_EQ(::truncate(UserHive().c_str(), static_cast<off_t>(MaxHiveSize) + 1), 0);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key),
              static_cast<LONG>(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              static_cast<LONG>(ERROR_FILE_TOO_LARGE));
    struct stat st {};
    ASSERT_EQ(::stat(UserHive().c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(MaxHiveSize) + 1);
}

TEST_F(Registry, ValuesSurviveTheTextHiveByteForByte) {
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    } cases[] = {
        {"Quotes", REG_SZ, std::string("say \"hi\" \\ back\\\0", 17)},
        {"Lines", REG_SZ, std::string("one\r\ntwo\tthree\x7f\0", 16)},
        {"Umlaut", REG_SZ,
         std::string("Gr\xc3\xbc\xc3\x9f"
                     "e\0",
                     8)},
        {"NoZero", REG_SZ, "no terminator"},
        {"Inner", REG_SZ, std::string("a\0b\0", 4)},
        {"Empty", REG_SZ, ""},
        {"", REG_SZ, std::string("default\0", 8)},
        {"Binary", REG_BINARY, std::string("\x00\xff\x10", 3)},
        {"Short", REG_DWORD, "ab"},
        {"Odd \"name\" =", REG_DWORD, std::string("\x01\x02\x03\x04", 4)},
    };
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Bytes");
    for (const Case& c : cases) {
        ASSERT_EQ(
            RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                           static_cast<DWORD>(c.data.size())),
            ERROR_SUCCESS)
            << c.name;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = 0;
        EXPECT_EQ(Query(key, c.name, &type), c.data);
        EXPECT_EQ(type, c.type);
    }
    EXPECT_EQ(Query(key, nullptr), std::string("default\0", 8));
    RegCloseKey(key);
    const std::string text = Take(UserHive());
    EXPECT_NE(text.find("\"Quotes\"=\"say \\\"hi\\\" \\\\ back\\\\\"\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos) << text;
}

// A hive damaged or mistyped by hand: every valid line still reads, and a
// write keeps every line it does not understand exactly where it was.
TEST_F(Registry, DamagedHiveReadsAsFarAsValidAndIsNeverMadeWorse) {
    const std::string damaged =
        "; my notes\r\n"
        "[Software\\A]\r\n"
        "\"Good\"=\"one\"\r\n"
        "\"Broken\"=\"no end\r\n"
        "garbage \x01\xff line\r\n"
        "\"Num\"=dword:zz\r\n"
        "\"Num\"=dword:0000000a\r\n"
        "[Software\\B\r\n"
        "\"Later\"=hex(3):01,0\r\n"
        "\"Fine\"=hex(3):01,02\r\n"
        "[Software\\C]\n"
        "\"Truncated\"=\"half";
    Put(UserHive(), damaged);
    HKEY a = nullptr, c = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, KEY_ALL_ACCESS, &a),
              ERROR_SUCCESS);
    EXPECT_EQ(Query(a, "Good"), std::string("one\0", 4));
    EXPECT_EQ(Query(a, "Broken"), "error 2");
    EXPECT_EQ(Query(a, "Num"), std::string("\x0a\0\0\0", 4));
    EXPECT_EQ(Query(a, "Fine"), "\x01\x02");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\C", 0, KEY_ALL_ACCESS, &c),
              ERROR_SUCCESS);
    EXPECT_EQ(Query(c, "Truncated"), "error 2");

    ASSERT_EQ(SetText(a, "New", "two"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(c, "Truncated", "whole"), ERROR_SUCCESS);
    const std::string text = Take(UserHive());
    for (const char* kept :
         {"; my notes\r\n", "\"Broken\"=\"no end\r\n", "garbage \x01\xff line\r\n",
          "\"Num\"=dword:zz\r\n", "[Software\\B\r\n", "\"Later\"=hex(3):01,0\r\n",
          "\"Truncated\"=\"half\n"}) {
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " lost from\n" << text;
    }
    EXPECT_EQ(Query(a, "Good"), std::string("one\0", 4));
    EXPECT_EQ(Query(a, "New"), std::string("two\0", 4));
    EXPECT_EQ(Query(a, "Fine"), "\x01\x02");
    EXPECT_EQ(Query(c, "Truncated"), std::string("whole\0", 6));
    RegCloseKey(a);
    RegCloseKey(c);
}

// The machine's hive as a user who may not write it: reads work, every write
// is ERROR_ACCESS_DENIED, and the hive stays as it was. Also a read-only hive
// file for a writer who could write the folder.
TEST_F(Registry, HiveTheCallerMayNotWriteIsReadOnly) {
    if (::geteuid() != 0)
        QUILVANE_SKIP_OR_FAIL("needs root to write the machine's hive and act as another user");
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Shared");
    ASSERT_EQ(SetText(key, "Version", "1.0"), ERROR_SUCCESS);
    HKEY run = Create(HKEY_LOCAL_MACHINE, kRun);
    ASSERT_EQ(SetText(run, "Tool", "/usr/bin/tool"), ERROR_SUCCESS);
    RegCloseKey(run);
    RegCloseKey(key);
    for (const std::string& d : {Dir, MachineConfig})
        ASSERT_EQ(::chmod(d.c_str(), 0755), 0);
    const std::string before = Take(MachineHive());

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        int failures = 0;
        auto check = [&](bool ok) { failures += ok ? 0 : 1; };
        HKEY k = nullptr;
        check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, KEY_READ, &k) ==
              ERROR_SUCCESS);
        check(Query(k, "Version") == std::string("1.0\0", 4));
        HKEY w = nullptr;
        check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, KEY_ALL_ACCESS, &w) ==
              ERROR_ACCESS_DENIED);
        check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &w, nullptr) == ERROR_ACCESS_DENIED);
        check(SetText(HKEY_LOCAL_MACHINE, "Direct", "x") == ERROR_ACCESS_DENIED);
        HKEY r = nullptr;
        check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_READ, &r) == ERROR_SUCCESS);
        check(Query(r, "Tool") == std::string("/usr/bin/tool\0", 14));
        HKEY rw = nullptr;
        check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_ALL_ACCESS, &rw) ==
              ERROR_ACCESS_DENIED);
        check(SetText(r, "Mine", "/home/x") == ERROR_ACCESS_DENIED);
        check(RegDeleteValueA(r, "Tool") == ERROR_ACCESS_DENIED);
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 100) << "cannot become nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks as nobody";
    EXPECT_EQ(Take(MachineHive()), before);
    EXPECT_TRUE(std::filesystem::exists(MachineConfig + "/autostart/Tool.desktop"));

    // A read-only hive is refused even to root, and left alone.
    HKEY user = Create(HKEY_CURRENT_USER, "Software\\Mine");
    ASSERT_EQ(SetText(user, "A", "1"), ERROR_SUCCESS);
    ASSERT_EQ(::chmod(UserHive().c_str(), 0444), 0);
    const std::string userBefore = Take(UserHive());
    EXPECT_EQ(SetText(user, "B", "2"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Take(UserHive()), userBefore);
    RegCloseKey(user);
}

// Two processes that each store their own values in one hive at the same
// time: every value of both is there afterwards.
TEST_F(Registry, TwoProcessesWritingOneHiveLoseNothing) {
    constexpr int kEach = 60;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            ::close(go[1]);
            char byte;
            if (::read(go[0], &byte, 1) != 0)  // end of file: both are ready
                ::_exit(3);
            HKEY key = nullptr;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr) != ERROR_SUCCESS)
                ::_exit(1);
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "P" + std::to_string(p) + "V" + std::to_string(i);
                if (SetText(key, name.c_str(), name) != ERROR_SUCCESS)
                    ::_exit(2);
            }
            ::_exit(0);
        }
    }
    ::close(go[0]);
    ::close(go[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, KEY_READ, &key), ERROR_SUCCESS);
    int missing = 0;
    for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < kEach; ++i) {
            const std::string name = "P" + std::to_string(p) + "V" + std::to_string(i);
            if (Query(key, name.c_str()) != name + '\0')
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
    RegCloseKey(key);
}

// The arguments a desktop launcher makes of an entry's Exec line (GLib's
// reading of the Desktop Entry quoting).
std::vector<std::string> LauncherArgs(const std::string& exec) {
    std::string unescaped;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        unescaped += exec[i];
        if (exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%')
            ++i;
    }
    gchar** argv = nullptr;
    std::vector<std::string> args;
    if (g_shell_parse_argv(unescaped.c_str(), nullptr, &argv, nullptr)) {
        for (gchar** a = argv; *a; ++a)
            args.emplace_back(*a);
        g_strfreev(argv);
    }
    return args;
}

// desktop-file-validate's verdict on an entry (a missing tool fails only in CI).
void ExpectValidEntry(const std::string& path) {
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) {
        if (quilvane_test::InCi())
            ADD_FAILURE() << "desktop-file-validate is missing";
        return;
    }
    if (std::system(("desktop-file-validate '" + path + "' >/dev/null 2>&1").c_str()) != 0) {
        std::ifstream in(path);
        ADD_FAILURE() << "desktop-file-validate rejects\n"
                      << std::string(std::istreambuf_iterator<char>(in), {});
    }
}

TEST_F(Registry, RunKeyValuesAreAutostartEntries) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::string folder =
            (root == HKEY_CURRENT_USER ? UserConfig : MachineConfig) + "/autostart/";
        HKEY run = nullptr;
        // The key exists before anything was written to it, leading backslash or not.
        ASSERT_EQ(RegOpenKeyExA(root, (std::string("\\") + kRun).c_str(), 0, KEY_ALL_ACCESS, &run),
                  ERROR_SUCCESS);
        EXPECT_EQ(Query(run, "Quilvane"), "error 2");
        const std::string command = "\"/opt/My Apps/quilvane\" /autorun";
        ASSERT_EQ(SetText(run, "Quilvane", command), ERROR_SUCCESS);
        const std::string entry = folder + "Quilvane.desktop";
        const std::string text = Take(entry);
        EXPECT_NE(text.find("\nExec=\"/opt/My Apps/quilvane\" /autorun\n"), std::string::npos)
            << text;
        EXPECT_EQ(Mode(entry), root == HKEY_CURRENT_USER ? 0600u : 0644u);
        DWORD type = 0;
        EXPECT_EQ(Query(run, "quilvane", &type), command + '\0');
        EXPECT_EQ(type, REG_SZ);
        ExpectValidEntry(entry);

        // Odd characters: still one argument each for a launcher. A program
        // name with "%" is started through env, as launchers look the name up
        // before "%%" becomes "%".
        const std::string name = "/usr/lib/odd name";  // a value named by a path
        ASSERT_EQ(SetText(run, name.c_str(), "\"/opt/a$b `c` 100%x\" \"\" \"say \\\"hi\\\"\""),
                  ERROR_SUCCESS);
        const std::string odd = folder + "%2Fusr%2Flib%2Fodd%20name.desktop";
        ASSERT_TRUE(std::filesystem::exists(odd));
        const std::string exec = Query(run, name.c_str());
        ASSERT_FALSE(exec.empty());
        EXPECT_EQ(LauncherArgs(exec.substr(0, exec.size() - 1)),
                  (std::vector<std::string>{"env", "/opt/a$b `c` 100%x", "", "say \"hi\""}));
        ExpectValidEntry(odd);
        // What no Exec line holds the same for every reader: no entry at all.
        for (const char* command : {"\"/opt/back\\slash\" /autorun", "\"/opt/bell\a\" /x",
                                    "\"/opt/latin1-\xE9\" /x", "\"/opt/50%=half\" /x"}) {
            EXPECT_EQ(SetText(run, "Refused", command), ERROR_BAD_PATHNAME) << command;
            EXPECT_FALSE(std::filesystem::exists(folder + "Refused.desktop")) << command;
        }

        // Entries written by someone else read as they are; hidden ones are absent.
        Put(folder + "other.desktop",
            "[Desktop Entry]\nName=Other\nName[de]=Andere\nExec = other --flag %U\n"
            "Type=Application\n\n[Desktop Action New]\nExec=not this\n");
        EXPECT_EQ(Query(run, "Other"), std::string("other --flag %U\0", 16));
        Put(folder + "hidden.desktop", "[Desktop Entry]\nExec=hidden\nHidden=true\n");
        EXPECT_EQ(Query(run, "hidden"), "error 2");

        EXPECT_EQ(RegDeleteValueA(run, "Quilvane"), ERROR_SUCCESS);
        EXPECT_FALSE(std::filesystem::exists(entry));
        EXPECT_EQ(RegDeleteValueA(run, "Quilvane"), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegDeleteValueA(run, "Other"), ERROR_SUCCESS);
        EXPECT_FALSE(std::filesystem::exists(folder + "other.desktop"));
        const DWORD n = 1;
        EXPECT_EQ(RegSetValueExA(run, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4),
                  ERROR_INVALID_PARAMETER);
        RegCloseKey(run);
    }
    // RunOnce: kept in the hive, never started.
    HKEY once = Create(HKEY_CURRENT_USER, (std::string(kRun) + "Once").c_str());
    ASSERT_EQ(SetText(once, "Quilvane", "x"), ERROR_SUCCESS);
    EXPECT_EQ(Query(once, "Quilvane"), std::string("x\0", 2));
    EXPECT_FALSE(std::filesystem::exists(UserConfig + "/autostart/Quilvane.desktop"));
    RegCloseKey(once);
}

}  // namespace
