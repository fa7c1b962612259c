#pragma once
// The connection table's fields: what the program keeps of each share it
// watches, in the order of the table (and of the grid's field list).
//
// The field names are spelled once, here; code reaches the fields through
// TConnectionRecord, a typed view resolved once per table, so a misspelt name
// cannot get past the compiler.
//
// Threads: the thread that owns the table.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/memory_data.h"

namespace quilvane {

// The field names.
namespace field {
inline constexpr const char* ID = "ID";
inline constexpr const char* HostName = "HostName";
inline constexpr const char* Connected = "Connected";
inline constexpr const char* FalseCount = "FalseCount";
inline constexpr const char* UserName = "UserName";
inline constexpr const char* Password = "Password";
inline constexpr const char* Drive = "Drive";
inline constexpr const char* UNC = "UNC";
inline constexpr const char* Maped = "Maped";
inline constexpr const char* MaxPing = "MaxPing";
}  // namespace field

// ID, HostName, Connected, FalseCount, UserName, Password, Drive, UNC, Maped,
// MaxPing.
std::vector<fw::TFieldDef> ConnectionFields();

// One field of the table's current record (or of the record being appended or
// edited), read and written as T: std::string, std::int32_t or bool. Writing
// follows fw::TField (only while a record is being changed; texts are cut to
// the field's size).
template <typename T>
class TRecordField {
public:
    explicit TRecordField(fw::TField& field) : F(field) {}
    T Value() const;
    void Set(const T& value) const;
    const std::string& Name() const { return F.FieldName(); }
    // As the grid shows it: blank when unset, Booleans as "True"/"False".
    std::string DisplayText() const { return F.DisplayText(); }
    fw::TField& Field() const { return F; }

private:
    fw::TField& F;
};

template <>
inline std::string TRecordField<std::string>::Value() const {
    return F.AsString();
}
template <>
inline void TRecordField<std::string>::Set(const std::string& value) const {
    F.SetAsString(value);
}
template <>
inline std::int32_t TRecordField<std::int32_t>::Value() const {
    return F.AsInteger();
}
template <>
inline void TRecordField<std::int32_t>::Set(const std::int32_t& value) const {
    F.SetAsInteger(value);
}
template <>
inline bool TRecordField<bool>::Value() const {
    return F.AsBoolean();
}
template <>
inline void TRecordField<bool>::Set(const bool& value) const {
    F.SetAsBoolean(value);
}

// The record's fields of a connection table (made with ConnectionFields()),
// resolved once; they follow the table's cursor. A table without one of the
// fields raises EDatabaseError "Field 'X' not found".
struct TConnectionRecord {
    explicit TConnectionRecord(const fw::TRxMemoryData& table);

    TRecordField<std::int32_t> ID;
    TRecordField<std::string> HostName;
    TRecordField<bool> Connected;
    TRecordField<std::int32_t> FalseCount;
    TRecordField<std::string> UserName;
    TRecordField<std::string> Password;
    TRecordField<std::string> Drive;
    TRecordField<std::string> UNC;
    TRecordField<bool> Maped;
    TRecordField<std::int32_t> MaxPing;
};

}  // namespace quilvane
