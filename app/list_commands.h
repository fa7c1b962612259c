#pragma once
// The connection list from the command line, for users without the window:
//
//   quilvane --list [--json]
//   quilvane --add --host H --user U --unc SHARE --drive X: [--max-ping N]
//            [--password-stdin]
//   quilvane --edit N [--host H] [--user U] [--unc SHARE] [--drive X:]
//            [--max-ping N] [--password | --password-stdin]
//   quilvane --remove N
//
// N is the record's number as --list shows it (1 for the first). The values
// follow the rules of a record that the editor follows too
// (app/record_rules.h); a value that breaks one is refused with its reason
// rather than cut, so a script never stores a host name it did not give. The password is
// read from the terminal without echo, or from standard input with
// --password-stdin; never from the command line or the environment.
//
// The file is loaded and saved by the settings loader and writer that the
// window's Ok uses, so it is byte for byte what the window writes for the
// same records, and a save is all or nothing.
//
// A running monitor: while a window instance runs on the same settings file
// (whatever its runtime folder: the guard lives beside the file), a change is
// refused (its next Ok or Exit writes its own list over the file); the user
// makes the change in the window, or quits it first. Changes of several
// commands are made one at a time under the settings lock beside the file;
// values are checked and the password asked for before that lock is taken, so
// a prompt holds up no one, and --list takes no lock at all. A headless monitor
// watches the settings file and reloads the list when it changes (see
// app/headless.h), so a change reaches it at once.
//
// Threads: main thread only; no QApplication is needed.

namespace quilvane {

// The name of the named mutex that a headless monitor holds for its life
// (win::CreateMutexA), so that a list command can say that it takes the change
// up. (A window's guard lives beside the settings file: WindowRunningGuard in
// app/settings_file.h.)
inline constexpr const char* HeadlessMonitorMutex = "QuilvaneHeadlessMonitor";

// Whether a process of this user holds the named mutex `name`, asked without
// creating it.
bool MutexHeld(const char* name);

// The command that adds a record, as the messages quote it.
inline constexpr const char* AddCommandExample =
    "quilvane --add --host HOST --user USER --unc SHARE --drive Y:";

// Whether argv holds one of the list commands (--list, --add, --edit,
// --remove); then RunListCommand serves the whole command line.
bool IsListCommand(int argc, char** argv);

// Runs the list command of argv. Exit status: 0 done; 1 the change could not
// be made (a window instance runs, the file cannot be read or written);
// 2 bad command line or bad value. On any failure the file is unchanged and
// standard error says why.
int RunListCommand(int argc, char** argv);

}  // namespace quilvane
