#pragma once
// Writes connection records into a settings file with the program's own
// writer (app/settings_file.h), after the records already in it, the values
// enciphered as the program does.
//
// Threads: the test thread.

#include <string>
#include <vector>

#include "app/settings_file.h"
#include "ini/ini_store.h"
#include "monitor/connection_table.h"
#include "tests/support/connection_record.h"

namespace quilvane_test {

// "Quilvane.ini" in `folder`; raises as the writer does when it cannot. A
// non-empty `infoFileURL` is stored as the upgrade address.
inline void AppendSettingsRecords(const std::string& folder,
                                  const std::vector<ConnectionRecord>& records,
                                  const std::string& infoFileURL = {}) {
    TzIni ini(nullptr);
    ini.SetEncryptValues(true);
    fw::TRxMemoryData table(nullptr, quilvane::ConnectionFields());
    std::string url = quilvane::BuiltInInfoFileURL;
    quilvane::LoadSettings(ini, table, url, folder);
    if (!infoFileURL.empty())
        url = infoFileURL;
    for (const ConnectionRecord& r : records)
        AppendRecord(table, r);
    quilvane::SaveSettings(ini, table, url);
}

}  // namespace quilvane_test
