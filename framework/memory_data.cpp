#include "framework/memory_data.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "framework/data_source.h"

namespace fw {

namespace {

// Length of the UTF-8 sequence starting at text[i], or 1 where the bytes do not
// form a valid sequence (so that broken text is still cut somewhere sane).
std::size_t SequenceLength(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (i + length > text.size())
        return 1;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 1;
    }
    return length;
}

std::string IntegerText(std::int32_t value) {
    return std::to_string(value);
}

std::int32_t ParseInteger(std::string_view text) {
    std::int32_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        throw EDatabaseError("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

bool ParseBoolean(std::string_view text) {
    auto lower = std::string(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "true" || lower == "t" || lower == "yes" || lower == "y")
        return true;
    if (lower == "false" || lower == "f" || lower == "no" || lower == "n")
        return false;
    throw EDatabaseError("'" + std::string(text) + "' is not a valid boolean value");
}

}  // namespace

std::string CutToCharacters(std::string_view text, int characters) {
    std::size_t i = 0;
    for (int n = 0; n < characters && i < text.size(); ++n)
        i += SequenceLength(text, i);
    return std::string(text.substr(0, i));
}

// ---------------------------------------------------------------- TField

TField::TField(TRxMemoryData& dataSet, int index, TFieldDef def)
    : DataSet(dataSet), FieldIndex(index), Def(std::move(def)) {}

int TField::DisplayWidth() const {
    switch (Def.DataType) {
        case TFieldType::ftString:
            return Def.Size;
        case TFieldType::ftBoolean:
            return 5;
        case TFieldType::ftInteger:
        case TFieldType::ftAutoInc:
            break;
    }
    return 10;
}

const TFieldValue& TField::Current() const {
    static const TFieldValue unset;
    if (DataSet.DataSetState != TDataSetState::dsBrowse)
        return DataSet.Buffer[FieldIndex];
    if (DataSet.Records.empty())
        return unset;
    return DataSet.Records[DataSet.Cursor][FieldIndex];
}

bool TField::IsNull() const {
    return std::holds_alternative<std::monostate>(Current());
}

std::string TField::AsString() const {
    const TFieldValue& v = Current();
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* i = std::get_if<std::int32_t>(&v))
        return IntegerText(*i);
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? "True" : "False";
    return {};
}

std::int32_t TField::AsInteger() const {
    const TFieldValue& v = Current();
    if (const auto* s = std::get_if<std::string>(&v))
        return ParseInteger(*s);
    if (const auto* i = std::get_if<std::int32_t>(&v))
        return *i;
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? 1 : 0;
    return 0;
}

bool TField::AsBoolean() const {
    const TFieldValue& v = Current();
    if (const auto* s = std::get_if<std::string>(&v)) {
        return !s->empty() && std::string_view("TtYy").find((*s)[0]) != std::string_view::npos;
    }
    if (const auto* i = std::get_if<std::int32_t>(&v))
        return *i != 0;
    if (const auto* b = std::get_if<bool>(&v))
        return *b;
    return false;
}

std::string TField::DisplayText() const {
    return DisplayTextOf(Current());
}

std::string TField::DisplayTextOf(const TFieldValue& value) {
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    if (const auto* i = std::get_if<std::int32_t>(&value))
        return IntegerText(*i);
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "True" : "False";
    return {};
}

void TField::SetAsString(std::string_view value) {
    switch (Def.DataType) {
        case TFieldType::ftString:
            Store(CutToCharacters(value, Def.Size));
            return;
        case TFieldType::ftInteger:
        case TFieldType::ftAutoInc:
            Store(ParseInteger(value));
            return;
        case TFieldType::ftBoolean:
            Store(ParseBoolean(value));
            return;
    }
}

void TField::SetAsInteger(std::int32_t value) {
    if (Def.DataType == TFieldType::ftString) {
        Store(CutToCharacters(IntegerText(value), Def.Size));
    } else if (Def.DataType == TFieldType::ftBoolean) {
        Store(value != 0);
    } else {
        Store(value);
    }
}

void TField::SetAsBoolean(bool value) {
    if (Def.DataType == TFieldType::ftString) {
        Store(CutToCharacters(value ? "True" : "False", Def.Size));
    } else if (Def.DataType == TFieldType::ftBoolean) {
        Store(value);
    } else {
        Store(static_cast<std::int32_t>(value ? 1 : 0));
    }
}

void TField::Clear() {
    Store(std::monostate{});
}

void TField::Store(TFieldValue value) {
    if (DataSet.DataSetState == TDataSetState::dsBrowse) {
        throw EDatabaseError("Dataset not in edit or insert mode");
    }
    if (Def.DataType == TFieldType::ftAutoInc) {
        // The table numbers its records itself.
        throw EDatabaseError("Field '" + Def.Name + "' cannot be modified");
    }
    DataSet.Buffer[FieldIndex] = std::move(value);
    DataSet.Modified = true;
    DataSet.Notify(TDataEvent::deFieldChange);
}

// ---------------------------------------------------------------- TRxMemoryData

TRxMemoryData::TRxMemoryData(TComponent* AOwner, const std::vector<TFieldDef>& fieldDefs)
    : TComponent(AOwner) {
    for (const TFieldDef& def : fieldDefs) {
        const int index = static_cast<int>(FieldList.size());
        if (def.DataType == TFieldType::ftAutoInc) {
            if (AutoIncField >= 0)
                throw EDatabaseError("Only one auto-increment field allowed");
            AutoIncField = index;
        }
        if (FindField(def.Name))
            throw EDatabaseError("Duplicate field name '" + def.Name + "'");
        FieldList.push_back(std::make_unique<TField>(*this, index, def));
    }
}

TRxMemoryData::~TRxMemoryData() {
    for (TDataSource* source : std::vector<TDataSource*>(DataSources))
        source->TableGone();
}

TField& TRxMemoryData::Fields(int index) const {
    if (index < 0 || index >= FieldCount())
        throw EDatabaseError("List index out of bounds");
    return *FieldList[index];
}

TField* TRxMemoryData::FindField(std::string_view name) const {
    for (const auto& field : FieldList) {
        const std::string& own = field->FieldName();
        // Field names compare without regard to case, as in any data set.
        if (own.size() == name.size() &&
            std::equal(own.begin(), own.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return field.get();
        }
    }
    return nullptr;
}

TField& TRxMemoryData::FieldByName(std::string_view name) const {
    if (TField* field = FindField(name))
        return *field;
    throw EDatabaseError("Field '" + std::string(name) + "' not found");
}

void TRxMemoryData::CheckBrowseMode() {
    if (DataSetState == TDataSetState::dsBrowse)
        return;
    if (Modified) {
        Post();
    } else {
        Cancel();
    }
}

void TRxMemoryData::First() {
    CheckBrowseMode();
    const int old = Cursor;
    if (!Records.empty())
        Cursor = 0;
    BofFlag = true;
    EofFlag = Records.empty();
    if (Cursor != old)
        Notify(TDataEvent::deDataSetScroll);
}

void TRxMemoryData::Next() {
    CheckBrowseMode();
    if (Cursor + 1 < RecordCount()) {
        ++Cursor;
        BofFlag = false;
        EofFlag = false;
        Notify(TDataEvent::deDataSetScroll);
    } else {
        EofFlag = true;
        if (Records.empty())
            BofFlag = true;
    }
}

void TRxMemoryData::Prior() {
    CheckBrowseMode();
    if (Cursor > 0) {
        --Cursor;
        BofFlag = false;
        EofFlag = false;
        Notify(TDataEvent::deDataSetScroll);
    } else {
        BofFlag = true;
        if (Records.empty())
            EofFlag = true;
    }
}

int TRxMemoryData::RecNo() const {
    return Records.empty() ? 0 : Cursor + 1;
}

void TRxMemoryData::SetRecNo(int value) {
    if (value < 1 || value > RecordCount())
        return;
    CheckBrowseMode();
    // Posting an appended record may have moved the cursor; the target stays valid.
    const int old = Cursor;
    Cursor = value - 1;
    BofFlag = false;
    EofFlag = false;
    if (Cursor != old)
        Notify(TDataEvent::deDataSetScroll);
}

void TRxMemoryData::Append() {
    CheckBrowseMode();
    Buffer.assign(FieldList.size(), TFieldValue{});
    Modified = false;
    DataSetState = TDataSetState::dsInsert;
    Notify(TDataEvent::deUpdateState);
}

void TRxMemoryData::Edit() {
    if (DataSetState != TDataSetState::dsBrowse)
        return;
    if (Records.empty()) {
        Append();
        return;
    }
    Buffer = Records[Cursor];
    Modified = false;
    DataSetState = TDataSetState::dsEdit;
    Notify(TDataEvent::deUpdateState);
}

void TRxMemoryData::Post() {
    if (DataSetState == TDataSetState::dsBrowse) {
        throw EDatabaseError("Dataset not in edit or insert mode");
    }
    if (DataSetState == TDataSetState::dsInsert) {
        if (AutoIncField >= 0)
            Buffer[AutoIncField] = AutoIncCounter++;
        Records.push_back(std::move(Buffer));
        Cursor = RecordCount() - 1;
    } else {
        Records[Cursor] = std::move(Buffer);
    }
    Buffer.clear();
    Modified = false;
    DataSetState = TDataSetState::dsBrowse;
    BofFlag = false;
    EofFlag = false;
    Notify(TDataEvent::deUpdateState);
    Notify(TDataEvent::deDataSetChange);
}

void TRxMemoryData::Cancel() {
    if (DataSetState == TDataSetState::dsBrowse)
        return;
    Buffer.clear();
    Modified = false;
    DataSetState = TDataSetState::dsBrowse;
    Notify(TDataEvent::deUpdateState);
}

void TRxMemoryData::Delete() {
    if (DataSetState == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (Records.empty())
        throw EDatabaseError("Cannot perform this operation on an empty dataset");
    if (DataSetState == TDataSetState::dsEdit)
        Cancel();
    Records.erase(Records.begin() + Cursor);
    if (Records.empty()) {
        Cursor = -1;
        BofFlag = true;
        EofFlag = true;
    } else {
        Cursor = std::min(Cursor, RecordCount() - 1);
        BofFlag = false;
        EofFlag = false;
    }
    Notify(TDataEvent::deDataSetChange);
}

const TFieldValue& TRxMemoryData::ValueAt(int recNo, int fieldIndex) const {
    if (recNo < 1 || recNo > RecordCount() || fieldIndex < 0 || fieldIndex >= FieldCount()) {
        throw EDatabaseError("List index out of bounds");
    }
    return Records[recNo - 1][fieldIndex];
}

void TRxMemoryData::AttachDataSource(TDataSource* source) {
    if (std::find(DataSources.begin(), DataSources.end(), source) == DataSources.end()) {
        DataSources.push_back(source);
    }
}

void TRxMemoryData::DetachDataSource(TDataSource* source) {
    std::erase(DataSources, source);
}

void TRxMemoryData::EnableControls() {
    if (ControlsDisabled > 0 && --ControlsDisabled == 0 && NoticesHeldBack) {
        NoticesHeldBack = false;
        Notify(TDataEvent::deDataSetChange);
        Notify(TDataEvent::deDataSetScroll);
    }
}

void TRxMemoryData::Notify(TDataEvent event) {
    if (ControlsDisabled > 0) {
        NoticesHeldBack = true;
        return;
    }
    // A listener may detach while it is told; walk a copy.
    for (TDataSource* source : std::vector<TDataSource*>(DataSources))
        source->DataEvent(event);
}

}  // namespace fw
