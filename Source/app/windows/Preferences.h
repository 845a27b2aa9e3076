#pragma once

// The program's few persistent settings, typed, in one properties file of
// the user. The editor owns the one instance; everyone else reaches it
// through the editor or the pointer handed to them.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_data_structures/juce_data_structures.h>

#include "app/windows/SettingsFile.h"

#include <memory>

class Preferences
{
public:
    Preferences();
    ~Preferences();

    // $XDG_CONFIG_HOME (or ~/.config when unset or relative)/Clarivo+ 5/Clarivo+ 5.prefs;
    // none when the user has no home either.
    static juce::File getFile();

    void setRecordChannels (int channels);
    void setRecordBits (int bits);
    void setHelpTips (bool on);
    void setAnalyze (bool on);
    void setFirstLaunch (bool first);
    // Stores the device manager's state; a manager with nothing to report stores nothing.
    void setAudioConfiguration (const juce::AudioDeviceManager& deviceManager);

    int getRecordChannels() const;
    int getRecordBits() const;
    bool getHelpTips() const;
    bool getAnalyze() const;
    bool getFirstLaunch() const;
    // The saved device setup, or null when none is stored.
    std::unique_ptr<juce::XmlElement> getAudioConfiguration() const;

private:
    int getInt (const char* key, int fallback) const;
    bool getBool (const char* key, bool fallback) const;
    template <typename Value>
    void set (const char* key, const Value& value);

    std::unique_ptr<SettingsFile> properties;
    // Null when there is nowhere to keep the settings (no home) or the file there
    // is not one of ours: every getter then answers its default and every
    // setter does nothing.
    SettingsFile* settings = nullptr;

    JUCE_DECLARE_NON_COPYABLE (Preferences)
};
