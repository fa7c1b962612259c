#pragma once
// A connection record as tests write it into a table: the configuration
// fields that the settings file stores, appended and posted in one call.

#include <string>

#include "framework/memory_data.h"
#include "monitor/connection_table.h"

namespace quilvane_test {

struct ConnectionRecord {
    std::string host, user, password, unc, drive;
    int maxPing;
    bool operator==(const ConnectionRecord&) const = default;
};

inline void AppendRecord(fw::TRxMemoryData& table, const ConnectionRecord& r) {
    const quilvane::TConnectionRecord f(table);
    table.Append();
    f.HostName.Set(r.host);
    f.UserName.Set(r.user);
    f.Password.Set(r.password);
    f.UNC.Set(r.unc);
    f.Drive.Set(r.drive);
    f.MaxPing.Set(r.maxPing);
    table.Post();
}

}  // namespace quilvane_test
