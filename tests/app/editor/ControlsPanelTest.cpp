#include <gtest/gtest.h>

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVPlusEditor.h"
#include "app/editor/CVUIEditor.h"
#include "app/editor/CreditsComponent.h"
#include "app/editor/MeterComponent.h"
#include "app/support/ScopedConfigHome.h"
#include "app/support/TestHelpers.h"
#include "app/editor/WashWindowComponent.h"

#include <cmath>
#include <map>

namespace
{
using Panel = CVPlusEditor;

struct StubHost : CVPlusEditor::Host
{
    bool playing = false, canPlay = true, idle = true, recorder = false;
    double position = 2.5;
    int playPauses = 0;
    bool isPlaying() override { return playing; }
    void playPause() override { ++playPauses, playing = canPlay && ! playing; }
    bool isIdle() override { return idle; }
    bool isRecorderMode() override { return recorder; }
    double getPlayPosition() override { return position; }
};

using apptest::pump;
using apptest::snapshot;

struct PanelFixture
{
    explicit PanelFixture (bool prepared = true)
    {
        processor.setRateAndBufferSizeDetails (prepared ? 44100.0 : 0.0, 512);
        if (prepared)
            processor.prepareToPlay (44100.0, 512);
        editor = std::make_unique<CVUIEditor> (processor, progress);
        editor->showPanel (CVUIEditor::controlsPanel);
        panel().setHost (&host);
        pump();
    }

    Panel& panel() { return editor->getControlsPanel(); }
    juce::Slider& slider (int row) { return panel().getSlider (row); }
    juce::Button& button (int row) { return panel().getButton (row); }
    WashWindowComponent& wash() { return panel().getWashWindow(); }
    RangeBoxComponent& box() { return wash().getRangeBox(); }
    juce::String status() { return wash().isWaveformMode() ? wash().getLiveDisplay().getStatusText() : wash().getStatusText(); }
    float param (int i) { return processor.getParameter (i); }

    // As a drag moves the knob: the callback runs whatever value it held.
    void move (int row, double v)
    {
        auto& s = slider (row);
        s.setValue (v == s.getMinimum() ? s.getMaximum() : s.getMinimum(), juce::dontSendNotification);
        s.setValue (v, juce::sendNotificationSync);
    }

    void click (int row, bool on) { button (row).setToggleState (on, juce::sendNotificationSync); }

    void noiseBlock() { apptest::processNoise (processor); }

    ScopedConfigHome home;
    CVAudioProcessor processor;
    double progress = 0.0;
    StubHost host;
    std::unique_ptr<CVUIEditor> editor;
};

struct ChangeCounter : juce::ChangeListener
{
    int count = 0;
    void changeListenerCallback (juce::ChangeBroadcaster*) override { ++count; }
};

} // namespace

TEST (ControlsPanel, EveryWidgetWhereTheTableSaysWithItsSettings)
{
    PanelFixture f;
    auto& p = f.panel();
    p.setSize (1000, 600);

    // Rows 1-51: kind (Toggle, Slider, Image button, label Centred or Left,
    // combo Box, Meter, Wash, Progress), text, bounds, label font.
    struct Expect { char kind; const char* text; int x, y, w, h; float font = 0; };
    const Expect table[] = {
        { 'T', "LEARN", 482, 195, 42, 50 }, { 'S', "", 20, 16, 234, 234 }, { 'S', "", 520, 16, 234, 234 }, { 'S', "", 213, 317, 54, 54 },
        { 'S', "", 72, 272, 136, 24 }, { 'C', "NOISE TUNER", 64, 248, 150, 24, 18 }, { 'C', "NOISE REDUCTION", 562, 248, 166, 24, 18 },
        { 'C', "DECLICK", 207, 371, 64, 24, 15 }, { 'S', "", 31, 317, 54, 54 }, { 'L', "OFF", 7, 350, 30, 24, 15 },
        { 'L', "50", 46, 295, 32, 24, 15 }, { 'L', "60", 79, 350, 32, 24, 15 }, { 'L', "HUM", 43, 371, 48, 24, 15 },
        { 'I', "new button", 304, 308, 187, 44 }, { 'T', "DECLIPPER", 726, 195, 42, 50 }, { 'S', "", 338, 371, 152, 25 },
        { 'C', "BOOST", 295, 371, 48, 24, 15 }, { 'T', "TRACK", 482, 16, 42, 50 }, { 'S', "", 523, 317, 54, 54 },
        { 'L', "LO-CUT", 528, 371, 64, 24, 15 }, { 'S', "", 121, 316, 54, 54 }, { 'L', "HARMONICS", 113, 371, 80, 24, 15 },
        { 'L', "1", 110, 350, 24, 24, 15 }, { 'L', "7", 139, 295, 24, 24, 15 }, { 'L', "14", 169, 350, 24, 24, 15 },
        { 'S', "", 607, 317, 54, 54 }, { 'L', "HI-CUT", 613, 371, 72, 24, 15 }, { 'L', "0", 595, 350, 22, 24, 15 },
        { 'L', "9k", 623, 294, 32, 24, 15 }, { 'L', "18k", 652, 349, 32, 24, 15 }, { 'L', "0", 510, 350, 32, 24, 15 },
        { 'L', "70", 539, 294, 32, 24, 15 }, { 'L', "140", 569, 350, 32, 24, 15 }, { 'T', "WAVEFORM", 247, 16, 42, 50 },
        { 'S', "", 697, 317, 54, 54 }, { 'C', "D-EXPAND", 688, 371, 72, 24, 15 }, { 'L', "0", 199, 350, 32, 24, 15 },
        { 'L', "100", 259, 350, 32, 24, 15 }, { 'L', "1:1", 680, 350, 32, 24, 15 }, { 'L', "1:2", 707, 294, 32, 24, 15 },
        { 'L', "1:3", 743, 350, 32, 24, 15 }, { 'L', "50", 227, 295, 32, 24, 15 }, { 'C', "ENHANCE", 0, 272, 72, 24, 15 },
        { 'I', "new button", 363, 230, 54, 54 }, { 'T', "NOISE ONLY", 247, 195, 42, 50 }, { 'L', "NOISE REDUCTION", 340, 284, 136, 24, 15 },
        { 'B', "", 216, 272, 60, 24 }, { 'M', "", 305, 358, 176, 14 }, { 'M', "", 702, 368, 46, 12 }, { 'W', "", 290, 32, 196, 196 },
        { 'P', "", 290, 32, 196, 196 },
    };
    // Range, interval, style, left text box, editable, track colour (0: none), drag sensitivity 60.
    using S = juce::Slider::SliderStyle;
    constexpr auto vertical = S::RotaryVerticalDrag, rotary = S::RotaryHorizontalVerticalDrag, linear = S::LinearHorizontal;
    struct SliderExpect { int row; double lo, hi, step; S style; bool left, editable; juce::uint32 track; bool sensitive; };
    const SliderExpect sliders[] = {
        { 2, -20, 20, 0, vertical, false, false, 0, false }, { 3, 0, 30, 0, vertical, false, false, 0, false },
        { 4, 0, 1, 0, rotary, false, false, 0xffffffff, true }, { 5, 0, 1, 0, linear, false, false, 0xffffffff, false },
        { 9, 0, 2, 1, rotary, false, true, 0xffffffff, true }, { 16, 0, 10, 0, linear, false, false, 0xffffffff, false },
        { 19, 0, 1, 0, rotary, true, false, 0, true }, { 21, 1, 14, 1, rotary, false, true, 0x11ffffff, true },
        { 26, 0, 18000, 0, rotary, true, false, 0, true }, { 35, 0, 1, 0, rotary, false, false, 0x11ffffff, true },
    };
    const juce::Slider plain;
    const std::map<char, const char*> names { { 'T', "new toggle button" }, { 'S', "new slider" }, { 'I', "new button" },
                                              { 'C', "new label" }, { 'L', "new label" }, { 'B', "new combo box" } };

    for (int row = 1; row <= Panel::numRows; ++row)
    {
        SCOPED_TRACE (row);
        const auto& e = table[row - 1];
        auto& c = p.getWidget (row);
        EXPECT_EQ (c.getParentComponent(), &p);
        EXPECT_EQ (c.getBounds(), juce::Rectangle<int> (e.x, e.y, e.w, e.h));
        EXPECT_EQ (c.getName(), names.count (e.kind) != 0 ? names.at (e.kind) : c.getName());
        if (auto* label = dynamic_cast<juce::Label*> (&c))
        {
            EXPECT_TRUE (e.kind == 'C' || e.kind == 'L');
            EXPECT_EQ (label->getText(), e.text);
            EXPECT_EQ (label->getFont().getHeight(), e.font);
            EXPECT_EQ (label->getJustificationType(), e.kind == 'C' ? juce::Justification::centred : juce::Justification::centredLeft);
            EXPECT_EQ (label->findColour (juce::Label::textColourId), juce::Colour (0x80000000));
            EXPECT_FALSE (label->isEditable());
        }
        else if (auto* b = dynamic_cast<juce::Button*> (&c))
        {
            EXPECT_EQ (e.kind, dynamic_cast<juce::ImageButton*> (b) != nullptr ? 'I' : 'T');
            EXPECT_EQ (b->getButtonText(), e.text);
            EXPECT_FALSE (b->getWantsKeyboardFocus());
        }
        else if (auto* s = dynamic_cast<juce::Slider*> (&c))
        {
            const auto& x = *std::find_if (std::begin (sliders), std::end (sliders), [&] (auto& r) { return r.row == row; });
            EXPECT_EQ (s->getRange(), juce::Range<double> (x.lo, x.hi));
            EXPECT_EQ (s->getInterval(), x.step);
            EXPECT_EQ (s->getSliderStyle(), x.style);
            EXPECT_EQ (s->getTextBoxPosition(), x.left ? juce::Slider::TextBoxLeft : juce::Slider::NoTextBox);
            EXPECT_EQ (s->getTextBoxWidth(), x.left ? 0 : 80);
            EXPECT_EQ (s->isTextBoxEditable(), x.editable);
            EXPECT_EQ (s->isColourSpecified (juce::Slider::trackColourId), x.track != 0);
            EXPECT_EQ (s->findColour (juce::Slider::trackColourId).getARGB(), x.track != 0 ? x.track : s->findColour (juce::Slider::trackColourId).getARGB());
            EXPECT_EQ (s->getMouseDragSensitivity(), x.sensitive ? 60 : plain.getMouseDragSensitivity());
            // The four small knobs on the right keep the framework's focus default.
            EXPECT_EQ (s->getWantsKeyboardFocus(), row == 19 || row == 21 || row == 26 || row == 35 ? plain.getWantsKeyboardFocus() : false);
        }
    }

    auto& presets = p.getPresetBox();
    EXPECT_EQ (presets.getNumItems(), 6);
    const char* items[] = { "L+H", "L+M", "M+H", "Lows", "Mids", "Highs" };
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (presets.getItemText (i), items[i]);
    EXPECT_EQ (presets.getTextWhenNoChoicesAvailable(), "(no choices)");
    EXPECT_FALSE (presets.getWantsKeyboardFocus());

    // Tips 1-18 by the row that carries them, with their length in characters
    // (the double spaces included); the typographic ones as UTF-8.
    auto tip = [&] (int row) { return dynamic_cast<juce::SettableTooltipClient&> (p.getWidget (row)).getTooltip(); };
    const std::pair<int, int> tipLengths[] = { { 1, 358 }, { 2, 177 }, { 3, 165 }, { 4, 219 }, { 5, 199 }, { 9, 266 },
                                               { 15, 86 }, { 16, 120 }, { 18, 90 }, { 19, 112 }, { 21, 210 }, { 26, 81 },
                                               { 34, 205 }, { 35, 112 }, { 44, 36 }, { 45, 138 }, { 47, 171 }, { 50, 283 } };
    for (auto [row, length] : tipLengths)
        EXPECT_EQ (tip (row).length(), length) << row;
    const auto utf8 = [] (const char* text) { return juce::String (juce::CharPointer_UTF8 (text)); };
    EXPECT_TRUE (tip (1).contains (utf8 ("this \xe2\x80\x9cnoise profile\xe2\x80\x9d has")) && tip (1).contains ("automatically.  Hold"));
    EXPECT_TRUE (tip (2).contains (utf8 ("automatically \xe2\x80\x93 or")));
    EXPECT_TRUE (tip (45).startsWith (utf8 ("\xe2\x80\x9cNoise Only\xe2\x80\x9d mode")));
    EXPECT_TRUE (tip (50).startsWith (utf8 ("Wash Window - Clarivo\xe2\x80\x99s unique")) && tip (50).contains ("signal.  Click"));
    EXPECT_EQ (tip (44), "Turns the noise reduction on or off.");
    EXPECT_EQ (tip (14), "");

    EXPECT_FALSE (p.isProgressVisible());
    EXPECT_EQ (p.getProgressBar().findColour (juce::ProgressBar::foregroundColourId), juce::Colour (0xff0080f0));
}

// Each control writes its parameters and its readout at once; the refresh after
// the processor's change message then shows every parameter set elsewhere.
TEST (ControlsPanel, EveryControlWritesItsParametersAndFollowsTheProcessor)
{
    PanelFixture f;
    struct Move { int row; double v; std::vector<std::pair<int, float>> params; const char* text; };
    const Move moves[] = {
        { Panel::tunerKnob, 3, { { 2, 0.575f } }, "Tuner :   3dB" },
        { Panel::reductionKnob, 15, { { 3, 0.5f } }, "Reduction : -15dB" },
        { Panel::declickKnob, 0.5, { { 0, 0.5f } }, "Declick :  50%" },
        { Panel::enhanceSlider, 1.0, { { 1, 1.0f } }, "Enhance : 100%" },
        { Panel::humKnob, 0, { { 6, 1.0f } }, "Hum : Off" },
        { Panel::humKnob, 1, { { 6, 0.0f } }, "Hum : 50Hz" },
        { Panel::humKnob, 2, { { 6, 0.5f } }, "Hum : 60Hz" },
        { Panel::loCutKnob, 0.5, { { 13, 0.5f }, { 5, 1.0f } }, "Lo-Cut :  70Hz" },
        { Panel::loCutKnob, 0, { { 13, 0.0f }, { 5, 0.0f } }, "Lo-Cut :   0Hz" },
        { Panel::hiCutKnob, 9000, { { 14, 0.5f }, { 4, 1.0f } }, "Hi-Cut : 9000Hz" },
        { Panel::hiCutKnob, 0, { { 14, 0.0f }, { 4, 0.0f } }, "Hi-Cut :   0Hz" },
        { Panel::harmonicsKnob, 7, { { 12, 0.5f } }, "Harmonics : 7" },
        { Panel::boostSlider, 2.5, { { 8, 0.25f } }, "Boost : +10.0dB" },
        { Panel::dExpandKnob, 0.6, { { 19, 0.6f } }, "Boost : +10.0dB" },
    };
    for (const auto& m : moves)
    {
        SCOPED_TRACE (m.text);
        f.move (m.row, m.v);
        for (auto [index, value] : m.params)
            EXPECT_NEAR (f.param (index), value, 1e-6f) << index;
        EXPECT_EQ (f.status(), m.text);
    }
    f.panel().sliderDragEnded (&f.slider (Panel::boostSlider));
    EXPECT_EQ (f.status(), "");

    f.click (Panel::declipperButton, true);
    f.click (Panel::trackButton, true);
    EXPECT_EQ (f.param (9), 1.0f);
    EXPECT_EQ (f.param (10), 1.0f);
    f.click (Panel::noiseReductionButton, true);
    EXPECT_EQ (f.param (7), 0.5f);
    f.click (Panel::noiseOnlyButton, true);
    EXPECT_EQ (f.param (7), 1.0f);
    f.click (Panel::noiseOnlyButton, false);
    EXPECT_EQ (f.param (7), 0.5f);
    f.click (Panel::noiseOnlyButton, true);
    f.click (Panel::noiseReductionButton, false);
    EXPECT_EQ (f.param (7), 0.0f);  // a callback of the other button would have written 0.5
    EXPECT_FALSE (f.button (Panel::noiseOnlyButton).getToggleState());
    f.click (Panel::waveformButton, true);
    EXPECT_TRUE (f.wash().isWaveformMode());
    f.click (Panel::waveformButton, false);
    pump();

    f.wash().setStatusText ("kept");
    const std::pair<int, float> settings[] = { { 0, 0.3f }, { 1, 0.7f }, { 2, 0.25f }, { 3, 0.2f }, { 6, 0.0f }, { 7, 0.5f },
                                               { 8, 0.5f }, { 9, 0.0f }, { 10, 0.0f }, { 12, 5.0f / 14 }, { 13, 0.25f },
                                               { 14, 0.25f }, { 17, 2.0f / 6 }, { 19, 0.3f } };
    for (auto [index, value] : settings)
        f.processor.setParameter (index, value);
    pump();
    const std::pair<int, double> shown[] = { { Panel::declickKnob, 0.3 }, { Panel::enhanceSlider, 0.7 }, { Panel::tunerKnob, -10 },
                                             { Panel::reductionKnob, 6 }, { Panel::humKnob, 1 }, { Panel::boostSlider, 5 },
                                             { Panel::harmonicsKnob, 5 }, { Panel::loCutKnob, 0.25 }, { Panel::hiCutKnob, 4500 },
                                             { Panel::dExpandKnob, 0.3 } };
    for (auto [row, value] : shown)
        EXPECT_NEAR (f.slider (row).getValue(), value, 1e-4) << row;
    EXPECT_TRUE (f.button (Panel::noiseReductionButton).getToggleState());
    EXPECT_FALSE (f.button (Panel::declipperButton).getToggleState());
    EXPECT_FALSE (f.button (Panel::trackButton).getToggleState());
    EXPECT_EQ (f.panel().getPresetBox().getSelectedItemIndex(), 2);
    EXPECT_EQ (f.status(), "kept");
    EXPECT_NEAR (f.param (1), 0.7f, 1e-6f);  // the preset's write-back keeps the amount

    // Every preset mode, 6 included (the box has no item for it), survives
    // the refresh and the box's asynchronous write-back.
    for (int mode = 0; mode <= 6; ++mode)
    {
        f.processor.setParameter (17, (float) mode / 6.0f);
        pump();
        EXPECT_EQ (f.processor.getEnhancementBay().getMode(), mode);
        EXPECT_EQ (f.panel().getPresetBox().getSelectedItemIndex(), mode < 6 ? mode : -1);
    }
}

TEST (ControlsPanel, RangeBoxSetsTheBandOrTheExpanderThreshold)
{
    PanelFixture f;
    ChangeCounter changes;
    f.processor.addChangeListener (&changes);
    f.box().rangeLow = 0.0f;
    f.box().rangeHigh = 1.0f;
    f.panel().actionListenerCallback ("nrRange");
    pump();
    EXPECT_EQ (f.param (15), 22050.0f / 384000.0f);
    EXPECT_EQ (f.param (16), 0.0f);
    EXPECT_EQ (f.status(), "NR :   0Hz -  22kHz");
    EXPECT_EQ (changes.count, 0);

    f.box().rangeLow = 0.3f, f.box().rangeHigh = 0.4f;
    f.panel().changeListenerCallback (&f.processor);
    EXPECT_NEAR (f.box().rangeLow, 0.0f, 1e-6f);
    EXPECT_NEAR (f.box().rangeHigh, 1.0f, 1e-6f);
    EXPECT_NEAR (f.wash().getBandHigh(), 1.0f, 1e-6f);

    f.click (Panel::waveformButton, true);
    f.box().threshold = 0.5f;
    f.panel().actionListenerCallback ("nrRange");
    EXPECT_EQ (f.param (18), 0.5f);
    EXPECT_EQ (f.status(), "Threshold : -12dB");
    f.box().threshold = 1.0f;
    f.panel().actionListenerCallback ("nrRange");
    EXPECT_EQ (f.status(), "Threshold : -infdB");

    // An empty box clears the text and writes nothing; other messages do nothing.
    f.box().setSize (0, 0);
    f.box().threshold = 0.2f;
    f.panel().actionListenerCallback ("nrRange");
    EXPECT_EQ (f.status(), "");
    EXPECT_EQ (f.param (18), 1.0f);
    f.box().setSize (196, 196);
    f.panel().actionListenerCallback ("other");
    EXPECT_EQ (f.param (18), 1.0f);
    f.processor.removeChangeListener (&changes);
}

// Before the first playback the processor has no rate: the band cannot be
// mapped, and neither the box nor the parameters may take a NaN from it.
TEST (ControlsPanel, NoRateYetLeavesTheBandAlone)
{
    PanelFixture f (false);
    EXPECT_TRUE (std::isfinite (f.box().rangeLow) && std::isfinite (f.box().rangeHigh));
    f.box().rangeLow = 0.2f, f.box().rangeHigh = 0.6f;
    f.panel().actionListenerCallback ("nrRange");
    EXPECT_EQ (f.param (15), 22050.0f / 384000.0f);
    EXPECT_EQ (f.param (16), 0.0f);
    EXPECT_EQ (f.status(), "");
}

TEST (ControlsPanel, LearnPlaysLearnsAndClears)
{
    PanelFixture f;
    auto& learn = f.button (Panel::learnButton);
    auto& bay = f.processor.getNoiseReductionBay();

    learn.setState (juce::Button::buttonDown);
    EXPECT_EQ (f.host.playPauses, 1);
    EXPECT_EQ (f.processor.learnRegion.start, 110250);
    EXPECT_EQ (f.processor.learnRegion.length, 12288);
    EXPECT_NE (bay.isLearning(), 0);
    f.noiseBlock();
    pump();

    learn.setState (juce::Button::buttonNormal);
    f.panel().buttonClicked (&learn);
    EXPECT_TRUE (learn.getToggleState());
    EXPECT_FALSE (f.panel().isTimerRunning (Panel::kClearTimer));
    f.noiseBlock();
    pump();
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_FALSE (learn.getToggleState());
    EXPECT_TRUE (f.button (Panel::noiseReductionButton).getToggleState());
    const float learned = bay.getChannelProfile (0)->getData()[10];

    // Option-click: the same press and release while playing, then the clear.
    learn.setState (juce::Button::buttonDown);
    learn.setState (juce::Button::buttonNormal);
    EXPECT_EQ (f.host.playPauses, 1);
    f.panel().clickModifiers = [] { return juce::ModifierKeys (juce::ModifierKeys::altModifier); };
    f.panel().buttonClicked (&learn);
    EXPECT_EQ (f.panel().getTimerInterval (Panel::kClearTimer), 50);
    f.panel().timerCallback (Panel::kClearTimer);
    EXPECT_FALSE (f.panel().isTimerRunning (Panel::kClearTimer));
    EXPECT_EQ (f.processor.learnRegion.start, 0);
    EXPECT_EQ (f.processor.learnRegion.length, 0);
    const auto* profile = bay.getChannelProfile (0);
    EXPECT_NE (learned, -48.0f);
    for (int i = 0; i < (int) profile->getLength(); ++i)
        ASSERT_EQ (profile->getData()[i], -48.0f) << i;
}

// Nothing to play: a pass started now would learn the first music played later.
TEST (ControlsPanel, LearnWithNothingToPlayStartsNoPass)
{
    for (bool recorder : { false, true })
    {
        PanelFixture f;
        f.host.canPlay = false;
        f.host.recorder = recorder;
        auto& learn = f.button (Panel::learnButton);
        learn.setState (juce::Button::buttonDown);
        learn.setState (juce::Button::buttonNormal);
        f.panel().buttonClicked (&learn);
        pump();
        EXPECT_EQ (f.processor.getNoiseReductionBay().isLearning(), 0);
        EXPECT_EQ (f.processor.learnRegion.length, 0);
        EXPECT_FALSE (learn.getToggleState());
        EXPECT_EQ (f.host.playPauses, recorder ? 0 : 1);
    }
}

// The range box covers the whole noise display and takes the mouse: the
// tooltip window, which asks only what lies under the mouse, must find the
// display's tip on it.
TEST (ControlsPanel, TheNoiseDisplaysTipShowsOverItsRangeBox)
{
    PanelFixture f;
    auto* tips = f.panel().getTooltipWindow();
    ASSERT_NE (tips, nullptr);
    // Tips show only while the program is the active one.
    f.editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
    f.editor->setVisible (true);
    f.editor->toFront (true);
    auto* peer = f.editor->getPeer();
    for (int i = 0; i < 100 && ! peer->isFocused(); ++i)
        pump (20);
    ASSERT_TRUE (juce::Process::isForegroundProcess());

    peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse,
                            peer->globalToLocal (f.wash().getScreenBounds().getCentre().toFloat()), {},
                            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                            juce::Time::currentTimeMillis());
    auto* under = juce::Desktop::getInstance().getMainMouseSource().getComponentUnderMouse();
    EXPECT_EQ (under, &f.box());
    ASSERT_NE (under, nullptr);
    const auto tip = tips->getTipFor (*under);
    EXPECT_TRUE (tip.startsWith ("Wash Window - ")) << tip;
    EXPECT_EQ (tip, f.wash().getTooltip());
}

TEST (ControlsPanel, MetersRepaintOnlyWhileIdleAndTheLogoShowsTheInformation)
{
    PanelFixture f;
    EXPECT_EQ (f.panel().getTimerInterval (Panel::kMeterTimer), 80);
    const int before = f.panel().getMeterRepaints();
    f.panel().timerCallback (Panel::kMeterTimer);
    f.host.idle = false;
    f.panel().timerCallback (Panel::kMeterTimer);
    f.panel().timerCallback (7);
    EXPECT_EQ (f.panel().getMeterRepaints(), before + 1);

    f.panel().buttonClicked (&f.button (Panel::logoButton));
    EXPECT_EQ (f.editor->getInformationPanel().getParentComponent(), f.editor.get());
}

TEST (ControlsPanel, Snapshots)
{
    PanelFixture f;
    snapshot (f.panel(), "controls_panel_defaults.png");

    f.processor.setParameter (7, 0.5f);
    f.processor.setParameter (6, 0.5f);
    f.processor.setParameter (8, 0.4f);
    f.processor.setParameter (15, 12000.0f / 384000.0f);
    f.processor.setParameter (16, 2000.0f / 384000.0f);
    pump();
    f.button (Panel::learnButton).setToggleState (true, juce::dontSendNotification);
    snapshot (f.panel(), "controls_panel_typical.png");

    f.progress = 0.4;
    f.panel().setProgressText ("Analyzing");
    f.panel().setProgressVisible (true);
    pump (700);  // the bar eases towards its value
    snapshot (f.panel(), "controls_panel_progress.png");

    // Without an over image the hovered button keeps its normal picture.
    f.processor.setParameter (7, 0.0f);
    pump();
    auto& nr = f.button (Panel::noiseReductionButton);
    const auto normal = nr.createComponentSnapshot (nr.getLocalBounds());
    nr.setState (juce::Button::buttonOver);
    const auto hovered = snapshot (nr, "controls_panel_nr_hovered.png");
    for (int y = 0; y < 54; y += 3)
        for (int x = 0; x < 54; x += 3)
            ASSERT_EQ (hovered.getPixelAt (x, y), normal.getPixelAt (x, y)) << x << "," << y;
}
