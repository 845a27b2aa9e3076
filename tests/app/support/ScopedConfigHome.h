#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>

// While alive, HOME and XDG_CONFIG_HOME point into a fresh folder, so that
// nothing a test reads or writes touches the user's own settings.
struct ScopedConfigHome
{
    ScopedConfigHome()
    {
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        ::setenv ("XDG_CONFIG_HOME", config.getFullPathName().toRawUTF8(), 1);
    }

    ~ScopedConfigHome()
    {
        for (auto& [name, value] : saved)
            value.isEmpty() ? ::unsetenv (name) : ::setenv (name, value.toRawUTF8(), 1);
        home.deleteRecursively();
    }

    juce::File prefsFile() const { return config.getChildFile ("Clarivo+ 5/Clarivo+ 5.prefs"); }

    std::pair<const char*, juce::String> saved[2] { { "HOME", std::getenv ("HOME") }, { "XDG_CONFIG_HOME", std::getenv ("XDG_CONFIG_HOME") } };
    // Unique across the test processes ctest runs side by side.
    const juce::File home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                .getChildFile ("clarivo-home-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));
    const juce::File config = home.getChildFile ("xdg-config");
};
