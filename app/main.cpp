// Quilvane keeps network shares mapped to drive letters while their servers
// answer pings.
#include "app/program.h"

int main(int argc, char** argv) {
    return quilvane::RunProgram(argc, argv);
}
