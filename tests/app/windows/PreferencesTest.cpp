#include <gtest/gtest.h>

#include "app/windows/Preferences.h"
#include "app/support/ScopedConfigHome.h"
#include "TestDeadline.h"

namespace
{
void expectDefaults (const Preferences& prefs)
{
    EXPECT_EQ (prefs.getRecordChannels(), 1);
    EXPECT_EQ (prefs.getRecordBits(), 16);
    EXPECT_TRUE (prefs.getHelpTips());
    EXPECT_TRUE (prefs.getAnalyze());
    EXPECT_TRUE (prefs.getFirstLaunch());
    EXPECT_EQ (prefs.getAudioConfiguration(), nullptr);
}
} // namespace

TEST (Preferences, NewUserGetsTheDefaultsAndWhatIsSetIsKeptInTheConfigFolder)
{
    ScopedConfigHome scoped;
    {
        Preferences prefs;
        expectDefaults (prefs);
        prefs.setRecordChannels (2);
        prefs.setHelpTips (false);
        prefs.setFirstLaunch (false);
        // A device manager that was never opened has no setup to store.
        juce::AudioDeviceManager devices;
        prefs.setAudioConfiguration (devices);
    }

    // Written as XML when the preferences go, where the desktop keeps
    // configuration, and nowhere else in the home folder.
    EXPECT_EQ (Preferences::getFile(), scoped.prefsFile());
    EXPECT_TRUE (scoped.prefsFile().loadFileAsString().contains (R"(<VALUE name="First Launch" val="0"/>)"));
    EXPECT_EQ (scoped.home.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
    Preferences again;
    EXPECT_EQ (again.getRecordChannels(), 2);
    EXPECT_EQ (again.getRecordBits(), 16);
    EXPECT_FALSE (again.getHelpTips());
    EXPECT_FALSE (again.getFirstLaunch());
    EXPECT_EQ (again.getAudioConfiguration(), nullptr);

    // Without XDG_CONFIG_HOME, or with a relative one, ~/.config is used.
    const auto fallback = scoped.home.getChildFile (".config/Clarivo+ 5/Clarivo+ 5.prefs");
    ::setenv ("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ (Preferences::getFile(), fallback);
    ::unsetenv ("XDG_CONFIG_HOME");
    EXPECT_EQ (Preferences::getFile(), fallback);
}

TEST (Preferences, EmptyKeysReadZeroAndDamagedFilesReadAsNew)
{
    ScopedConfigHome scoped;
    const auto file = scoped.prefsFile();
    ASSERT_TRUE (file.getParentDirectory().createDirectory());
    ASSERT_TRUE (file.replaceWithText (R"(<PROPERTIES>
  <VALUE name="Record Channels" val=""/><VALUE name="Record Bits" val=""/><VALUE name="Help Tips" val=""/>
  <VALUE name="Analyze" val=""/><VALUE name="First Launch" val=""/>
  <VALUE name="Audio Configuration"><DEVICESETUP audioOutputDeviceName="out"/></VALUE>
</PROPERTIES>)"));
    {
        Preferences prefs;
        EXPECT_EQ (prefs.getRecordChannels() + prefs.getRecordBits(), 0);
        EXPECT_FALSE (prefs.getHelpTips() || prefs.getAnalyze() || prefs.getFirstLaunch());
        const auto setup = prefs.getAudioConfiguration();
        ASSERT_NE (setup, nullptr);
        EXPECT_EQ (setup->getStringAttribute ("audioOutputDeviceName"), "out");
    }

    // Nested without end, in the file or in a value, the recursive parser would run out of stack at every start.
    // An instruction followed by text, in the file or in a value, the
    // framework's reader would never return from.
    for (const auto& damaged : { juce::String ("<PROPERTIES><VALUE name=\"Record Bits\" val=\"24\""), juce::String ("\x01\x02garbage"), juce::String(),
                                 "<PROPERTIES>" + juce::String::repeatedString ("<a>", 300000),
                                 "<PROPERTIES><VALUE name=\"Audio Configuration\" val=\"" + juce::String::repeatedString ("&lt;a&gt;", 100000) + "\"/></PROPERTIES>",
                                 juce::String ("<PROPERTIES><VALUE name=\"Record Bits\" val=\"24\"/><?x?>t</PROPERTIES>"),
                                 juce::String ("<PROPERTIES><VALUE name=\"Audio Configuration\" val=\"&lt;a&gt;&lt;?x?&gt;t&lt;/a&gt;\"/></PROPERTIES>") })
    {
        ASSERT_TRUE (file.replaceWithText (damaged));
        expectFinishesWithin (10.0, damaged.substring (0, 80).toStdString(), [] { expectDefaults (Preferences()); });
    }
}
