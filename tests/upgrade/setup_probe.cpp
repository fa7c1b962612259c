// A stand-in for a downloaded setup program, for the helper's test: it
// appends "setup <arguments>" to the file named by $QUILVANE_SETUP_LOG, stays
// running a moment (its file is busy meanwhile, as a real setup's is), and
// appends "setup done" as it ends.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    const char* log = std::getenv("QUILVANE_SETUP_LOG");
    if (!log)
        return 2;
    std::string line = "setup";
    for (int i = 1; i < argc; ++i)
        line += std::string(" ") + argv[i];
    std::ofstream(log, std::ios::app) << line << "\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::ofstream(log, std::ios::app) << "setup done\n";
    return 0;
}
