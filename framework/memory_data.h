#pragma once
// TRxMemoryData: an ordered in-memory table with one current-record cursor,
// declared by its owner as a list of fields. It has no index, key, sort,
// filter or search; records are reached by walking from the first one or by
// record number.
//
// Fields start unset (null) in a new record. An unset field reads as "" for
// text, 0 for integers and false for Booleans. A text field keeps at most its
// size in characters (UTF-8 code points): a longer value is cut when it is
// written, never inside a multi-byte character. An auto-increment field is
// numbered by the table's own counter when a new record is first posted; the
// counter starts at 1 and never goes down, so deleted numbers are not reused.
//
// Every post, delete and cursor move is announced to the attached data sources
// (framework/data_source.h) before the call returns.
//
// Threads: a table and its fields belong to one thread (the main thread in the
// program); nothing here locks.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "framework/component.h"
#include "framework/exceptions.h"

namespace fw {

class TDataSource;
class TRxMemoryData;

// The table's error, with the fixed English messages of the data-set layer.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

enum class TFieldType { ftString, ftInteger, ftBoolean, ftAutoInc };

enum class TDataSetState { dsBrowse, dsEdit, dsInsert };

// What the table tells its data sources.
enum class TDataEvent {
    deDataSetChange,  // records were added, rewritten or removed
    deDataSetScroll,  // the cursor moved
    deUpdateState,    // an append or edit began or ended
    deFieldChange,    // a field of the record being changed was written
};

struct TFieldDef {
    std::string Name;
    TFieldType DataType = TFieldType::ftString;
    int Size = 0;  // characters, for ftString only
};

// A stored value: std::monostate is the unset (null) value.
using TFieldValue = std::variant<std::monostate, std::string, std::int32_t, bool>;

// Access to one field of the table's current record (or of the record being
// appended or edited). Owned by its table.
class TField {
public:
    TField(TRxMemoryData& dataSet, int index, TFieldDef def);
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return Def.Name; }
    TFieldType DataType() const { return Def.DataType; }
    int Size() const { return Def.Size; }
    int Index() const { return FieldIndex; }
    // Width in characters that a grid column gives the field by default.
    int DisplayWidth() const;

    bool IsNull() const;
    std::string AsString() const;
    std::int32_t AsInteger() const;
    bool AsBoolean() const;
    // As a grid shows it: blank when unset, Booleans as "True"/"False".
    std::string DisplayText() const;

    // Writing is allowed only while a record is being appended or edited;
    // otherwise EDatabaseError. Text is cut to the field's size.
    void SetAsString(std::string_view value);
    void SetAsInteger(std::int32_t value);
    void SetAsBoolean(bool value);
    void Clear();

    // Converts a stored value of this field to display text.
    static std::string DisplayTextOf(const TFieldValue& value);

private:
    const TFieldValue& Current() const;
    void Store(TFieldValue value);

    TRxMemoryData& DataSet;
    int FieldIndex;
    TFieldDef Def;
};

class TRxMemoryData : public TComponent {
public:
    // The fields are fixed for the table's life, in the given order. At most
    // one field may be ftAutoInc. The table is open and empty.
    TRxMemoryData(TComponent* AOwner, const std::vector<TFieldDef>& fieldDefs);
    ~TRxMemoryData() override;

    int FieldCount() const { return static_cast<int>(FieldList.size()); }
    TField& Fields(int index) const;
    // EDatabaseError "Field 'X' not found" for an unknown name.
    TField& FieldByName(std::string_view name) const;
    TField* FindField(std::string_view name) const;

    // Cursor. Moves while a record is being changed first end the change the
    // way a data set does: a changed record is posted, an untouched one dropped.
    void First();
    void Next();
    void Prior();
    bool Eof() const { return EofFlag; }
    bool Bof() const { return BofFlag; }
    int RecordCount() const { return static_cast<int>(Records.size()); }
    bool IsEmpty() const { return Records.empty(); }
    // 0 for an empty table, else the current record's 1-based position.
    int RecNo() const;
    // 1..RecordCount makes that record current; any other value is ignored.
    void SetRecNo(int value);

    TDataSetState State() const { return DataSetState; }
    // Starts a new record after the last one, all fields unset.
    void Append();
    // Starts changing the current record; on an empty table, as Append.
    void Edit();
    // Stores the record being changed; a new one gets its auto-increment number
    // and becomes the last record. The cursor stays on the posted record.
    // EDatabaseError when no record is being changed.
    void Post();
    // Drops the change in progress, if any.
    void Cancel();
    // Removes the current record; the cursor goes to the record that followed
    // it, or to the new last record. On an empty table raises EDatabaseError
    // "Cannot perform this operation on an empty dataset". While a new record
    // is being appended, drops that record instead.
    void Delete();

    // A stored record's value, for views that show every record (a grid):
    // recNo is 1-based and must be within 1..RecordCount.
    const TFieldValue& ValueAt(int recNo, int fieldIndex) const;

    // Holds back the notices to the data sources while many records change at
    // once (a whole list loaded), so that a grid is not redrawn per record.
    // Calls nest; the last EnableControls sends one deDataSetChange and one
    // deDataSetScroll when anything was held back.
    void DisableControls() { ++ControlsDisabled; }
    void EnableControls();

    // Data sources attach themselves; see data_source.h.
    void AttachDataSource(TDataSource* source);
    void DetachDataSource(TDataSource* source);

private:
    friend class TField;
    using TRecord = std::vector<TFieldValue>;

    void CheckBrowseMode();
    void Notify(TDataEvent event);

    std::vector<std::unique_ptr<TField>> FieldList;
    std::vector<TRecord> Records;
    int Cursor = -1;  // index into Records; -1 only when empty
    bool BofFlag = true;
    bool EofFlag = true;
    TDataSetState DataSetState = TDataSetState::dsBrowse;
    TRecord Buffer;  // the record being appended or edited
    bool Modified = false;
    int AutoIncField = -1;
    std::int32_t AutoIncCounter = 1;
    std::vector<TDataSource*> DataSources;
    int ControlsDisabled = 0;
    bool NoticesHeldBack = false;
};

// Cuts UTF-8 text to at most `characters` code points, never inside a
// multi-byte sequence. A byte that does not start a valid sequence counts as
// one character.
std::string CutToCharacters(std::string_view text, int characters);

}  // namespace fw
