#pragma once
// The auto-upgrader's texts in 27 languages: string resources
// 51000 + 50 x (language - 1) + index, index 0 to 35, and 50997 to 50999
// (the title placeholder, the development environment's name, the
// component's name). The language is chosen for the whole process: the last
// one set applies to every upgrader.
//
// Threads: main thread (the choice is not guarded).

#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/kernel.h"

enum class TacAutoUpgraderLanguage {
    wlAuto,
    wlEnglish,
    wlRussian,
    wlGerman,
    wlFrench,
    wlSpanish,
    wlPortuguese,
    wlPortugueseBrazilian,
    wlItalian,
    wlDutch,
    wlDanish,
    wlSwedish,
    wlFinnish,
    wlEstonian,
    wlUkrainian,
    wlPolish,
    wlCzech,
    wlHungarian,
    wlRomanian,
    wlCatalan,
    wlBasque,
    wlAfrikaans,
    wlChineseTraditional,
    wlChineseSimplified,
    wlIndonesian,
    wlMalay,
    wlIcelandic,
    wlTurkish,
};

namespace upgrader_texts {

constexpr int kLanguageCount = 27;
constexpr int kTextCount = 36;
constexpr unsigned kFirstText = 51000;
constexpr unsigned kAppTitlePlaceholder = 50997;  // "<AppTitle>"
constexpr unsigned kDevelopmentEnvironment = 50998;
constexpr unsigned kComponentName = 50999;  // "AutoUpgrader"

// The language that wlAuto stands for with this Windows language id.
TacAutoUpgraderLanguage LanguageFor(win::LANGID id);

// Sets the process-wide language; wlAuto takes the user's language.
void SetLanguage(TacAutoUpgraderLanguage language);
// The language in use (never wlAuto).
TacAutoUpgraderLanguage Language();

// String resource `id`; empty when missing.
std::string ResourceString(unsigned id);
// Text `index` (0 to 35) of `language` (not wlAuto).
std::string Text(TacAutoUpgraderLanguage language, int index);
// Text `index` of the language in use.
std::string Text(int index);

// Text `index` formatted with printf conversions, as the texts' placeholders
// are written ("%s", "%d", "%.2d", "%.1f"). Every language's text has exactly
// the English placeholders (a test checks it), so the arguments always match.
template <typename... Args>
std::string Format(int index, Args&&... args) {
    const std::string pattern = Text(index);
    auto pass = [](auto&& a) {
        if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::string>)
            return a.c_str();
        else
            return a;
    };
    const int n = std::snprintf(nullptr, 0, pattern.c_str(), pass(args)...);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), pattern.c_str(), pass(args)...);
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace upgrader_texts
