#include "app/windows/SettingsFile.h"

#include "UntrustedParse.h"

#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaFileOutput.h"

namespace
{
// Ours hold a few short values and a device setup a few levels deep.
constexpr juce::int64 kMaxSettingsBytes = 1 << 20;

clarivo::parse::XmlLimits settingsLimits()
{
    clarivo::parse::XmlLimits limits;
    limits.maxBytes = (size_t) kMaxSettingsBytes;
    limits.maxDepth = 32;
    return limits;
}
} // namespace

SettingsFile::SettingsFile (const juce::File& f, int ms) : file (f), millisecondsBeforeSaving (ms) {}

SettingsFile::~SettingsFile() { saveIfNeeded(); }

std::unique_ptr<SettingsFile> SettingsFile::open (const juce::File& file, int millisecondsBeforeSaving)
{
    std::unique_ptr<SettingsFile> settings (new SettingsFile (file, millisecondsBeforeSaving));
    if (! file.exists())
        return settings;
    // Read through the one descriptor that was checked: a pipe put in its
    // place is never waited on, and no program started meanwhile inherits it.
    juce::String error;
    const auto in = clarivo::media::detail::RegularFileInputStream::open (file, error);
    if (in == nullptr)
        return clarivo::media::detail::isRegularFile (file) ? std::move (settings) : nullptr;
    if (in->getTotalLength() > kMaxSettingsBytes)
        return {};

    const auto document = clarivo::parse::parseUntrustedXml (in->readEntireStreamAsString(), settingsLimits());
    if (document == nullptr || ! document->hasTagName ("PROPERTIES"))
        return settings;
    for (auto* value : document->getChildWithTagNameIterator ("VALUE"))
    {
        const auto name = value->getStringAttribute ("name");
        if (name.isEmpty())
            continue;
        auto* xml = value->getFirstChildElement();
        settings->getAllProperties().set (name, xml != nullptr
                                                    ? xml->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader())
                                                    : value->getStringAttribute ("val"));
    }
    return settings;
}

std::unique_ptr<juce::XmlElement> SettingsFile::getXmlValue (juce::StringRef keyName) const
{
    return clarivo::parse::parseUntrustedXml (getValue (keyName), settingsLimits());
}

bool SettingsFile::saveIfNeeded()
{
    const juce::ScopedLock sl (getLock());
    return ! needsWriting || save();
}

bool SettingsFile::save()
{
    const juce::ScopedLock sl (getLock());
    stopTimer();
    if (file == juce::File() || file.isDirectory() || ! file.getParentDirectory().createDirectory())
        return false;

    juce::XmlElement document ("PROPERTIES");
    const auto& properties = getAllProperties();
    for (int i = 0; i < properties.size(); ++i)
    {
        auto* element = document.createNewChildElement ("VALUE");
        element->setAttribute ("name", properties.getAllKeys()[i]);
        const auto& value = properties.getAllValues()[i];
        if (auto xml = clarivo::parse::parseUntrustedXml (value, settingsLimits()))
            element->addChildElement (xml.release());
        else
            element->setAttribute ("val", value);
    }
    // Written whole before it replaces the last one: a crash never leaves
    // half of the user's settings.
    const auto text = document.toString();
    juce::String why;
    namespace files = clarivo::media::detail;
    if (files::writeWholeFile (file, text.toRawUTF8(), text.getNumBytesAsUTF8(), files::IfTaken::replace, why) != 0)
        return false;
    needsWriting = false;
    return true;
}

void SettingsFile::propertyChanged()
{
    needsWriting = true;
    if (millisecondsBeforeSaving > 0)
        startTimer (millisecondsBeforeSaving);
    else if (millisecondsBeforeSaving == 0)
        saveIfNeeded();
}

void SettingsFile::timerCallback() { saveIfNeeded(); }
