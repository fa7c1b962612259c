#pragma once
// A connection record as tests write it into a table: the configuration
// fields that the settings file stores, appended and posted in one call.

#include <string>

#include "framework/memory_data.h"

namespace quilvane_test {

struct ConnectionRecord {
    std::string host, user, password, unc, drive;
    int maxPing;
    bool operator==(const ConnectionRecord&) const = default;
};

inline void AppendRecord(fw::TRxMemoryData& table, const ConnectionRecord& r) {
    table.Append();
    table.FieldByName("HostName").SetAsString(r.host);
    table.FieldByName("UserName").SetAsString(r.user);
    table.FieldByName("Password").SetAsString(r.password);
    table.FieldByName("UNC").SetAsString(r.unc);
    table.FieldByName("Drive").SetAsString(r.drive);
    table.FieldByName("MaxPing").SetAsInteger(r.maxPing);
    table.Post();
}

}  // namespace quilvane_test
