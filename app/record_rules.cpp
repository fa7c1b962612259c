#include "app/record_rules.h"

#include <cstdint>

#include "monitor/connection_table.h"
#include "monitor/monitor_cycle.h"
#include "platform/text.h"

namespace quilvane {

namespace {

bool IsDriveLetter(const std::string& drive) {
    return drive.size() == 2 && drive[0] >= 'A' && drive[0] <= 'Z' && drive[1] == ':';
}

std::string TextAt(const fw::TRxMemoryData& table, int recNo, const fw::TField& field) {
    const auto* text = std::get_if<std::string>(&table.ValueAt(recNo, field.Index()));
    return text ? *text : std::string();
}

}  // namespace

std::string NormalDrive(const std::string& text) {
    const bool letter =
        !text.empty() && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
    if (!letter || text.size() > 2 || (text.size() == 2 && text[1] != ':'))
        return text;
    return std::string(1, static_cast<char>(text[0] & ~0x20)) + ":";
}

const char* EditorFieldName(TRecordItem item) {
    switch (item) {
        case TRecordItem::HostName:
            return "Computer Name/IP Address";
        case TRecordItem::UserName:
            return "User Name";
        case TRecordItem::Password:
            return "Password";
        case TRecordItem::UNC:
            return "Universal Name Connection";
        case TRecordItem::Drive:
            return "Drive Map";
        case TRecordItem::MaxPing:
            return "Max Ping";
    }
    return "";
}

std::optional<TBrokenRule> CheckRecord(const TRecordInput& input, const fw::TRxMemoryData& table,
                                       int ownRecNo) {
    const TConnectionRecord r(table);
    const struct {
        TRecordItem item;
        const std::string& value;
        const fw::TField& field;
        bool required;
    } texts[] = {
        {TRecordItem::HostName, input.HostName, r.HostName.Field(), true},
        {TRecordItem::UserName, input.UserName, r.UserName.Field(), true},
        {TRecordItem::Password, input.Password, r.Password.Field(), false},
        {TRecordItem::UNC, input.UNC, r.UNC.Field(), true},
    };
    for (const auto& t : texts) {
        if (t.required && t.value.empty())
            return TBrokenRule{t.item, "must not be empty"};
        if (fw::CutToCharacters(t.value, t.field.Size()) != t.value)
            return TBrokenRule{
                t.item, "is too long: at most " + std::to_string(t.field.Size()) + " characters"};
    }
    if (input.UNC.starts_with('\\') || input.UNC.starts_with('/'))
        return TBrokenRule{TRecordItem::UNC,
                           "is the share on the server, without the server: e.g. data or "
                           "data\\reports, not \\\\server\\data"};
    if (!IsDriveLetter(input.Drive))
        return TBrokenRule{TRecordItem::Drive,
                           "'" + input.Drive + "' is not a drive letter: give A: to Z:, e.g. Y:"};
    if (!win::IsAllDigits(input.MaxPing))
        return TBrokenRule{TRecordItem::MaxPing, "'" + input.MaxPing +
                                                     "' is not a whole number of pings "
                                                     "(0 to 2147483647)"};
    if (input.MaxPing.size() > 10 || std::stoll(input.MaxPing) > INT32_MAX)
        return TBrokenRule{TRecordItem::MaxPing,
                           "'" + input.MaxPing + "' is too large (at most 2147483647)"};
    for (int n = 1; n <= table.RecordCount(); ++n) {
        if (n != ownRecNo && SameDrive(TextAt(table, n, r.Drive.Field()), input.Drive)) {
            return TBrokenRule{TRecordItem::Drive,
                               input.Drive + " is already the drive of record " +
                                   std::to_string(n) + " (" + TextAt(table, n, r.HostName.Field()) +
                                   ", " + TextAt(table, n, r.UNC.Field()) +
                                   "): give each record a letter of its own"};
        }
    }
    return std::nullopt;
}

}  // namespace quilvane
