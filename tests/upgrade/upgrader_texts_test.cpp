#include "upgrade/upgrader_texts.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <set>

namespace {

using L = TacAutoUpgraderLanguage;
using namespace upgrader_texts;

// What a translation must keep exactly, in order: printf placeholders, the
// rich label's markup, line breaks, double quotes and the accelerator mark.
std::vector<std::string> Tokens(const std::string& text) {
    static const std::regex token(
        R"(%[-+ #0]*[0-9]*(\.[0-9]+)?[a-zA-Z]|\[b\]|\[\]|\[DEF\]|[\r\n"&])");
    std::vector<std::string> tokens;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), token);
         it != std::sregex_iterator(); ++it)
        tokens.push_back(it->str());
    return tokens;
}

TEST(UpgraderTexts, EnglishIsTheTableOfTheComponent) {
    EXPECT_EQ(Text(L::wlEnglish, 0), "Application update wizard");
    EXPECT_EQ(Text(L::wlEnglish, 10),
              "The update of %s has been successfully completed.\r\rPress the OK button to "
              "restart program.");
    EXPECT_EQ(Text(L::wlEnglish, 23),
              "A newer version of [b]%s[] was released.\n%s\nDo you want to update your version "
              "with the latest one?");
    EXPECT_EQ(Text(L::wlEnglish, 29),
              "Access to remote file \"[b]%s[]\" is password protected.\n\nPlease enter your "
              "username and password (received after registration) to continue software "
              "upgrade.");
    EXPECT_EQ(ResourceString(kAppTitlePlaceholder), "<AppTitle>");
    EXPECT_FALSE(ResourceString(kDevelopmentEnvironment).empty());
    EXPECT_EQ(ResourceString(kComponentName), "AutoUpgrader");
}

TEST(UpgraderTexts, EveryLanguageIsCompleteWithTheEnglishPlaceholdersMarkupAndBreaks) {
    for (int n = 2; n <= kLanguageCount; ++n) {
        const auto language = static_cast<L>(n);
        std::set<std::string> distinct;
        for (int i = 0; i < kTextCount; ++i) {
            const std::string text = Text(language, i);
            const std::string english = Text(L::wlEnglish, i);
            EXPECT_FALSE(text.empty()) << "language " << n << " text " << i;
            EXPECT_EQ(Tokens(text), Tokens(english))
                << "language " << n << " text " << i << ": " << text;
            EXPECT_EQ(text.find("  "), std::string::npos) << "language " << n << " text " << i;
            distinct.insert(text);
        }
        // A language that only copied English would share its long texts.
        EXPECT_NE(Text(language, 25), Text(L::wlEnglish, 25)) << "language " << n;
        // The password text loses its quoted file name with the blank before it.
        const std::string password = Text(language, 29);
        const size_t quoted = password.find("\"[b]%s[]\"");
        ASSERT_NE(quoted, std::string::npos) << "language " << n;
        ASSERT_GT(quoted, 0u);
        EXPECT_EQ(password[quoted - 1], ' ') << "language " << n;
        EXPECT_EQ((password.substr(0, quoted - 1) + password.substr(quoted + 9)).find("  "),
                  std::string::npos)
            << "language " << n;
    }
    // Every number of the 27 blocks, and nothing beyond the last.
    EXPECT_TRUE(ResourceString(kFirstText + 50 * 26 + kTextCount - 1).size() > 0);
    EXPECT_EQ(ResourceString(kFirstText + 50 * 26 + kTextCount), "");
    EXPECT_EQ(ResourceString(kFirstText + kTextCount), "");
}

TEST(UpgraderTexts, SystemLanguageMapsToTheListedLanguage) {
    const struct {
        win::WORD primary, sub;
        L language;
    } cases[] = {
        {9, 1, L::wlEnglish},
        {9, 2, L::wlEnglish},
        {22, 1, L::wlPortugueseBrazilian},
        {22, 2, L::wlPortuguese},
        {4, 2, L::wlChineseSimplified},
        {4, 1, L::wlChineseTraditional},
        {4, 4, L::wlChineseTraditional},
        {7, 1, L::wlGerman},
        {33, 1, L::wlIndonesian},
        {62, 1, L::wlMalay},
        {31, 1, L::wlTurkish},
        {45, 1, L::wlBasque},
        {17, 1, L::wlEnglish},  // Japanese: not in the table
    };
    for (const auto& c : cases)
        EXPECT_EQ(LanguageFor(win::MAKELANGID(c.primary, c.sub)), c.language)
            << c.primary << "/" << c.sub;
}

TEST(UpgraderTexts, AutoTakesTheLocaleAndTheChoiceHoldsForTheProcess) {
    const struct {
        const char* lang;
        L language;
    } cases[] = {
        {"pt_BR.UTF-8", L::wlPortugueseBrazilian},
        {"pt_PT.UTF-8", L::wlPortuguese},
        {"zh_CN.UTF-8", L::wlChineseSimplified},
        {"zh_TW.UTF-8", L::wlChineseTraditional},
        {"de_AT.UTF-8", L::wlGerman},
        {"id_ID.UTF-8", L::wlIndonesian},
        {"C", L::wlEnglish},
        {"ja_JP.UTF-8", L::wlEnglish},
    };
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    for (const auto& c : cases) {
        ::setenv("LANG", c.lang, 1);
        SetLanguage(L::wlAuto);
        EXPECT_EQ(Language(), c.language) << c.lang;
    }
    SetLanguage(L::wlIndonesian);
    EXPECT_EQ(Text(20), "Peringatan");
    EXPECT_EQ(Format(9, 2, 5), "Mengunduh 2 dari 5");
    EXPECT_EQ(Format(8, 1, 2, 3), "Perkiraan sisa waktu: 1:02:03");
    EXPECT_EQ(Format(6, 12.34), "Ukuran berkas: 12.3 Kb");
    EXPECT_EQ(Format(26, std::string("http://host")).substr(0, 22), "Host http://host tidak");
    SetLanguage(L::wlEnglish);
}

}  // namespace
