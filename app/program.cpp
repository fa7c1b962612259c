#include "app/program.h"

#include <QApplication>
#include <cstdio>

#include "app/display_check.h"
#include "app/main_form.h"
#include "framework/application.h"

namespace quilvane {

int RunProgram(int argc, char** argv) {
    if (const std::string missing = MissingDisplay(); !missing.empty()) {
        std::fprintf(stderr, "Quilvane cannot start: %s.\n", missing.c_str());
        return 2;
    }
    QApplication qt(argc, argv);
    fw::TApplication application;
    Application->Initialize();
    Application->SetTitle("Quilvane");
    Application->CreateForm(&Form1);
    Application->Run();
    return 0;
}

}  // namespace quilvane
