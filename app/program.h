#pragma once
// The program's entry behind main(): reads the options (--headless, --help; the
// parameters "/minimized", "/autorun" and "/afterupgrade" are accepted),
// checks for a display, makes the application object titled "Quilvane" with
// TForm1 as its main form, and runs the message loop until the main form
// closes. With --headless no display is needed (app/headless.h).

namespace quilvane {

// Returns the process's exit status: 0 after the main form closed, non-zero
// (with a line on stderr) when there is no display to show it on, an option
// is unknown, or the main window cannot be made (then an error box says why,
// and 1).
int RunProgram(int argc, char** argv);

}  // namespace quilvane
