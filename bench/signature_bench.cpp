// Taking an upgrade information file of 1 MiB: verifying its minisign
// signature (prehashed, minisign's default, and the plain legacy form) and
// reading it, beside the `minisign -V` command verifying the same file in the
// same run. Target: verification under 5 ms.
//
// Usage: signature_bench [runs (default 50)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/minisign_keys.h"
#include "upgrade/signature.h"
#include "upgrade/upgrade_info.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double MedianMs(int runs, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    quilvane_test::SigningKey key;
    if (!key.Ok()) {
        std::printf("skipped: %s\n", key.Error().c_str());
        return 0;
    }
    quilvane_test::TempFolder folder;
    // A large but plausible file: a long message and many files.
    std::string text = "#version=2.0.7\n#date=12/11/2026\n#message={";
    while (text.size() < (512u << 10))
        text += "A line of release notes that says what changed in this version. ";
    text += "}\n";
    for (int n = 1; text.size() < (1u << 20) - 200; ++n)
        text += "#url" + std::to_string(n) + "=https://downloads.example.org/quilvane/file" +
                std::to_string(n) + ".bin\n#sha256" + std::to_string(n) + "=" +
                std::string(64, 'a') + "\n#size" + std::to_string(n) + "=123456\n";
    text.resize(1u << 20, '\n');
    const std::string path = folder.Path() + "/Quilvane.inf";
    quilvane_test::WriteFile(path, text);
    std::vector<upgrade_signature::PublicKey> trusted{
        *upgrade_signature::ReadPublicKey(quilvane_test::ReadFile(key.PublicKeyFile()))};

    std::printf("upgrade information file of %zu bytes, median of %d runs:\n", text.size(), runs);
    for (const bool legacy : {false, true}) {
        if (!key.Sign(path, "Quilvane 2.0.7", legacy)) {
            std::printf("minisign -S failed\n");
            return 1;
        }
        const std::string sig = quilvane_test::ReadFile(path + ".minisig");
        bool valid = true;
        const double ms = MedianMs(runs, [&] {
            valid = valid && upgrade_signature::Verify(text, sig, trusted, "Quilvane 2.0.7") ==
                                 upgrade_signature::Verdict::Valid;
        });
        const double command = MedianMs(std::max(1, runs / 10), [&] {
            quilvane_test::RunCommand(
                {"minisign", "-V", "-q", "-p", key.PublicKeyFile(), "-m", path});
        });
        std::printf("  %-10s verify %.2f ms (%s)   minisign -V %.2f ms   target < 5 ms: %s\n",
                    legacy ? "plain Ed" : "prehashed", ms, valid ? "valid" : "NOT VALID", command,
                    valid && ms < 5 ? "met" : "MISSED");
    }
    size_t files = 0;
    const double parse = MedianMs(runs, [&] {
        const upgrade_info::Info info(text);
        files = info.Files().size();
    });
    std::printf("  reading it: %.2f ms (%zu files taken)\n", parse, files);
    return 0;
}
