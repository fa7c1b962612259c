// The INI store against real files: byte-exact contents after writes, reads of
// hand-edited files, encipherment, number texts, errors and the atomic replace.

#include "ini/ini_store.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ini/ini_text.h"
#include "tests/ini/ini_fixture.h"

namespace {

using namespace std::string_literals;

class IniStore : public TempFolder {
protected:
    void SetUp() override {
        TempFolder::SetUp();
        Ini.SetFileName(Path);
    }
    TzIni Ini{nullptr};
};

// --- encipherment ---------------------------------------------------------

TEST(IniCipher, ShortValuesStayPlainLongerOnesGetMarkerAndEveryByteTransformed) {
    EXPECT_EQ(TzIni::EncryptValue(""), "");
    EXPECT_EQ(TzIni::EncryptValue("7"), "7");
    EXPECT_EQ(TzIni::EncryptValue("ab"), std::string("\xB6\x72\x71"));
    for (std::size_t len : {256u, 600u}) {
        std::string plain;
        for (std::size_t i = 0; i < len; ++i)
            plain += static_cast<char>('!' + i % 90);
        const std::string enc = TzIni::EncryptValue(plain);
        ASSERT_EQ(enc.size(), len + 1);
        EXPECT_EQ(static_cast<unsigned char>(enc[0]), 0xB6);
        for (std::size_t i = 0; i < len; ++i) {
            ASSERT_EQ(static_cast<unsigned char>(enc[i + 1]),
                      static_cast<unsigned char>(plain[i]) ^ 0x13)
                << "byte " << i;
        }
        EXPECT_EQ(TzIni::DecryptValue(enc), plain);
    }
}

TEST(IniCipher, DecryptNeedsMarkerAndThreeBytes) {
    EXPECT_EQ(TzIni::DecryptValue("\xB6r"), "\xB6r");
    EXPECT_EQ(TzIni::DecryptValue("abc"), "abc");
    EXPECT_EQ(TzIni::DecryptValue("\xB6rq"), "ab");
}

TEST_F(IniStore, EncryptValuesStoresShortValuesInClearAndTwoBytesAsThree) {
    Ini.SetEncryptValues(true);
    Ini.WriteString("Empty", "", false);
    Ini.WriteString("One", "x", false);
    Ini.WriteString("Two", "ab", false);
    Ini.WriteInteger("Num", 12, false);
    EXPECT_EQ(Take(Path), "Empty=\r\nOne=x\r\nTwo=\xB6rq\r\nNum=" + Enc("12") + "\r\n");
    EXPECT_EQ(Ini.ReadString("Empty", "d"), "");
    EXPECT_EQ(Ini.ReadString("One", "d"), "x");
    EXPECT_EQ(Ini.ReadString("Two", "d"), "ab");
    EXPECT_EQ(Ini.ReadInteger("Num", 0), 12);
}

TEST_F(IniStore, EncryptFlagForcesCipherWhenEncryptValuesIsOff) {
    Ini.WriteString("Plain", "hello", false);
    Ini.WriteString("Forced", "hello", true);
    EXPECT_EQ(Take(Path), "Plain=hello\r\nForced=" + Enc("hello") + "\r\n");
}

TEST_F(IniStore, PlainValueStartingWithMarkerIsDecipheredOnReadShortOneIsNot) {
    Put(Path, "Long=\xB6rq\r\nShort=\xB6r\r\n");
    EXPECT_EQ(Ini.ReadString("Long", ""), "ab");
    EXPECT_EQ(Ini.ReadString("Short", ""), "\xB6r");
}

// --- file format ----------------------------------------------------------

TEST_F(IniStore, EmptyValueRemovesExistingLineAndAppendsBareNameWhenAbsent) {
    Put(Path, "A=1\r\nB=2\r\nC=3\r\n");
    Ini.WriteString("b", "", false);
    EXPECT_EQ(Take(Path), "A=1\r\nC=3\r\n");
    Ini.WriteString("D", "", false);
    EXPECT_EQ(Take(Path), "A=1\r\nC=3\r\nD=\r\n");
    EXPECT_EQ(Ini.ReadString("D", "default"), "");
    EXPECT_EQ(Ini.ReadInteger("D", 42), 0);
    EXPECT_EQ(Ini.ReadString("B", "default"), "default");
    EXPECT_EQ(Ini.ReadInteger("B", 42), 42);
}

TEST_F(IniStore, OverwriteKeepsTheFileSpellingOfTheNameAndItsPlace) {
    Put(Path, "First=1\r\nHostName0=old\r\nLast=9\r\n");
    Ini.WriteString("hostname0", "new", false);
    EXPECT_EQ(Take(Path), "First=1\r\nHostName0=new\r\nLast=9\r\n");
    EXPECT_EQ(Ini.ReadString("HOSTNAME0", ""), "new");
}

TEST_F(IniStore, FirstOfDuplicateNamesIsReadOverwrittenAndDeleted) {
    Put(Path, "K=first\r\nk=second\r\n");
    EXPECT_EQ(Ini.ReadString("K", ""), "first");
    Ini.WriteString("K", "changed", false);
    EXPECT_EQ(Take(Path), "K=changed\r\nk=second\r\n");
    Ini.DeleteKey("K");
    EXPECT_EQ(Take(Path), "k=second\r\n");
    EXPECT_EQ(Ini.ReadString("K", ""), "second");
}

TEST_F(IniStore, SectionsCommentsAndBlankLinesSurviveAndNeverMatch) {
    Put(Path, "[Main]\n; note\n\nKey=v\r[Key]\r\n");
    EXPECT_EQ(Ini.ReadString("[Main]", "none"), "none");
    EXPECT_EQ(Ini.ReadString("[Key]", "none"), "none");
    Ini.WriteString("Key", "w", false);
    Ini.WriteString("[Main]", "x", false);
    Ini.DeleteKey("; note");
    EXPECT_EQ(Take(Path), "[Main]\r\n; note\r\n\r\nKey=w\r\n[Key]\r\n[Main]=x\r\n");
}

TEST_F(IniStore, NameWithEqualsIsNeverFoundAndEveryWriteAppends) {
    Ini.WriteString("a=b", "1", false);
    Ini.WriteString("a=b", "2", false);
    EXPECT_EQ(Take(Path), "a=b=1\r\na=b=2\r\n");
    EXPECT_EQ(Ini.ReadString("a=b", "none"), "none");
    // The entry's own name is "a", and further "=" belong to the value.
    EXPECT_EQ(Ini.ReadString("a", ""), "b=1");
}

TEST_F(IniStore, SpacesBelongToNamesAndValues) {
    Put(Path, " Key = v \r\n");
    EXPECT_EQ(Ini.ReadString("Key", "none"), "none");
    EXPECT_EQ(Ini.ReadString(" key ", "none"), " v ");
}

TEST_F(IniStore, NonAsciiNamesMatchWithoutRegardToCase) {
    Put(Path, "Größe=1\r\nÉTÉ=2\r\n");
    EXPECT_EQ(Ini.ReadString("GRÖSSE", "none"), "none");  // ß is not SS
    EXPECT_EQ(Ini.ReadString("GRÖßE", "none"), "1");
    Ini.WriteString("été", "3", false);
    EXPECT_EQ(Take(Path), "Größe=1\r\nÉTÉ=3\r\n");
}

TEST_F(IniStore, NamesOfOtherBytesOrOtherLengthNeverMatch) {
    // Hand-edited 8-bit names that are no UTF-8 (Latin-1 ß and ä), and a
    // Kelvin sign, which folds to "k" but is three bytes long.
    Put(Path,
        "Stra\xDF"
        "e=1\r\n\xE2\x84\xAA=2\r\n");
    EXPECT_EQ(Ini.ReadString("Stra\xE4"
                             "e",
                             "none"),
              "none");
    EXPECT_EQ(Ini.ReadString("STRA\xDF"
                             "E",
                             "none"),
              "1");
    EXPECT_EQ(Ini.ReadString("k", "none"), "none");
    EXPECT_EQ(Ini.ReadString("\xE2\x84\xAA", "none"), "2");
    Ini.WriteString(
        "Stra\xE4"
        "e",
        "3", false);
    Ini.DeleteKey("K");
    EXPECT_EQ(Take(Path),
              "Stra\xDF"
              "e=1\r\n\xE2\x84\xAA=2\r\nStra\xE4"
              "e=3\r\n");
}

TEST_F(IniStore, AnyLineEndingIsReadAndEveryWrittenLineEndsWithCrLf) {
    Put(Path, "A=1\nB=2\rC=3\r\nD=4\0z\nE=5"s);
    EXPECT_EQ(Ini.ReadString("B", ""), "2");
    EXPECT_EQ(Ini.ReadString("E", ""), "5");
    EXPECT_EQ(Ini.ReadString("D", ""), "4\0z"s);
    Ini.WriteString("F", "6", false);
    EXPECT_EQ(Take(Path), "A=1\r\nB=2\r\nC=3\r\nD=4\0z\r\nE=5\r\nF=6\r\n"s);
}

TEST_F(IniStore, LongValuesRoundTripThroughTheFile) {
    Ini.SetEncryptValues(true);
    std::string v600;
    for (int i = 0; i < 600; ++i)
        v600 += static_cast<char>('a' + i % 26);
    Ini.WriteString("Big", v600, false);
    Ini.WriteString("After", "x", false);
    EXPECT_EQ(Take(Path), "Big=" + Enc(v600) + "\r\nAfter=x\r\n");
    EXPECT_EQ(Ini.ReadString("Big", ""), v600);
}

// --- edit mode --------------------------------------------------------------

TEST_F(IniStore, EditBracketDefersWritesAndReadsSeeTheDisk) {
    Put(Path, "A=1\r\n");
    EXPECT_FALSE(Ini.Edit());
    EXPECT_TRUE(Ini.Edit());
    Ini.WriteString("A", "2", false);
    Ini.WriteString("B", "3", false);
    Ini.DeleteKey("Nothing");
    EXPECT_EQ(Ini.ReadString("A", ""), "1");
    EXPECT_EQ(Take(Path), "A=1\r\n");
    Ini.Post();
    EXPECT_FALSE(Ini.InEditMode());
    EXPECT_EQ(Take(Path), "A=2\r\nB=3\r\n");
}

TEST_F(IniStore, UnpostedWorkingCopyIsDiscardedWithTheStore) {
    Put(Path, "A=1\r\n");
    {
        TzIni other(nullptr);
        other.SetFileName(Path);
        other.Edit();
        other.WriteString("A", "2", false);
    }
    EXPECT_EQ(Take(Path), "A=1\r\n");
}

TEST_F(IniStore, BatchReachesTheFileInOneReplaceOrNotAtAll) {
    Put(Path, "A=1\r\nB=2\r\n");
    {
        TzIniBatch batch(Ini);
        Ini.WriteString("A", "3", false);
        Ini.DeleteKey("B");
        // A value that cannot stand in a line ends the batch: nothing written.
        EXPECT_THROW(Ini.WriteString("C", "x\ry", false), EzIniError);
    }
    EXPECT_FALSE(Ini.InEditMode());
    EXPECT_EQ(Take(Path), "A=1\r\nB=2\r\n");
    {
        TzIniBatch batch(Ini);
        Ini.WriteString("A", "3", false);
        Ini.DeleteKey("b");
        Ini.WriteString("C", "4", false);
        EXPECT_EQ(Take(Path), "A=1\r\nB=2\r\n");
        batch.Commit();
    }
    EXPECT_EQ(Take(Path), "A=3\r\nC=4\r\n");
    // Inside an open bracket a batch only joins it: the bracket's owner posts.
    EXPECT_FALSE(Ini.Edit());
    {
        TzIniBatch batch(Ini);
        Ini.WriteString("D", "5", false);
        batch.Commit();
    }
    EXPECT_TRUE(Ini.InEditMode());
    EXPECT_EQ(Take(Path), "A=3\r\nC=4\r\n");
    Ini.Post();
    EXPECT_EQ(Take(Path), "A=3\r\nC=4\r\nD=5\r\n");
}

TEST_F(IniStore, OneReadOfAllEntriesAnswersAsEachRead) {
    Put(Path, "; c\r\n[S]\r\nname=1\r\nNAME=2\r\nsp ace=3\r\nx=\r\n" + Enc("long value") +
                  "=odd\r\nK=" + Enc("deciphered") +
                  "\r\nN=(12)\r\n\xC3\x84pfel=4\r\nPa\xC5\xBFword1=5\r\n");
    const TzIniEntries entries = Ini.ReadEntries();
    for (const char* name : {"name", "Name", "sp ace", "x", "K", "k", "N", "missing", "",
                             "\xC3\xA4PFEL", "\xC3\xA4pfel", "Password1", "PASSWORD1", "[S]"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(entries.ReadString(name, "default"), Ini.ReadString(name, "default"));
        EXPECT_EQ(entries.ReadInteger(name, -7), Ini.ReadInteger(name, -7));
    }
    EXPECT_EQ(entries.Names().size(), 9u);
    TzIni none(nullptr);
    none.SetFileName(Dir + "/absent.ini");
    EXPECT_EQ(none.ReadEntries().ReadString("A", "d"), "d");
}

TEST_F(IniStore, PostWhenIdleRaises) {
    try {
        Ini.Post();
        FAIL() << "no error";
    } catch (const EzIniError& e) {
        EXPECT_STREQ(e.what(), "Post: Not edit mode");
    }
}

// --- missing file and folder ------------------------------------------------

TEST_F(IniStore, MissingFileReadsDefaultsAndFirstWriteCreatesOwnerOnlyFile) {
    EXPECT_EQ(Ini.ReadString("A", "dflt"), "dflt");
    EXPECT_EQ(Ini.ReadInteger("A", -3), -3);
    EXPECT_FALSE(Ini.Edit());
    EXPECT_EQ(Take(Path), "");
    EXPECT_EQ(Mode(Path), 0600u);
    Ini.Post();
    EXPECT_EQ(Mode(Path), 0600u);
    EXPECT_EQ(Strays(), "");
}

TEST_F(IniStore, ReplacedFileKeepsItsMode) {
    Put(Path, "A=1\r\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0644), 0);
    Ini.WriteString("A", "2", false);
    EXPECT_EQ(Mode(Path), 0644u);
    ASSERT_EQ(::chmod(Path.c_str(), 0640), 0);
    Ini.DeleteKey("A");
    EXPECT_EQ(Mode(Path), 0640u);
    EXPECT_EQ(Strays(), "");
}

TEST_F(IniStore, WriteThroughSymlinkReplacesTheLinkedFile) {
    const std::string real = Dir + "/real.ini";
    Put(real, "A=1\r\n");
    ASSERT_EQ(::symlink(real.c_str(), Path.c_str()), 0);
    Ini.WriteString("A", "2", false);
    EXPECT_EQ(Take(real), "A=2\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(Path));
}

TEST_F(IniStore, DanglingSymlinkIsWrittenThroughAndKept) {
    const std::string real = Dir + "/elsewhere.ini";
    ASSERT_EQ(::symlink(real.c_str(), Path.c_str()), 0);
    Ini.WriteString("A", "1", false);
    EXPECT_EQ(Take(real), "A=1\r\n");
    EXPECT_EQ(Mode(real), 0600u);
    EXPECT_TRUE(std::filesystem::is_symlink(Path));
    EXPECT_EQ(Ini.ReadString("A", ""), "1");
}

// A file its owner made read-only is refused with the creation error that
// says so, for root too, and stays as it was.
TEST_F(IniStore, ReadOnlyFileIsRefusedAndKept) {
    Put(Path, "A=1\r\n");
    ASSERT_EQ(::chmod(Path.c_str(), 0444), 0);
    try {
        Ini.WriteString("A", "2", false);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + Path +
                      "\". Permission denied. The file is read-only; make it writable to save "
                      "the settings");
    }
    EXPECT_FALSE(Ini.InEditMode());
    EXPECT_EQ(Take(Path), "A=1\r\n");
    EXPECT_EQ(Mode(Path), 0444u);
    EXPECT_EQ(Strays(), "");
}

TEST_F(IniStore, WriteWithoutFolderRaisesCantCreateAndLeavesStoreIdle) {
    for (const std::string& name :
         {Dir + "/no/such/Quilvane.ini", std::string(), std::string("x.ini")}) {
        SCOPED_TRACE(name);
        TzIni ini(nullptr);
        ini.SetFileName(name);
        EXPECT_EQ(ini.ReadString("A", "d"), "d");
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                ini.WriteString("A", "1", false);
                FAIL() << "no error";
            } catch (const EzIniError& e) {
                EXPECT_EQ(std::string(e.what()), "Can't create file:\r" + name);
            }
            // The failed round leaves no working copy, so the next write
            // fails the same way instead of vanishing into it.
            EXPECT_FALSE(ini.InEditMode());
        }
        EXPECT_THROW(ini.DeleteKey("A"), EzIniError);
    }
}

// --- values that cannot stand in a line ---------------------------------------

TEST_F(IniStore, ValueThatWouldBreakTheLineIsRefusedNamingTheKey) {
    Put(Path, "Keep=1\r\n");
    struct Case {
        std::string value;
        bool encrypt;
    };
    // 0x1E, 0x19 and 0x13 encipher to CR, LF and NUL.
    const Case cases[] = {
        {"a\x1e", true}, {"\x19z", true}, {"ab\x13", true},
        {"a\rb", false}, {"a\nb", false}, {std::string("a\0b", 3), false},
        {"\n", false},   {"\r", true},
    };
    for (const Case& c : cases) {
        try {
            Ini.WriteString("Password0", c.value, c.encrypt);
            ADD_FAILURE() << "accepted a value of " << c.value.size() << " bytes";
        } catch (const EzIniError& e) {
            EXPECT_EQ(std::string(e.what()), "Value can't be stored in a line:\rPassword0");
        }
        EXPECT_FALSE(Ini.InEditMode());
    }
    EXPECT_THROW(Ini.WriteString("Bad\nName", "v", false), EzIniError);
    EXPECT_EQ(Take(Path), "Keep=1\r\n");
    // Bytes that encipher harmlessly are fine, whether or not enciphered.
    Ini.WriteString("Ok", "\x1e\x19", false);
    EXPECT_EQ(Ini.ReadString("Ok", ""), "\x1e\x19");
}

TEST(IniStoreNoFile, RefusedValueCreatesNoFile) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    TzIni ini(nullptr);
    ini.SetFileName(tmpl + "/Quilvane.ini");
    EXPECT_THROW(ini.WriteString("K", "a\x1e", true), EzIniError);
    EXPECT_FALSE(std::filesystem::exists(tmpl + "/Quilvane.ini"));
    std::filesystem::remove_all(tmpl);
}

// --- failures of the file system ------------------------------------------------

TEST_F(IniStore, FailedPostRaisesFileErrorKeepsEditModeAndTheOldFile) {
    // After the folder has gone, the replacement cannot be created.
    Ini.SetFileName(Dir + "/sub/Quilvane.ini");
    std::filesystem::create_directory(Dir + "/sub");
    Put(Dir + "/sub/Quilvane.ini", "A=1\r\n");
    ASSERT_FALSE(Ini.Edit());
    Ini.WriteString("A", "2", false);
    std::filesystem::rename(Dir + "/sub", Dir + "/gone");
    try {
        Ini.Post();
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Cannot create file \"" + Dir + "/sub/Quilvane.ini\". ", 0),
            0u)
            << e.what();
    }
    EXPECT_TRUE(Ini.InEditMode());
    EXPECT_EQ(Take(Dir + "/gone/Quilvane.ini"), "A=1\r\n");
    std::filesystem::rename(Dir + "/gone", Dir + "/sub");
    Ini.Post();
    EXPECT_FALSE(Ini.InEditMode());
    EXPECT_EQ(Take(Dir + "/sub/Quilvane.ini"), "A=2\r\n");
}

TEST(IniStoreSystemFiles, WriteRoundThatCannotReplaceRaisesAndLeavesStoreIdle) {
    // /proc/version can be read, but no file can be created beside it, not even by root.
    TzIni ini(nullptr);
    ini.SetFileName("/proc/version");
    EXPECT_THROW(ini.WriteString("A", "1", false), EFCreateError);
    EXPECT_FALSE(ini.InEditMode());
    EXPECT_THROW(ini.DeleteKey("A"), EFCreateError);
    EXPECT_FALSE(ini.InEditMode());
}

TEST(IniStoreSystemFiles, UnreadableFileMakesReadsRaiseInOutErrorNamingIt) {
    // Our own memory image opens fine but its first page cannot be read.
    TzIni ini(nullptr);
    ini.SetFileName("/proc/self/mem");
    try {
        ini.ReadString("A", "");
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "I/O error 1117: \"/proc/self/mem\"");
    }
    EXPECT_THROW(ini.ReadEntries(), EInOutError);
    EXPECT_THROW(ini.ReadInteger("A", 0), EInOutError);
    EXPECT_THROW(ini.Edit(), EFOpenError);
    EXPECT_FALSE(ini.InEditMode());
}

// A FIFO, a device or a socket named as the settings file is refused at once
// (a FIFO would block the reader until someone wrote to it) and never
// replaced by a plain file.
TEST_F(IniStore, FileThatIsNotRegularIsRefusedAtOnceAndKept) {
    ASSERT_EQ(::mkfifo(Path.c_str(), 0600), 0);
    const std::string why = "It is not a regular file";
    try {
        Ini.ReadString("A", "");
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot read file \"" + Path + "\". " + why, 0), 0u)
            << e.what();
    }
    EXPECT_THROW(Ini.ReadEntries(), EInOutError);
    try {
        Ini.WriteString("A", "1", false);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_FALSE(Ini.InEditMode());
    struct stat st {};
    ASSERT_EQ(::lstat(Path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    TzIni device(nullptr);
    device.SetFileName("/dev/zero");
    EXPECT_THROW(device.ReadString("A", ""), EInOutError);
}

// --- number texts ---------------------------------------------------------------

struct NumberCase {
    const char* text;
    double asFloat;
    std::int32_t asInt;
};

const zini::TNumberSeparators kUs{",", "."};
const zini::TNumberSeparators kGerman{".", ","};
const zini::TNumberSeparators kFrench{"\u202F", ","};

TEST(IniNumbers, UsSeparators) {
    const NumberCase cases[] = {
        {"1,234", 1234, 1234},
        {"(12)", -12, -12},
        {"(12", 0, 0},
        {"50%", 50, 50},
        {"12.9", 12.9, 12},
        {"-12.9", -12.9, -12},
        {"-", 0, 0},
        {"abc", 0, 0},
        {"", 0, 0},
        {" 7 ", 7, 7},
        {"1\r\n2", 12, 12},
        {"+3", 3, 3},
        {".5", 0.5, 0},
        {"5.", 5, 5},
        {".", 0, 0},
        {"1e3", 1000, 1000},
        {"2E-1", 0.2, 0},
        {"1e", 0, 0},
        {"1e+", 0, 0},
        {"0x10", 0, 0},
        {"inf", 0, 0},
        {"nan", 0, 0},
        {"1.2.3", 0, 0},
        {"--1", 0, 0},
        {"()", 0, 0},
        {"(-)", 0, 0},
        {"(1,0)", -10, -10},
        {"(1))", -1, -1},
        {"(1)x", 0, 0},
        {"12a", 0, 0},
        {"1e999", 0, 0},
        {"%-%", 0, 0},
        {"-0.9", -0.9, 0},
        {"2147483647", 2147483647, 2147483647},
        {"-2147483648", -2147483648.0, INT32_MIN},
        // Beyond 32 bits the low 32 bits of the truncated number are kept.
        {"4294967297", 4294967297.0, 1},
        {"1e20", 1e20, 0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(zini::NumberTextToFloat(c.text, kUs), c.asFloat);
        EXPECT_EQ(zini::NumberTextToInt(c.text, kUs), c.asInt);
    }
}

TEST(IniNumbers, OtherLocalesUseTheirSeparators) {
    const struct {
        const zini::TNumberSeparators* seps;
        const char* text;
        double asFloat;
    } cases[] = {
        {&kGerman, "1.234,5", 1234.5},      {&kGerman, "12,9", 12.9}, {&kGerman, "12.9", 129},
        {&kFrench, "1\u202F234,5", 1234.5}, {&kFrench, "1.5", 0},     {&kFrench, "1 234", 1234},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(zini::NumberTextToFloat(c.text, *c.seps), c.asFloat);
    }
    EXPECT_EQ(zini::CleanNumberText("(1.234)", kGerman), "-1234");
    EXPECT_EQ(zini::CleanNumberText("(12", kGerman), "");
    EXPECT_EQ(zini::CleanNumberText(" - ", kGerman), "");
}

TEST_F(IniStore, ReadIntegerUsesTheUsersSeparators) {
    const zini::TNumberSeparators& s = zini::SystemSeparators();
    ASSERT_FALSE(s.Decimal.empty());
    Put(Path, "Thousands=1" + s.Thousand + "234\r\nParens=(12)\r\nOpen=(12\r\nPct=50%\r\nFrac=12" +
                  s.Decimal + "9\r\nNeg=-12" + s.Decimal + "9\r\nMinus=-\r\nWord=abc\r\n");
    EXPECT_EQ(Ini.ReadInteger("Thousands", 7), 1234);
    EXPECT_EQ(Ini.ReadInteger("Parens", 7), -12);
    EXPECT_EQ(Ini.ReadInteger("Open", 7), 0);
    EXPECT_EQ(Ini.ReadInteger("Pct", 7), 50);
    EXPECT_EQ(Ini.ReadInteger("Frac", 7), 12);
    EXPECT_EQ(Ini.ReadInteger("Neg", 7), -12);
    EXPECT_EQ(Ini.ReadInteger("Minus", 7), 0);
    EXPECT_EQ(Ini.ReadInteger("Word", 7), 0);
    EXPECT_EQ(Ini.ReadInteger("Absent", 7), 7);
    EXPECT_EQ(TzIni::NumberTextToInt("1" + s.Thousand + "000"), 1000);
}

// --- crash safety -----------------------------------------------------------------

// The child rewrites a file of 40 long lines, all of one generation per save;
// the parent kills it at once after a save has been announced, i.e. while the
// next save is running. The file must always be one complete generation.
TEST_F(IniStore, KilledWriterLeavesACompleteFile) {
    auto generation = [](const std::string& text) -> int {
        const std::vector<std::string> lines = zini::SplitLines(text);
        if (lines.size() != 40 || text.size() < 2 || text.substr(text.size() - 2) != "\r\n") {
            return -1;
        }
        int gen = -2;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string prefix = "Key" + std::to_string(i) + "=";
            if (lines[i].rfind(prefix, 0) != 0)
                return -1;
            const std::string value = TzIni::DecryptValue(lines[i].substr(prefix.size()));
            if (value.size() != 600)
                return -1;
            const int g = std::atoi(value.c_str());
            if (gen != -2 && g != gen)
                return -1;
            if (value != std::to_string(g) + std::string(600 - std::to_string(g).size(), 'x')) {
                return -1;
            }
            gen = g;
        }
        return gen;
    };
    auto save = [&](int gen) {
        TzIni ini(nullptr);
        ini.SetFileName(Path);
        ini.SetEncryptValues(true);
        ini.Edit();
        const std::string g = std::to_string(gen);
        for (int i = 0; i < 40; ++i) {
            ini.WriteString("Key" + std::to_string(i), g + std::string(600 - g.size(), 'x'), false);
        }
        ini.Post();
    };
    save(0);
    ASSERT_EQ(generation(Take(Path)), 0);

    int lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            for (int gen = lastSeen + 1;; ++gen) {
                save(gen);
                const char tick = 1;
                if (::write(fds[1], &tick, 1) != 1)
                    ::_exit(3);
            }
        }
        ::close(fds[1]);
        // Wait (bounded) for 1 to 3 saves, then kill in the middle of the next.
        for (int saves = 0; saves < 1 + round % 3; ++saves) {
            pollfd p{fds[0], POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 10000), 1) << "child made no progress";
            char tick;
            ASSERT_EQ(::read(fds[0], &tick, 1), 1);
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(fds[0]);
        const int gen = generation(Take(Path));
        ASSERT_GE(gen, lastSeen) << "damaged or older file after round " << round;
        lastSeen = gen;
    }
    // Temporaries of killed saves may remain; the settings file is intact.
    EXPECT_GT(lastSeen, 0);
}

}  // namespace
