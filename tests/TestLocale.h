#pragma once

// The process's C locale switched to a German user's (decimal comma), as a
// toolkit does when it takes the user's environment. The machine may lack
// that locale; it is then made from the system's locale sources, and a test
// that needs it is skipped when even that fails.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace clarivo_test
{
constexpr const char* kDecimalCommaLocale = "de_DE.UTF-8";

inline bool decimalCommaLocaleAvailable()
{
    static const bool available = []
    {
        // Looked for by another process first: this one would remember a
        // locale it failed to find, even once it is made. Made into a folder
        // of its own, since an archive this process has mapped already would
        // not show a locale added to it now.
        if (std::system ("locale -a 2>/dev/null | grep -qix 'de_DE.utf-\\?8'") != 0)
            std::system ("localedef --no-archive -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1");
        auto* l = ::newlocale (LC_ALL_MASK, kDecimalCommaLocale, nullptr);
        if (l != nullptr)
            ::freelocale (l);
        return l != nullptr;
    }();
    return available;
}

class ScopedDecimalCommaLocale
{
public:
    ScopedDecimalCommaLocale() : previous (std::setlocale (LC_ALL, nullptr))
    {
        std::setlocale (LC_ALL, kDecimalCommaLocale);
        // Without the comma the test would prove nothing.
        char text[8];
        std::snprintf (text, sizeof (text), "%.1f", 0.5);
        EXPECT_STREQ (text, "0,5");
    }
    ~ScopedDecimalCommaLocale() { std::setlocale (LC_ALL, previous.c_str()); }

    ScopedDecimalCommaLocale (const ScopedDecimalCommaLocale&) = delete;
    ScopedDecimalCommaLocale& operator= (const ScopedDecimalCommaLocale&) = delete;

private:
    const std::string previous;
};
} // namespace clarivo_test

#define CLARIVO_SKIP_WITHOUT_DECIMAL_COMMA_LOCALE()                                                                         \
    if (! clarivo_test::decimalCommaLocaleAvailable())                                                                      \
    GTEST_SKIP() << clarivo_test::kDecimalCommaLocale << " is missing and could not be made with localedef "              \
                    "(the package \"locales\" holds its sources, and making it needs root)"
