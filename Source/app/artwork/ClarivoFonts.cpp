#include "app/artwork/ClarivoFonts.h"

namespace clarivo
{
namespace
{
juce::String firstInstalled (std::initializer_list<const char*> candidates)
{
    static const auto installed = juce::Font::findAllTypefaceNames();
    for (auto* name : candidates)
        if (installed.contains (name, true))
            return name;
    return *candidates.begin();
}
} // namespace

juce::String FontMappingLookAndFeel::substituteFor (const juce::String& typefaceName)
{
    // Metric-compatible where a free one exists, else a humanist sans of about
    // the same width, so fitted captions break and squeeze as designed.
    if (typefaceName.equalsIgnoreCase ("Arial") || typefaceName.equalsIgnoreCase ("Helvetica"))
    {
        static const auto arial = firstInstalled ({ "Liberation Sans", "DejaVu Sans" });
        return arial;
    }
    if (typefaceName.equalsIgnoreCase ("Trebuchet MS"))
    {
        static const auto trebuchet = firstInstalled ({ "Open Sans", "DejaVu Sans" });
        return trebuchet;
    }
    return typefaceName;
}

juce::Typeface::Ptr FontMappingLookAndFeel::getTypefaceForFont (const juce::Font& font)
{
    const auto mapped = substituteFor (font.getTypefaceName());
    if (mapped == font.getTypefaceName())
        return LookAndFeel_V4::getTypefaceForFont (font);

    juce::Font substitute (font);
    substitute.setTypefaceName (mapped);
    return LookAndFeel_V4::getTypefaceForFont (substitute);
}

void installDefaultLookAndFeel()
{
    static FontMappingLookAndFeel mapping;
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == &mapping)
        return;
    juce::LookAndFeel::setDefaultLookAndFeel (&mapping);
    // A face resolved before this would stay cached under its name.
    juce::Typeface::clearTypefaceCache();
}
} // namespace clarivo
