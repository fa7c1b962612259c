#pragma once
// The rules a record of the list follows before it is stored, one set for
// the record editor (its Save buttons) and the list commands (--add, --edit):
//
// - HostName, UserName and UNC are not empty; UNC is the share on the server,
//   without the server (not starting with "\" or "/");
// - every text fits its field (16, 20, 20 and 50 characters, counted as
//   characters): a longer value is refused, never cut;
// - Drive is a letter "A:" to "Z:" that no other record of the list uses;
// - MaxPing is a whole number of pings from 0 to 2147483647.
//
// CheckRecord names the first rule a record breaks, in the order of the
// fields above; each front end says it with its own name of the field (the
// editor's label, the command's option), followed by the same rule text.
//
// Threads: the thread that owns the table.

#include <optional>
#include <string>

#include "framework/memory_data.h"

namespace quilvane {

enum class TRecordItem { HostName, UserName, Password, UNC, Drive, MaxPing };

// A record's values as the user gave them; MaxPing as typed (digits).
struct TRecordInput {
    std::string HostName, UserName, Password, UNC, Drive, MaxPing;
};

struct TBrokenRule {
    TRecordItem Item;
    // Follows the field's name: "must not be empty", "is too long: at most
    // 16 characters", ...
    std::string Rule;
};

// The first rule `input` breaks as record `ownRecNo` of `table` (0 for a new
// record), or nothing. Reads the table without moving its cursor.
std::optional<TBrokenRule> CheckRecord(const TRecordInput& input, const fw::TRxMemoryData& table,
                                       int ownRecNo);

// The drive letter as stored: "Y:" of "y", "Y", "y:" or "Y:"; any other text
// stays as it is (and breaks the drive rule).
std::string NormalDrive(const std::string& text);

// The editor's names of the fields (its labels, without the colon).
const char* EditorFieldName(TRecordItem item);

}  // namespace quilvane
