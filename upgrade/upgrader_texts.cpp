#include "upgrade/upgrader_texts.h"

#include "platform/resource.h"

namespace upgrader_texts {
namespace {

// Windows primary language ids of languages 1 to 27.
constexpr win::WORD kPrimary[kLanguageCount] = {9, 25, 7,  12, 10, 22, 22, 16, 19,
                                                6, 29, 11, 37, 34, 21, 5,  14, 24,
                                                3, 45, 54, 4,  4,  33, 62, 15, 31};

TacAutoUpgraderLanguage current = TacAutoUpgraderLanguage::wlEnglish;

TacAutoUpgraderLanguage Nth(int n) {
    return static_cast<TacAutoUpgraderLanguage>(n);
}

}  // namespace

TacAutoUpgraderLanguage LanguageFor(win::LANGID id) {
    const win::WORD primary = win::PRIMARYLANGID(id);
    const win::WORD sub = win::SUBLANGID(id);
    if (primary == 22)
        return sub == 1 ? TacAutoUpgraderLanguage::wlPortugueseBrazilian
                        : TacAutoUpgraderLanguage::wlPortuguese;
    if (primary == 4)
        return sub == 2 ? TacAutoUpgraderLanguage::wlChineseSimplified
                        : TacAutoUpgraderLanguage::wlChineseTraditional;
    for (int n = 1; n <= kLanguageCount; ++n)
        if (kPrimary[n - 1] == primary)
            return Nth(n);
    return TacAutoUpgraderLanguage::wlEnglish;
}

void SetLanguage(TacAutoUpgraderLanguage language) {
    current = language == TacAutoUpgraderLanguage::wlAuto
                  ? LanguageFor(win::GetSystemDefaultLangID())
                  : language;
}

TacAutoUpgraderLanguage Language() {
    return current;
}

std::string ResourceString(unsigned id) {
    char buffer[4096];
    const int n = win::LoadStringA(nullptr, id, buffer, sizeof buffer);
    return std::string(buffer, static_cast<size_t>(n));
}

std::string Text(TacAutoUpgraderLanguage language, int index) {
    if (index < 0 || index >= kTextCount || language == TacAutoUpgraderLanguage::wlAuto)
        return {};
    const unsigned n = static_cast<unsigned>(language);
    return ResourceString(kFirstText + 50 * (n - 1) + static_cast<unsigned>(index));
}

std::string Text(int index) {
    return Text(current, index);
}

}  // namespace upgrader_texts
