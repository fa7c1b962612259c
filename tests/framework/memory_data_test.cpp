// The memory data set as the program's connection table uses it: the ten
// fields of a connection record, the cursor and its flags, unset values, cut
// texts, the ID counter and the announcements to data sources.
#include "framework/memory_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/data_source.h"

namespace {

using namespace fw;

std::vector<TFieldDef> ConnectionFields() {
    return {
        {"ID", TFieldType::ftAutoInc, 0},        {"HostName", TFieldType::ftString, 16},
        {"Connected", TFieldType::ftBoolean, 0}, {"FalseCount", TFieldType::ftInteger, 0},
        {"UserName", TFieldType::ftString, 20},  {"Password", TFieldType::ftString, 20},
        {"Drive", TFieldType::ftString, 2},      {"UNC", TFieldType::ftString, 50},
        {"Maped", TFieldType::ftBoolean, 0},     {"MaxPing", TFieldType::ftInteger, 0},
    };
}

// Records the events that reach a data link.
class RecordingLink : public TDataLink {
public:
    std::vector<TDataEvent> Events;
    int ActiveChanges = 0;

protected:
    void DataEvent(TDataEvent event) override { Events.push_back(event); }
    void ActiveChanged() override { ++ActiveChanges; }
};

class ConnectionTable : public ::testing::Test {
protected:
    TRxMemoryData Table{nullptr, ConnectionFields()};

    void AddHost(const std::string& host) {
        Table.Append();
        Table.FieldByName("HostName").SetAsString(host);
        Table.Post();
    }
    void AddHosts(int n) {
        for (int i = 1; i <= n; ++i)
            AddHost("h" + std::to_string(i));
    }
    std::string Host() const { return Table.FieldByName("HostName").AsString(); }
};

TEST_F(ConnectionTable, EmptyTableWalksNothingAndIgnoresRecordNumbers) {
    EXPECT_EQ(Table.RecordCount(), 0);
    EXPECT_EQ(Table.RecNo(), 0);
    Table.First();
    EXPECT_TRUE(Table.Eof());
    EXPECT_TRUE(Table.Bof());
    Table.Next();
    Table.Prior();
    EXPECT_TRUE(Table.Eof());
    EXPECT_TRUE(Table.Bof());
    for (int recNo : {-1, 0, 1, 2}) {
        Table.SetRecNo(recNo);
        EXPECT_EQ(Table.RecNo(), 0) << recNo;
    }
    // Fields of no record read as unset.
    EXPECT_EQ(Host(), "");
    EXPECT_EQ(Table.FieldByName("MaxPing").AsInteger(), 0);
    EXPECT_FALSE(Table.FieldByName("Maped").AsBoolean());
}

TEST_F(ConnectionTable, DeleteOnEmptyTableRaises) {
    try {
        Table.Delete();
        FAIL() << "no exception";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on an empty dataset");
    }
    // Deleting the last record empties the table; the next delete fails again.
    AddHosts(1);
    Table.Delete();
    EXPECT_EQ(Table.RecordCount(), 0);
    EXPECT_TRUE(Table.Eof() && Table.Bof());
    EXPECT_THROW(Table.Delete(), EDatabaseError);
}

TEST_F(ConnectionTable, EditOnEmptyTableStartsNewRecord) {
    Table.Edit();
    EXPECT_EQ(Table.State(), TDataSetState::dsInsert);
    Table.FieldByName("HostName").SetAsString("srv");
    Table.Post();
    EXPECT_EQ(Table.RecordCount(), 1);
    EXPECT_EQ(Table.RecNo(), 1);
    EXPECT_EQ(Table.FieldByName("ID").AsInteger(), 1);
    EXPECT_EQ(Host(), "srv");
}

TEST_F(ConnectionTable, NewRecordReadsUnsetFieldsAsEmptyZeroFalse) {
    Table.Append();
    Table.FieldByName("HostName").SetAsString("srv");
    Table.FieldByName("MaxPing").SetAsInteger(5);
    Table.Post();
    for (const char* name : {"Connected", "FalseCount", "Maped", "UserName", "UNC"}) {
        const TField& f = Table.FieldByName(name);
        EXPECT_TRUE(f.IsNull()) << name;
        EXPECT_EQ(f.AsString(), "") << name;
        EXPECT_EQ(f.AsInteger(), 0) << name;
        EXPECT_FALSE(f.AsBoolean()) << name;
        EXPECT_EQ(f.DisplayText(), "") << name;
    }
    EXPECT_EQ(Table.FieldByName("MaxPing").AsInteger(), 5);
    // Booleans read back and display as the grid shows them.
    Table.Edit();
    Table.FieldByName("Connected").SetAsBoolean(true);
    Table.FieldByName("Maped").SetAsBoolean(false);
    Table.FieldByName("FalseCount").SetAsInteger(-3);
    Table.Post();
    EXPECT_EQ(Table.FieldByName("Connected").DisplayText(), "True");
    EXPECT_EQ(Table.FieldByName("Maped").DisplayText(), "False");
    EXPECT_FALSE(Table.FieldByName("Maped").IsNull());
    EXPECT_EQ(Table.FieldByName("FalseCount").AsInteger(), -3);
}

struct CutCase {
    const char* field;
    std::string written;
    std::string stored;
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.field << " <- " << c.written.size() << " bytes";
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

class TextCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(TextCut, TextIsCutToFieldSizeInCharacters) {
    const CutCase& c = GetParam();
    TRxMemoryData table(nullptr, ConnectionFields());
    table.Append();
    table.FieldByName(c.field).SetAsString(c.written);
    EXPECT_EQ(table.FieldByName(c.field).AsString(), c.stored) << "before post";
    table.Post();
    EXPECT_EQ(table.FieldByName(c.field).AsString(), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    ConnectionTable, TextCut,
    ::testing::Values(CutCase{"HostName", "abcdefghijklmnopqrst", "abcdefghijklmnop"},
                      CutCase{"HostName", "exactly16chars!!", "exactly16chars!!"},
                      CutCase{"UNC", std::string(60, 'u'), std::string(50, 'u')},
                      CutCase{"Drive", "C:\\", "C:"}, CutCase{"UserName", "", ""},
                      // Nothing is trimmed.
                      CutCase{"Password", "  pw  ", "  pw  "},
                      // Characters, not bytes: 16 two-byte letters stay whole, the 17th goes.
                      CutCase{"HostName", Repeat("\xC3\xA9", 17), Repeat("\xC3\xA9", 16)},
                      // A cut never ends inside a multi-byte character (3- and 4-byte ones).
                      CutCase{"Drive", "A\xE2\x82\xAC\xE2\x82\xAC", "A\xE2\x82\xAC"},
                      CutCase{"Drive", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80Z",
                              "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
                      // Broken UTF-8 counts byte by byte and is kept as it came.
                      CutCase{"Drive", "\xE2\x82Z", "\xE2\x82"}));

TEST_F(ConnectionTable, CursorFlagsFollowMoves) {
    AddHosts(3);
    Table.First();
    EXPECT_TRUE(Table.Bof());
    EXPECT_FALSE(Table.Eof());
    EXPECT_EQ(Host(), "h1");
    Table.Prior();  // nothing before the first: stays, start flag set
    EXPECT_EQ(Table.RecNo(), 1);
    EXPECT_TRUE(Table.Bof());
    Table.Next();
    EXPECT_FALSE(Table.Bof());
    EXPECT_EQ(Host(), "h2");
    Table.Next();
    EXPECT_FALSE(Table.Eof());
    Table.Next();  // nothing after the last: stays, end flag set
    EXPECT_TRUE(Table.Eof());
    EXPECT_EQ(Host(), "h3");
    Table.Prior();
    EXPECT_FALSE(Table.Eof());
    EXPECT_EQ(Host(), "h2");
}

TEST_F(ConnectionTable, WalkFromFirstVisitsEveryRecordOnce) {
    AddHosts(4);
    std::vector<std::string> seen;
    Table.First();
    for (int guard = 0; !Table.Eof() && guard < 10; ++guard) {
        seen.push_back(Host());
        Table.Next();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"h1", "h2", "h3", "h4"}));
}

TEST_F(ConnectionTable, SetRecNoOutsideRangeLeavesCursor) {
    AddHosts(3);
    Table.SetRecNo(2);
    EXPECT_EQ(Host(), "h2");
    for (int recNo : {0, -1, 4, 100}) {
        Table.SetRecNo(recNo);
        EXPECT_EQ(Table.RecNo(), 2) << recNo;
    }
}

struct DeleteCase {
    int count;
    int deleted;
    int recNoAfter;
    std::string currentAfter;
};

void PrintTo(const DeleteCase& c, std::ostream* os) {
    *os << "record " << c.deleted << " of " << c.count;
}

class DeleteMovesCursor : public ConnectionTable,
                          public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteMovesCursor, ToFollowingOrNewLastRecord) {
    const DeleteCase& c = GetParam();
    AddHosts(c.count);
    Table.SetRecNo(c.deleted);
    Table.Delete();
    EXPECT_EQ(Table.RecordCount(), c.count - 1);
    EXPECT_EQ(Table.RecNo(), c.recNoAfter);
    EXPECT_EQ(Host(), c.currentAfter);
}

INSTANTIATE_TEST_SUITE_P(ConnectionTable, DeleteMovesCursor,
                         ::testing::Values(DeleteCase{3, 2, 2, "h3"}, DeleteCase{3, 3, 2, "h2"},
                                           DeleteCase{3, 1, 1, "h2"}));

TEST_F(ConnectionTable, IdCounterNeverReusesNumbers) {
    AddHosts(3);
    Table.First();
    Table.Delete();
    AddHost("h4");
    EXPECT_EQ(Table.RecNo(), 3);
    EXPECT_EQ(Table.FieldByName("ID").AsInteger(), 4);
    // Editing keeps the number; deleting the newest does not give it back.
    Table.Edit();
    Table.FieldByName("HostName").SetAsString("h4b");
    Table.Post();
    EXPECT_EQ(Table.FieldByName("ID").AsInteger(), 4);
    Table.Delete();
    AddHost("h5");
    EXPECT_EQ(Table.FieldByName("ID").AsInteger(), 5);
}

TEST_F(ConnectionTable, EditRewritesInPlaceAndPostKeepsCursor) {
    AddHosts(3);
    Table.SetRecNo(2);
    Table.Edit();
    Table.FieldByName("HostName").SetAsString("changed");
    // Until the post, stored records are untouched.
    EXPECT_EQ(TField::DisplayTextOf(Table.ValueAt(2, 1)), "h2");
    Table.Post();
    EXPECT_EQ(Table.RecordCount(), 3);
    EXPECT_EQ(Table.RecNo(), 2);
    EXPECT_EQ(Host(), "changed");
    // An appended record becomes the last and current one.
    AddHost("new");
    EXPECT_EQ(Table.RecNo(), 4);
}

TEST_F(ConnectionTable, WritesOutsideAppendOrEditAreRefused) {
    EXPECT_THROW(Table.FieldByName("HostName").SetAsString("x"), EDatabaseError);
    AddHosts(1);
    EXPECT_THROW(Table.FieldByName("HostName").SetAsString("x"), EDatabaseError);
    EXPECT_THROW(Table.Post(), EDatabaseError);
    EXPECT_EQ(Host(), "h1");
    // The table numbers records itself.
    Table.Edit();
    EXPECT_THROW(Table.FieldByName("ID").SetAsInteger(9), EDatabaseError);
    Table.Cancel();
    EXPECT_THROW(Table.FieldByName("NoSuchField"), EDatabaseError);
}

TEST_F(ConnectionTable, CancelAndDeleteDuringAppendDropTheNewRecord) {
    AddHosts(2);
    Table.Append();
    Table.FieldByName("HostName").SetAsString("dropped");
    Table.Cancel();
    EXPECT_EQ(Table.RecordCount(), 2);
    Table.Append();
    Table.Delete();
    EXPECT_EQ(Table.RecordCount(), 2);
    EXPECT_EQ(Table.State(), TDataSetState::dsBrowse);
    // The dropped records did not use up numbers.
    AddHost("h3");
    EXPECT_EQ(Table.FieldByName("ID").AsInteger(), 3);
}

TEST_F(ConnectionTable, MovingDuringAChangePostsAChangedRecord) {
    AddHosts(2);
    Table.First();
    Table.Edit();
    Table.FieldByName("HostName").SetAsString("moved");
    Table.Next();
    EXPECT_EQ(Table.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(TField::DisplayTextOf(Table.ValueAt(1, 1)), "moved");
    EXPECT_EQ(Host(), "h2");
}

TEST_F(ConnectionTable, DataSourceAnnouncesPostsDeletesAndMoves) {
    TDataSource source{nullptr};
    source.SetDataSet(&Table);
    RecordingLink link;
    link.SetDataSource(&source);
    EXPECT_EQ(link.DataSet(), &Table);

    auto count = [&](TDataEvent e) {
        return std::count(link.Events.begin(), link.Events.end(), e);
    };
    AddHosts(2);
    EXPECT_EQ(count(TDataEvent::deDataSetChange), 2);
    link.Events.clear();
    Table.First();
    Table.Next();
    Table.SetRecNo(1);
    EXPECT_EQ(count(TDataEvent::deDataSetScroll), 3);
    link.Events.clear();
    Table.Delete();
    EXPECT_EQ(count(TDataEvent::deDataSetChange), 1);

    // Either side may go first without dangling.
    const int before = link.ActiveChanges;
    {
        TRxMemoryData other(nullptr, ConnectionFields());
        source.SetDataSet(&other);
    }
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(link.ActiveChanges, before + 2);
    source.SetDataSet(&Table);
    {
        TDataSource shortLived{nullptr};
        shortLived.SetDataSet(&Table);
    }
    link.Events.clear();
    AddHost("after");
    EXPECT_EQ(count(TDataEvent::deDataSetChange), 1);
}

TEST_F(ConnectionTable, DisabledControlsHearOneChangeAfterTheLastEnable) {
    TDataSource source{nullptr};
    source.SetDataSet(&Table);
    RecordingLink link;
    link.SetDataSource(&source);
    Table.DisableControls();
    Table.DisableControls();
    AddHosts(3);
    Table.First();
    Table.EnableControls();
    EXPECT_TRUE(link.Events.empty());
    Table.EnableControls();
    EXPECT_EQ(link.Events,
              (std::vector<TDataEvent>{TDataEvent::deDataSetChange, TDataEvent::deDataSetScroll}));
    // Nothing held back, nothing sent; an extra enable does not underflow.
    link.Events.clear();
    Table.DisableControls();
    Table.EnableControls();
    Table.EnableControls();
    EXPECT_TRUE(link.Events.empty());
    AddHost("after");
    EXPECT_FALSE(link.Events.empty());
}

}  // namespace
