#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "TestSignals.h"
#include "app/document/ClarivoTempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <sys/mount.h>
#include <vector>

namespace apptest
{
// Helpers the application's and the player's tests share.

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

// The bounds of each component, in order, for comparing a layout at once.
inline std::vector<juce::Rectangle<int>> boundsOf (std::initializer_list<juce::Component*> components)
{
    std::vector<juce::Rectangle<int>> result;
    for (auto* c : components)
        result.push_back (c->getBounds());
    return result;
}

// Pictures side by side on the panel's grey, written as one snapshot.
inline void saveRow (const juce::String& name, const std::vector<juce::Image>& pictures)
{
    int width = 10, height = 0;
    for (const auto& p : pictures)
        width += p.getWidth() + 10, height = juce::jmax (height, p.getHeight() + 20);
    juce::Image row (juce::Image::RGB, width, height, true);
    juce::Graphics g (row);
    g.fillAll (juce::Colour (0xffd6d6d6));
    int x = 10;
    for (const auto& p : pictures)
        g.drawImageAt (p, x, 10), x += p.getWidth() + 10;
    savePng (row, name);
}

// What draw paints on a transparent image of that size.
inline juce::Image drawn (int width, int height, const std::function<void (juce::Graphics&)>& draw)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    juce::Graphics g (image);
    draw (g);
    return image;
}

// The area holding every pixel with any alpha at all.
inline juce::Rectangle<int> inkBounds (const juce::Image& image)
{
    juce::Rectangle<int> ink;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() > 0)
                ink = ink.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : ink.getUnion ({ x, y, 1, 1 });
    return ink;
}

// Every channel, alpha included, within tolerance.
inline ::testing::AssertionResult near (juce::Colour actual, juce::Colour expected, int tolerance = 2)
{
    if (std::abs (actual.getRed() - expected.getRed()) <= tolerance && std::abs (actual.getGreen() - expected.getGreen()) <= tolerance
        && std::abs (actual.getBlue() - expected.getBlue()) <= tolerance && std::abs (actual.getAlpha() - expected.getAlpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.toDisplayString (true) << " is not " << expected.toDisplayString (true);
}

// What ffprobe reports of a file's entries ("stream=codec_type,channels"), a
// line per section with its known values joined by "|" (unknown ones left out).
inline juce::StringArray ffprobe (const juce::File& file, const juce::String& entries)
{
    juce::ChildProcess process;
    if (! process.start (juce::StringArray { "ffprobe", "-v", "error", "-show_entries", entries, "-of", "compact=p=0:nk=1",
                                             file.getFullPathName() }))
        return { "no ffprobe" };
    juce::StringArray lines;
    for (const auto& line : juce::StringArray::fromLines (process.readAllProcessOutput()))
    {
        auto fields = juce::StringArray::fromTokens (line, "|", {});
        fields.removeString ("N/A");
        fields.removeEmptyStrings();
        if (! fields.isEmpty())
            lines.add (fields.joinIntoString ("|"));
    }
    return lines;
}

// A block of quiet noise through a processor, as the audio thread runs it.
inline void processNoise (juce::AudioProcessor& processor, int numSamples = 4096)
{
    juce::AudioBuffer<float> buffer (2, numSamples);
    juce::Random random (7);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < numSamples; ++i)
            buffer.setSample (c, i, 0.1f * (random.nextFloat() - 0.5f));
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);
}

inline void pump (int ms = 30) { clarivo_test::pumpMessages (ms); }

// A small filesystem of its own (a tmpfs) at a new folder, for the failures
// only a real one gives: a full disk, no inodes left, read-only. Needs root;
// isMounted() is false where the mount was refused.
class SmallDisk
{
public:
    SmallDisk (const juce::File& at, const juce::String& options) : folder (at)
    {
        folder.createDirectory();
        mounted = ::mount ("tmpfs", folder.getFullPathName().toRawUTF8(), "tmpfs", 0, options.toRawUTF8()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2 (folder.getFullPathName().toRawUTF8(), MNT_DETACH);
        folder.deleteRecursively();
    }
    bool isMounted() const noexcept { return mounted; }
    bool makeReadOnly (const juce::String& options)
    {
        return ::mount ("tmpfs", folder.getFullPathName().toRawUTF8(), "tmpfs", MS_REMOUNT | MS_RDONLY, options.toRawUTF8()) == 0;
    }
    // Takes every free inode with empty files, then gives count back.
    void leaveInodes (int count)
    {
        std::vector<juce::File> taken;
        for (int i = 0; i < 100000; ++i)
        {
            auto f = folder.getChildFile ("filler-" + juce::String (i));
            if (! f.create().wasOk())
                break;
            taken.push_back (f);
        }
        for (int i = 0; i < count && ! taken.empty(); ++i)
        {
            taken.back().deleteFile();
            taken.pop_back();
        }
    }
    const juce::File folder;

private:
    bool mounted = false;
};

// The system's temporary folder is another one while alive; Clarivo's own
// folders move with it, and back after.
class ScopedTempFolder
{
public:
    explicit ScopedTempFolder (const juce::File& folder)
    {
        if (const char* before = std::getenv ("TMPDIR"))
            saved = before;
        ClarivoTempFolder::removeAll();
        ::setenv ("TMPDIR", folder.getFullPathName().toRawUTF8(), 1);
    }
    ~ScopedTempFolder()
    {
        ClarivoTempFolder::removeAll();
        if (saved)
            ::setenv ("TMPDIR", saved->c_str(), 1);
        else
            ::unsetenv ("TMPDIR");
    }

private:
    std::optional<std::string> saved;
};
} // namespace apptest
