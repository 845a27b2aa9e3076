#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

namespace apptest
{
// Writes an image to build/snapshots/<name> (the name carries its .png), for a person to look at.
inline void savePng (const juce::Image& image, const juce::String& name)
{
    const juce::File folder (CLARIVO_SNAPSHOT_DIR);
    folder.createDirectory();
    const auto file = folder.getChildFile (name);
    file.deleteFile();
    juce::FileOutputStream out (file);
    EXPECT_TRUE (out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out)) << name;
}

inline juce::Image render (juce::Component& c) { return c.createComponentSnapshot (c.getLocalBounds()); }

// What a component shows, written as a snapshot and handed back for checking.
inline juce::Image snapshot (juce::Component& c, const juce::String& name)
{
    auto image = render (c);
    savePng (image, name);
    return image;
}

// A left-button mouse event at (x, y) in the component's own coordinates.
inline juce::MouseEvent mouseAt (juce::Component& c, float x, float y, juce::ModifierKeys mods = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier))
{
    const auto now = juce::Time::getCurrentTime();
    const juce::Point<float> p (x, y);
    return { juce::Desktop::getInstance().getMainMouseSource(), p, mods, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, now, p, now, 1, false };
}

inline void pump (int ms = 30) { juce::MessageManager::getInstance()->runDispatchLoopUntil (ms); }
} // namespace apptest
