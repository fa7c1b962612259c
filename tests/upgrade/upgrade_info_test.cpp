#include "upgrade/upgrade_info.h"

#include <gtest/gtest.h>

namespace {

using namespace upgrade_info;
using std::chrono::day;
using std::chrono::month;
using std::chrono::year;
using std::chrono::year_month_day;

const year_month_day kToday{year(2026), month(12), day(10)};

TEST(UpgradeInfo, KeysAreFoundInAnyCaseAndEndAtAControlCharacter) {
    const std::string text =
        "header line\r\n#VERSION=2.0.7\r\n#date=12/01/2026\n#Method=2 and more\t tab"
        "\n#url0=http://h/b\n#url=http://h/a";
    EXPECT_EQ(Value(text, "#version"), "2.0.7");
    EXPECT_EQ(Value(text, "#date"), "12/01/2026");
    EXPECT_EQ(Value(text, "#method"), "2 and more");
    EXPECT_EQ(Value(text, "#url"), "http://h/a");  // "#url0=" is another key
    EXPECT_EQ(Value(text, "#url0"), "http://h/b");
    EXPECT_EQ(Value(text, "#missing"), "");
    EXPECT_EQ(Value("#version=", "#version"), "");
}

TEST(UpgradeInfo, MessageIsTheBracedTextAcrossLines) {
    EXPECT_EQ(Message("#version=2\r\n#message={New:\r\n- faster}\r\n#url=x"), "New:\r\n- faster");
    EXPECT_EQ(Message("#MESSAGE={to the end"), "to the end");
    EXPECT_EQ(Message("#message=not braced"), "");
    EXPECT_EQ(Message("#message=plain\n#message={second}"), "second");
    EXPECT_EQ(Message("nothing"), "");
}

TEST(UpgradeInfo, MethodIsTheFirstDigit) {
    EXPECT_EQ(Method("#method=1"), TacUpgradeMethod::umUseExternalSetup);
    EXPECT_EQ(Method("#method=2x"), TacUpgradeMethod::umRedirectToURL);
    EXPECT_EQ(Method("#method=0"), TacUpgradeMethod::umSelfUpgrade);
    EXPECT_EQ(Method("#method=21"), TacUpgradeMethod::umRedirectToURL);
    EXPECT_EQ(Method("#method= 2"), TacUpgradeMethod::umSelfUpgrade);
    EXPECT_EQ(Method(""), TacUpgradeMethod::umSelfUpgrade);
}

TEST(UpgradeInfo, FileListFollowsTheNumberingRule) {
    const struct {
        const char* text;
        std::vector<std::string> urls;
    } cases[] = {
        {"#url1=a\n#url2=b\n#url3=c", {"a", "b", "c"}},
        {"#url=a\n#url1=skipped\n#url2=b\n#url3=c", {"a", "b", "c"}},
        {"#url=a\n#url0=b\n#url3=c\n#url4=d", {"a", "b", "c", "d"}},
        {"#url0=b\n#url2=c", {"b", "c"}},
        {"#url1=a\n#url3=gap", {"a"}},
        {"#url=\n#url1=a", {"a"}},
        {"no urls", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileUrls(Files(c.text)), c.urls) << c.text;
}

TEST(UpgradeInfo, DigestsBelongToTheUrlOfTheSameSuffix) {
    const auto files = Files("#url=a\n#url0=b\n#url3=c\n#sha256=AA\n#sha2563=cc\n#sha2561=xx");
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].sha256, "AA");
    EXPECT_EQ(files[1].sha256, "");
    EXPECT_EQ(files[2].sha256, "cc");
}

TEST(UpgradeInfo, VersionNumbersCompareByPartThenByBytes) {
    const struct {
        const char* info;
        const char* own;
        bool newer;
    } cases[] = {
        {"2.0.10", "2.0.6", true},     {"2.0.6.0", "2.0.6", false},
        {"2.0.6", "2.0.6", false},     {"2.0.6b", "2.0.6", true},
        {"2.0.5", "2.0.6", false},     {"3", "2.9.9.9", true},
        {"2.1", "2.0.6", true},        {"2.0.6.1", "2.0.6", true},
        {"2.0.6.0.9", "2.0.6", false}, {"10.0", "9.0", true},
        {"", "2.0.6", false},          {"2..7", "2.0.6", false},
        {"2.0.6", "", true},           {"a", "B", true},
        {"99999999999", "1", true},    {"1.x", "2.0", false},
        {"2.x", "1.9", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsNewerNumber(c.info, c.own), c.newer) << c.info << " vs " << c.own;
}

TEST(UpgradeInfo, DatesReadAsMonthDayYearElseToday) {
    const struct {
        const char* text;
        year_month_day date;
    } cases[] = {
        {"09/26/2006", {year(2006), month(9), day(26)}},
        {"9/6/2006", {year(2006), month(9), day(6)}},
        {"02/29/2024", {year(2024), month(2), day(29)}},
        {"02/29/2023", kToday},
        {"13/01/2006", kToday},
        {"09-26-2006", kToday},
        {"09/26", kToday},
        {"", kToday},
        {"aa/bb/cccc", kToday},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadDate(c.text, kToday), c.date) << c.text;
    EXPECT_TRUE(IsNewerDate("09/27/2006", "09/26/2006", kToday));
    EXPECT_FALSE(IsNewerDate("09/26/2006", "09/26/2006", kToday));
    EXPECT_FALSE(IsNewerDate("09/25/2006", "09/26/2006", kToday));
    // A missing date is today: newer than any earlier own date.
    EXPECT_TRUE(IsNewerDate("", "09/26/2006", kToday));
    EXPECT_FALSE(IsNewerDate("", "unreadable", kToday));
    EXPECT_EQ(FormatDate({year(2006), month(9), day(26)}), "09/26/2006");
}

TEST(UpgradeInfo, SizesAndTheBoundsOfAList) {
    const auto files =
        Files("#url1=a\n#size1=42\n#url2=b\n#size2=4x\n#url3=c\n#size3=" + std::string(30, '9'));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].size, 42);
    EXPECT_EQ(files[1].size, -1);
    EXPECT_EQ(files[2].size, -1);

    // At most kMaxFiles files; a URL beyond kMaxUrl is kept empty (refused).
    std::string many;
    for (size_t n = 1; n <= kMaxFiles + 5; ++n)
        many += "#url" + std::to_string(n) + "=u\n";
    EXPECT_EQ(Files(many).size(), kMaxFiles);
    const auto longUrl = Files("#url=" + std::string(kMaxUrl + 1, 'x'));
    ASSERT_EQ(longUrl.size(), 1u);
    EXPECT_EQ(longUrl[0].url, "");
}

// Keys back to back on one line: every value runs to the line's end, and
// the file is still read once (this took minutes with a scan per key).
TEST(UpgradeInfo, KeysOnOneLineAreReadInOnePass) {
    std::string line;
    for (int n = 1; n <= 100000; ++n)
        line += "#url" + std::to_string(n) + "=";
    const Info info(line);
    EXPECT_EQ(info.Value("#url99999").size(), std::string("#url100000=").size());
    EXPECT_EQ(info.Files().size(), kMaxFiles);
    EXPECT_EQ(info.Files()[0].url, "");  // the first value is longer than kMaxUrl
}

}  // namespace
