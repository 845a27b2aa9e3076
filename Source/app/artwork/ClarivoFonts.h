#pragma once

// The faces the artwork was laid out with ("Trebuchet MS", "Arial") are not on
// Linux; JUCE would then draw its fallback face with the metrics of the face
// it did not find. JUCE resolves every font through the default look and feel
// and caches the answer, so the mapping lives there and must be installed
// before the first text is measured.
#include <juce_gui_basics/juce_gui_basics.h>

namespace clarivo
{
class FontMappingLookAndFeel : public juce::LookAndFeel_V4
{
public:
    // The installed face a requested name is drawn with; the name itself when
    // it needs no stand-in.
    static juce::String substituteFor (const juce::String& typefaceName);

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font&) override;
};

// Makes the one mapping instance the default look and feel (idempotent). Call
// it on the message thread before any window is made.
void installDefaultLookAndFeel();
} // namespace clarivo
