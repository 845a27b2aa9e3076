#include <gtest/gtest.h>

#include "app/windows/CVDocumentWindow.h"
#include "app/editor/CVLookAndFeel.h"
#include "app/artwork/ClarivoArtwork.h"
#include "app/artwork/ClarivoFonts.h"
#include "app/support/TestHelpers.h"

#include <cmath>
#include <functional>
#include <vector>

namespace
{
constexpr float startAngle = -2.5f, endAngle = 2.5f;

using apptest::saveRow;
const auto render = apptest::drawn;

int brightness (juce::Colour c)
{
    return (c.getRed() + c.getGreen() + c.getBlue()) / 3;
}

bool isBlue (juce::Colour c)
{
    return c.getBlue() > c.getRed() + 60;
}

juce::Image knob (CVLookAndFeel& lookAndFeel, int size, float position)
{
    juce::Slider slider;
    slider.setSize (size, size);
    return render (size, size, [&] (juce::Graphics& g) {
        g.fillAll (juce::Colour (0xff808080));
        lookAndFeel.drawRotarySlider (g, 0, 0, size, size, position, startAngle, endAngle, slider);
    });
}

// Where the pointer dot of a knob sits: its centre turned with the value.
juce::Point<int> dotCentre (int size, float position)
{
    const float r = (float) (size / 2), c = (float) size * 0.5f;
    const float k = size > 99 ? r - 35.0f : r - 15.0f;
    const float angle = startAngle + position * (endAngle - startAngle);
    auto p = juce::Point<float> (-0.48f * k, -0.48f * k).transformedBy (juce::AffineTransform::rotation (angle + 0.85f));
    return (p + juce::Point<float> (c, c)).toInt();
}

juce::Point<int> onCircle (float cx, float radius, float angle)
{
    return { (int) (cx + radius * std::sin (angle)), (int) (cx - radius * std::cos (angle)) };
}
} // namespace

TEST (ClarivoFonts, TheLayoutFacesDrawWithInstalledStandInsKeepingTheirStyle)
{
    const juce::String sample ("Noise Reduction 0.5 dB");
    const auto width = [&sample] (const char* face, int style) {
        return juce::Font (face, 12.0f, style).getStringWidthFloat (sample);
    };

    ASSERT_TRUE (juce::Font::findAllTypefaceNames().contains ("Open Sans"));
    ASSERT_TRUE (juce::Font::findAllTypefaceNames().contains ("Liberation Sans"));
    EXPECT_EQ (width ("Trebuchet MS", juce::Font::bold), width ("Open Sans", juce::Font::bold));
    EXPECT_EQ (width ("Arial", juce::Font::plain), width ("Liberation Sans", juce::Font::plain));
    // Not the fallback face, and the bold cut rather than the regular one.
    EXPECT_NE (width ("Trebuchet MS", juce::Font::bold), width ("DejaVu Sans", juce::Font::bold));
    EXPECT_NE (width ("Trebuchet MS", juce::Font::bold), width ("Open Sans", juce::Font::plain));
    EXPECT_EQ (clarivo::FontMappingLookAndFeel::substituteFor ("DejaVu Sans"), "DejaVu Sans");

    CVLookAndFeel lookAndFeel;
    EXPECT_EQ (lookAndFeel.getLabelTextFont().getStringWidthFloat (sample), juce::Font ("Open Sans", 12.0f, juce::Font::bold).getStringWidthFloat (sample));
}

TEST (ClarivoArtwork, EveryPictureDecodesAtItsSize)
{
    namespace art = clarivo::artwork;
    const struct { const art::Picture& picture; int width, height; } pictures[] = {
        { art::panelBackground, 780, 400 }, { art::creditsBackground, 780, 400 }, { art::toggleOn, 132, 132 },
        { art::toggleOff, 132, 132 }, { art::largeKnob, 234, 234 }, { art::smallKnob, 54, 54 },
        { art::sliderTrack, 203, 9 }, { art::sliderThumb, 22, 22 }, { art::washOverlay, 196, 196 },
        { art::productLogo, 187, 44 }, { art::noiseReductionOff, 132, 132 }, { art::noiseReductionOn, 132, 132 },
    };
    for (const auto& p : pictures)
    {
        const auto image = juce::ImageCache::getFromMemory (p.picture.data, p.picture.size);
        EXPECT_EQ (image.getBounds(), juce::Rectangle<int> (p.width, p.height)) << p.width << " x " << p.height;
    }

    // The display shows through a disc 191 across; the corners are the panel
    // under them, so the display sits in the panel's recess.
    const auto overlay = juce::ImageCache::getFromMemory (art::washOverlay.data, art::washOverlay.size);
    const auto panel = juce::ImageCache::getFromMemory (art::panelBackground.data, art::panelBackground.size);
    for (auto corner : { juce::Point<int> (0, 0), juce::Point<int> (195, 195) })
        EXPECT_EQ (overlay.getPixelAt (corner.x, corner.y), panel.getPixelAt (290 + corner.x, 32 + corner.y));
    for (int x : { 3, 98, 192 })
        EXPECT_EQ (overlay.getPixelAt (x, 98).getAlpha(), 0) << x;
    EXPECT_EQ (overlay.getPixelAt (1, 98).getAlpha(), 255);
}

TEST (CVLookAndFeel, KnobHeightsPickFaceArcAndDot)
{
    CVLookAndFeel lookAndFeel;
    for (int size : { 99, 100, 101 })
    {
        SCOPED_TRACE (size);
        const auto half = knob (lookAndFeel, size, 0.5f), empty = knob (lookAndFeel, size, 0.0f);

        // The large face reaches (80, 50), lighter than the grey ground; the small one ends at 54.
        EXPECT_EQ (brightness (half.getPixelAt (80, 50)) > 200, size > 99);

        // Between 0.9 and 0.95 of the radius only the thick arc shows; near
        // the rim both do. The arc runs from the start to the value.
        const float r = (float) (size / 2), c = (float) size * 0.5f;
        const auto between = onCircle (c, 0.925f * r, -1.25f), rim = onCircle (c, 0.975f * r, -1.25f);
        EXPECT_EQ (half.getPixelAt (between.x, between.y) != empty.getPixelAt (between.x, between.y), size < 101);
        EXPECT_NE (half.getPixelAt (rim.x, rim.y), empty.getPixelAt (rim.x, rim.y));
        const auto past = onCircle (c, 0.975f * r, 1.25f);
        EXPECT_EQ (half.getPixelAt (past.x, past.y), empty.getPixelAt (past.x, past.y));

        // Up to 100 a dot of 0x50101010 over the face; from 101 a white one
        // under its shade, v = 255 - 15 / 101 x 255 = 217 at alpha 96: 240.7.
        const auto dot = dotCentre (size, 0.5f);
        const float withDot = (float) brightness (half.getPixelAt (dot.x, dot.y));
        const float face = (float) brightness (empty.getPixelAt (dot.x, dot.y));
        EXPECT_NEAR (withDot, size <= 100 ? face * (1.0f - 80.0f / 255.0f) + 16.0f * 80.0f / 255.0f : 240.7f, 1.5f);
    }

    // On the largest knob the shade is measurable: at the top, v = 255 - 82 / 234 x 255
    // = 165 at alpha 96 over white gives 221; the white shows at the lower right rim.
    const auto big = knob (lookAndFeel, 234, 0.5f);
    const auto dot = dotCentre (234, 0.5f);
    EXPECT_NEAR (big.getPixelAt (dot.x, dot.y).getRed(), 221, 3);
    int rimMax = 0;
    for (int d = 8; d <= 10; ++d)
        rimMax = juce::jmax (rimMax, brightness (big.getPixelAt (dot.x + d, dot.y + d)));
    EXPECT_GE (rimMax, 250);

    for (const char* position : { "0", "0.5", "1" })
    {
        std::vector<juce::Image> knobs;
        for (int size : { 54, 99, 100, 101, 234 })
            knobs.push_back (knob (lookAndFeel, size, juce::String (position).getFloatValue()));
        saveRow (juce::String ("look-knobs-") + position + ".png", knobs);
    }
}

TEST (CVLookAndFeel, TogglesShowPressAndStateAndFadeWhenDisabled)
{
    CVLookAndFeel lookAndFeel;
    juce::ToggleButton button ("NOISE");
    button.setSize (60, 60);
    const auto draw = [&] (bool on, bool down) {
        button.setToggleState (on, juce::dontSendNotification);
        return render (60, 60, [&] (juce::Graphics& g) { lookAndFeel.drawToggleButton (g, button, false, down); });
    };
    const auto captionAlpha = [] (const juce::Image& image) {
        int most = 0;
        for (int y = 42; y < 60; ++y)
            for (int x = 0; x < 60; ++x)
                most = juce::jmax (most, (int) image.getPixelAt (x, y).getAlpha());
        return most;
    };

    // (21, 3) lies in the ring of the 42-pixel button.
    const auto on = draw (true, false), off = draw (false, false);
    EXPECT_TRUE (isBlue (on.getPixelAt (21, 3)));
    EXPECT_FALSE (isBlue (off.getPixelAt (21, 3)));
    EXPECT_TRUE (isBlue (draw (false, true).getPixelAt (21, 3)));
    EXPECT_GE (captionAlpha (on), 120);

    button.setEnabled (false);
    const auto disabled = draw (true, false);
    EXPECT_NEAR (disabled.getPixelAt (21, 21).getAlpha(), 128, 2);
    EXPECT_TRUE (isBlue (disabled.getPixelAt (21, 3)));
    EXPECT_LE (captionAlpha (disabled), 66);
    saveRow ("look-toggles-on-off-disabled.png", { on, off, disabled });
}

TEST (CVLookAndFeel, ProgressDiscGrowsClockwiseAndUnknownProgressShowsOnlyText)
{
    CVLookAndFeel lookAndFeel;
    double value = 0.0;
    juce::ProgressBar bar (value);
    bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colour (0xff202020));
    bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff10c010));
    const auto draw = [&] (double progress, const juce::String& text) {
        return render (196, 196, [&] (juce::Graphics& g) { lookAndFeel.drawProgressBar (g, bar, 196, 196, progress, text); });
    };
    const auto drawnArea = apptest::inkBounds;

    EXPECT_TRUE (drawnArea (draw (-1.0, {})).isEmpty());
    const auto textOnly = drawnArea (draw (-1.0, "Analyzing"));
    EXPECT_FALSE (textOnly.isEmpty());
    EXPECT_TRUE (juce::Rectangle<int> (0, 82, 196, 32).contains (textOnly)) << textOnly.toString();

    // The ring is the outer 7 % of a 98-pixel radius: 94.5 is on it.
    const auto partial = draw (0.3, {});
    EXPECT_EQ (partial.getPixelAt (98, 98), juce::Colour (0xff202020));
    const auto done = onCircle (98.0f, 94.5f, 0.15f * 6.28f), toDo = onCircle (98.0f, 94.5f, 0.6f * 6.28f);
    EXPECT_EQ (partial.getPixelAt (done.x, done.y), juce::Colour (0xff10c010));
    EXPECT_EQ (partial.getPixelAt (toDo.x, toDo.y), juce::Colour (0xff202020));
    saveRow ("look-progress-0.3.png", { draw (0.3, "Analyzing Media") });

    // Only the disc is drawn: an opaque bar would leave its corners unpainted
    // (they showed white over the noise display's recess).
    bar.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::black);
    bar.setLookAndFeel (&lookAndFeel);
    EXPECT_FALSE (bar.isOpaque());
    bar.setLookAndFeel (nullptr);
}

namespace
{
struct CommandLog : juce::ApplicationCommandManagerListener
{
    void applicationCommandInvoked (const juce::ApplicationCommandTarget::InvocationInfo& info) override
    {
        ran.push_back (info.commandID);
    }
    void applicationCommandListChanged() override {}

    std::vector<juce::CommandID> ran;
};

// A document window with the program's command table and shortcuts, every
// command enabled, that records which command each key ran.
struct KeyWindow : CVDocumentWindow
{
    KeyWindow()
    {
        box.addItemList ({ "Off", "Light", "Medium", "Strong" }, 1);
        box.setSelectedId (2, juce::dontSendNotification);
        box.setBounds (10, 10, 160, 24);
        content.setSize (300, 200);
        content.setLookAndFeel (&lookAndFeel);
        content.addAndMakeVisible (box);
        setContentNonOwned (&content, true);
        commands.registerAllCommandsForTarget (this);
        commands.addListener (&log);
        addKeyListener (commands.getKeyMappings());
        setVisible (true);
    }
    ~KeyWindow() override
    {
        removeKeyListener (commands.getKeyMappings());
        commands.removeListener (&log);
        clearContentComponent();
        content.setLookAndFeel (nullptr);
    }

    void getCommandInfo (juce::CommandID id, juce::ApplicationCommandInfo& info) override
    {
        CVDocumentWindow::getCommandInfo (id, info);
        info.setActive (true);
    }
    void closeRequested() override {}

    juce::ApplicationCommandManager commands;
    CommandLog log;
    CVLookAndFeel lookAndFeel;
    juce::Component content;
    ComboBox_IgnoreKeys box;
};
} // namespace

TEST (ComboBoxIgnoreKeys, ArrowsAndReturnReachTheWindowsShortcuts)
{
    KeyWindow window;
    window.box.grabKeyboardFocus();
    ASSERT_TRUE (window.box.hasKeyboardFocus (false));
    auto* peer = window.getPeer();
    ASSERT_NE (peer, nullptr);

    for (int key : { juce::KeyPress::upKey, juce::KeyPress::downKey })
        EXPECT_FALSE (peer->handleKeyPress (juce::KeyPress (key)));
    EXPECT_TRUE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::rightKey)));
    EXPECT_TRUE (peer->handleKeyPress (juce::KeyPress (juce::KeyPress::returnKey)));

    EXPECT_EQ (window.log.ran, (std::vector<juce::CommandID> { CVDocumentWindow::forward, CVDocumentWindow::rewindToStart }));
    EXPECT_EQ (window.box.getSelectedId(), 2);
    EXPECT_FALSE (window.box.isPopupActive());

    // The list drawn open. Taken at once: without a window manager this
    // process is never in front, and an open menu closes on its first tick.
    window.box.showPopup();
    juce::Component* menu = nullptr;
    for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
        if (auto* c = juce::Desktop::getInstance().getComponent (i); c != &window && c->isVisible())
            menu = c;
    ASSERT_NE (menu, nullptr);
    menu->setAlpha (1.0f);
    saveRow ("look-combo-open.png", { window.box.createComponentSnapshot (window.box.getLocalBounds()),
                                      menu->createComponentSnapshot (menu->getLocalBounds()) });
    window.box.hidePopup();
}
