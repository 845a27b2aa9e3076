#include "app/windows/Preferences.h"

#include "UpdateChecker.h"

#include "platform/media/MediaFileOutput.h"

namespace
{
constexpr const char* kRecordChannels = "Record Channels";
constexpr const char* kRecordBits = "Record Bits";
constexpr const char* kHelpTips = "Help Tips";
constexpr const char* kAnalyze = "Analyze";
constexpr const char* kAudioConfiguration = "Audio Configuration";
constexpr const char* kFirstLaunch = "First Launch";

// Ours hold a few short values and a device setup a few levels deep.
constexpr juce::int64 kMaxSettingsBytes = 1 << 20;
constexpr int kMaxSettingsDepth = 32;

juce::PropertiesFile::Options makeOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Clarivo+ 5";
    options.filenameSuffix = ".prefs";
    options.folderName = {};
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.processLock = nullptr;
    return options;
}
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
    const auto options = makeOptions();
    return juce::File (base).getChildFile (options.applicationName)
                            .getChildFile (options.applicationName + options.filenameSuffix);
}

std::unique_ptr<juce::PropertiesFile> Preferences::openSettingsFile (const juce::File& file,
                                                                    const juce::PropertiesFile::Options& options)
{
    if (file.exists())
    {
        if (! clarivo::media::detail::isRegularFile (file) || file.getSize() > kMaxSettingsBytes)
            return {};
        if (clarivo::update::xmlNestsDeeperThan (file.loadFileAsString(), kMaxSettingsDepth))
            return {};
    }

    auto opened = std::make_unique<juce::PropertiesFile> (file, options);
    // A value is parsed again as XML when it is read as such and at every
    // save; an escaped one nested without end would crash there.
    // Only values that are XML: a plain one (a device's name) may start with
    // a letter the walk does not follow.
    for (const auto& value : opened->getAllProperties().getAllValues())
        if (value.trimStart().startsWithChar ('<') && clarivo::update::xmlNestsDeeperThan (value, kMaxSettingsDepth))
            return {};
    return opened;
}

// The settings file is opened directly rather than through
// ApplicationProperties: that class also opens an all-users file, and here it
// would resolve to this same file, a second object writing over the first.
Preferences::Preferences()
{
    if (const auto file = getFile(); file != juce::File())
    {
        properties = openSettingsFile (file, makeOptions());
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
