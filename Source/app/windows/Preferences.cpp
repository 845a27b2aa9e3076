#include "app/windows/Preferences.h"

namespace
{
constexpr const char* kRecordChannels = "Record Channels";
constexpr const char* kRecordBits = "Record Bits";
constexpr const char* kHelpTips = "Help Tips";
constexpr const char* kAnalyze = "Analyze";
constexpr const char* kAudioConfiguration = "Audio Configuration";
constexpr const char* kFirstLaunch = "First Launch";
constexpr const char* kApplicationName = "Clarivo+ 5";
constexpr int kMillisecondsBeforeSaving = 3000;
} // namespace

juce::File Preferences::getFile()
{
    // As the XDG base folders have it: an unset, empty or relative value
    // means the default.
    juce::String base = juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {});
    if (! juce::File::isAbsolutePath (base) || base.startsWithChar ('~'))
    {
        const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
        if (home == juce::File())
            return {};
        base = home.getChildFile (".config").getFullPathName();
    }
    return juce::File (base).getChildFile (kApplicationName).getChildFile (juce::String (kApplicationName) + ".prefs");
}

Preferences::Preferences()
{
    if (const auto file = getFile(); file != juce::File())
    {
        properties = SettingsFile::open (file, kMillisecondsBeforeSaving);
        settings = properties.get();
    }
}

Preferences::~Preferences() = default;

template <typename Value>
void Preferences::set (const char* key, const Value& value)
{
    if (settings != nullptr)
        settings->setValue (key, value);
}

void Preferences::setRecordChannels (int channels) { set (kRecordChannels, channels); }
void Preferences::setRecordBits (int bits) { set (kRecordBits, bits); }
void Preferences::setHelpTips (bool on) { set (kHelpTips, on); }
void Preferences::setAnalyze (bool on) { set (kAnalyze, on); }
void Preferences::setFirstLaunch (bool first) { set (kFirstLaunch, first); }

void Preferences::setAudioConfiguration (const juce::AudioDeviceManager& deviceManager)
{
    if (auto state = deviceManager.createStateXml())
        set (kAudioConfiguration, state.get());
}

// A key that is there but empty or unreadable reads 0 or false, not the
// default: only a missing key gets the default.
int Preferences::getInt (const char* key, int fallback) const
{
    return settings != nullptr && settings->containsKey (key) ? settings->getIntValue (key, 0) : fallback;
}

bool Preferences::getBool (const char* key, bool fallback) const
{
    return settings != nullptr && settings->containsKey (key) ? settings->getBoolValue (key, false) : fallback;
}

int Preferences::getRecordChannels() const { return getInt (kRecordChannels, 1); }
int Preferences::getRecordBits() const { return getInt (kRecordBits, 16); }
bool Preferences::getHelpTips() const { return getBool (kHelpTips, true); }
bool Preferences::getAnalyze() const { return getBool (kAnalyze, true); }
bool Preferences::getFirstLaunch() const { return getBool (kFirstLaunch, true); }

std::unique_ptr<juce::XmlElement> Preferences::getAudioConfiguration() const
{
    if (settings == nullptr || ! settings->containsKey (kAudioConfiguration))
        return {};
    return settings->getXmlValue (kAudioConfiguration);
}
