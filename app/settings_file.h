#pragma once
// The settings file "Quilvane.ini" in the settings folder (beside the
// executable, or the user's own: app/install_location.h): the connection list
// and the upgrade information URL, read once while the main window is created
// and written by Ok and Exit.
//
// Keys (the store matches them without regard to case; they are written
// exactly so): "UpGradeURL", "DriveCount", then per record i (0-based, decimal)
// "HostName"+i, "UserName"+i, "Password"+i, "UNC"+i, "Drive"+i, "MaxPing"+i.
// Every write asks the store to encipher, except MaxPing's, which the main
// window's store (EncryptValues on) enciphers anyway; values under two bytes
// stay in clear.
//
// A save is one replace of the file, all or nothing: its deletes and writes go
// through one batch of the store, which gives the file that the same deletes
// and writes made one by one would give, byte for byte. A value that cannot be
// stored is found before the file is touched.
//
// Threads: main thread only.

#include <chrono>
#include <functional>
#include <string>

#include "framework/memory_data.h"
#include "ini/ini_store.h"
#include "platform/file.h"

namespace quilvane {

// Where the upgrade information file is fetched from when the settings file
// names no other place ("UpGradeURL").
inline constexpr const char* BuiltInInfoFileURL =
    "https://quilvane.example.net/download/Quilvane/Quilvane.inf";

// Sets a store up as the main window's zIni1: no window placement, the file
// name set by the program, every value enciphered. Whatever else writes the
// settings file sets its store up so, and then writes what Ok writes.
void SetUpSettingsStore(TzIni& ini);

// How long a list command or a starting window waits for another one's change
// of the settings file before it gives up with a word.
inline constexpr std::chrono::seconds SettingsLockWait{10};

// The locks that guard the settings file live beside it, so every process
// that uses the file sees them, whatever its runtime folder: "Quilvane.ini.lock"
// and "Quilvane.ini.running" (mode 0644, empty; opened without following a
// link and trusted only as a regular file of the user's or root's that no one
// else may write: platform/file.h, FileLock).
//
// SettingsChangeLock: the lock around a change of the settings file made from
// outside the window. The list commands hold it from the test for a running
// window to the save (never while they ask for a password), and a starting
// window holds it while it says that it runs, so a window either is seen, or
// loads the changed file. Waits at most SettingsLockWait; not held (Held()
// false, with the errno in Error()) when it cannot be had.
win::FileLock SettingsChangeLock(const std::string& settingsPath);

// The window's "running" guard: a shared lock held for the window's life, so
// several windows may share a file and every list command sees them.
win::FileLock WindowRunningGuard(const std::string& settingsPath);

// Whether a window holds its running guard for the settings file.
bool WindowRunning(const std::string& settingsPath);

// A sentence for a settings lock that could not be had (its errno).
std::string SettingsLockProblem(const std::string& settingsPath, int err);

// "Quilvane.ini" in exeDir (with or without its trailing "/").
std::string SettingsFilePath(const std::string& exeDir);

// The most records a load makes. A "DriveCount" above it is damaged (no list
// is that long); then the records the file holds keys for are loaded, up to
// that number.
constexpr int MaxLoadedRecords = 100000;

// The number of records a load makes of the file's entries: "DriveCount"
// (0 when absent or not a number, none when negative), or for a damaged
// count, one past the highest record index the file holds a key for.
int LoadedRecordCount(const TzIniEntries& entries);

// Creates the settings file empty when it is missing (owner-only; a failure is
// ignored), points the store at it, reads "UpGradeURL" into infoFileURL (whose
// current value is the default) and appends LoadedRecordCount records to the
// table, each with its five texts, MaxPing (default 5) and FalseCount 0. The
// file is read once, so any file loads in time and memory bounded by its size
// and MaxLoadedRecords. Reading raises only when an existing file cannot be
// read.
void LoadSettings(TzIni& ini, fw::TRxMemoryData& table, std::string& infoFileURL,
                  const std::string& exeDir);

// Removes the per-record keys of the previously stored count, writes
// "UpGradeURL" and "DriveCount", then every record in table order, as one
// replace of the file; leaves the table's cursor on the last record. A
// failure raises and leaves the file as it was.
void SaveSettings(TzIni& ini, fw::TRxMemoryData& table, const std::string& infoFileURL);

// Loads the settings file again into a running monitor's table, for a file
// that changed behind the program (the list commands, a hand edit). A record
// whose stored fields are unchanged keeps its place in the monitor's count
// (Connected, FalseCount, Maped); a record that is gone or changed has its
// drive handed to `disconnect` when the monitor had mapped it, as the record
// editor does when it deletes or saves a record, unless a record that stays
// holds that drive. Leaves the cursor on the last record and returns the record count. A
// file that cannot be read raises and leaves the table as it was.
int ReloadSettings(TzIni& ini, fw::TRxMemoryData& table, std::string& infoFileURL,
                   const std::string& exeDir,
                   const std::function<void(const std::string& drive)>& disconnect);

}  // namespace quilvane
