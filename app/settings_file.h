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
// stay in clear. Each write and delete is a whole round of the store, as
// nothing is bracketed: a save of N records over M stored ones rewrites the
// file 6M + 2 + 6N times.
//
// Threads: main thread only.

#include <string>

#include "framework/memory_data.h"
#include "ini/ini_store.h"

namespace quilvane {

// "Quilvane.ini" in exeDir (with or without its trailing "/").
std::string SettingsFilePath(const std::string& exeDir);

// Creates the settings file empty when it is missing (owner-only; a failure is
// ignored), points the store at it, reads "UpGradeURL" into infoFileURL (whose
// current value is the default) and appends "DriveCount" records to the table,
// each with its five texts, MaxPing (default 5) and FalseCount 0. Reading
// raises only when an existing file cannot be read.
void LoadSettings(TzIni& ini, fw::TRxMemoryData& table, std::string& infoFileURL,
                  const std::string& exeDir);

// Removes the per-record keys of the previously stored count, writes
// "UpGradeURL" and "DriveCount", then every record in table order; leaves the
// table's cursor on the last record. A failing write or delete raises and
// stops the save there (what was written before stays in the file).
void SaveSettings(TzIni& ini, fw::TRxMemoryData& table, const std::string& infoFileURL);

}  // namespace quilvane
