#pragma once

// A settings file in the framework's XML layout (a PROPERTIES element of
// VALUE elements, each a name with its value in "val", or, for a value that
// is XML, as the child element), read and written through the guarded
// parser: the file, and every value in it, is the user's to edit or swap.
#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>

#include <memory>

class SettingsFile : public juce::PropertySet, private juce::Timer
{
public:
    // The settings at file (none yet when there is no file). Null when what
    // lies there is not a plain file or is far larger than any of ours: such
    // a file is left as it is. One that cannot be read as settings reads as
    // empty and is replaced at the next save. A change is saved after
    // millisecondsBeforeSaving, at once for 0, and only by saveIfNeeded
    // (or when the settings go) for a negative value.
    static std::unique_ptr<SettingsFile> open (const juce::File& file, int millisecondsBeforeSaving);
    ~SettingsFile() override;

    bool saveIfNeeded();
    bool save();

    // The value read as XML; null when it is none. Hides the framework's
    // own reading, which has no limits.
    std::unique_ptr<juce::XmlElement> getXmlValue (juce::StringRef keyName) const;

private:
    SettingsFile (const juce::File& file, int millisecondsBeforeSaving);
    void propertyChanged() override;
    void timerCallback() override;

    const juce::File file;
    const int millisecondsBeforeSaving;
    bool needsWriting = false;

    JUCE_DECLARE_NON_COPYABLE (SettingsFile)
};
