#pragma once
// A private folder per test with helpers to put and take raw file bytes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        Dir = tmpl;
        Path = Dir + "/Quilvane.ini";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }

public:
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good());
    }
    static std::string Take(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return 0xFFFF;
        return st.st_mode & 07777;
    }

protected:
    // Names in the folder other than the settings file (left-over temporaries).
    std::string Strays() const {
        std::string out;
        for (const auto& e : std::filesystem::directory_iterator(Dir)) {
            if (e.path().filename() != "Quilvane.ini")
                out += e.path().filename().string() + " ";
        }
        return out;
    }

    std::string Dir;
    std::string Path;
};

// The enciphered form of a plain text, spelled out independently of the store.
inline std::string Enc(const std::string& plain) {
    if (plain.size() < 2)
        return plain;
    std::string out = "\xB6";
    for (char c : plain)
        out += static_cast<char>(static_cast<unsigned char>(c) ^ 0x13);
    return out;
}
