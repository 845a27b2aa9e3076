#include "app/editor/CVPlusEditor.h"

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"
#include "app/windows/ClarivoApplication.h"
#include "app/artwork/ClarivoArtwork.h"
#include "app/document/ClarivoDocument.h"
#include "app/editor/MeterComponent.h"
#include "app/windows/Preferences.h"
#include "app/editor/WashWindowComponent.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace
{
using Style = juce::Slider::SliderStyle;
constexpr juce::uint32 kFaintTrack = 0x11ffffff;

enum class Kind { toggle, slider, label, image };

struct WidgetRow
{
    Kind kind;
    const char* text;
    int x, y, w, h;
    int tip;         // 0: none
    float font = 0;  // labels
    bool centred = false;
};

// Rows 1-46 of the panel, in the order they are made.
const WidgetRow widgetTable[] = {
    { Kind::toggle, "LEARN", 482, 195, 42, 50, 1 },
    { Kind::slider, nullptr, 20, 16, 234, 234, 2 },
    { Kind::slider, nullptr, 520, 16, 234, 234, 3 },
    { Kind::slider, nullptr, 213, 317, 54, 54, 4 },
    { Kind::slider, nullptr, 72, 272, 136, 24, 5 },
    { Kind::label, "NOISE TUNER", 64, 248, 150, 24, 0, 18, true },
    { Kind::label, "NOISE REDUCTION", 562, 248, 166, 24, 0, 18, true },
    { Kind::label, "DECLICK", 207, 371, 64, 24, 0, 15, true },
    { Kind::slider, nullptr, 31, 317, 54, 54, 6 },
    { Kind::label, "OFF", 7, 350, 30, 24, 0, 15 },
    { Kind::label, "50", 46, 295, 32, 24, 0, 15 },
    { Kind::label, "60", 79, 350, 32, 24, 0, 15 },
    { Kind::label, "HUM", 43, 371, 48, 24, 0, 15 },
    { Kind::image, nullptr, 304, 308, 187, 44, 0 },
    { Kind::toggle, "DECLIPPER", 726, 195, 42, 50, 7 },
    { Kind::slider, nullptr, 338, 371, 152, 25, 8 },
    { Kind::label, "BOOST", 295, 371, 48, 24, 0, 15, true },
    { Kind::toggle, "TRACK", 482, 16, 42, 50, 9 },
    { Kind::slider, nullptr, 523, 317, 54, 54, 10 },
    { Kind::label, "LO-CUT", 528, 371, 64, 24, 0, 15 },
    { Kind::slider, nullptr, 121, 316, 54, 54, 11 },
    { Kind::label, "HARMONICS", 113, 371, 80, 24, 0, 15 },
    { Kind::label, "1", 110, 350, 24, 24, 0, 15 },
    { Kind::label, "7", 139, 295, 24, 24, 0, 15 },
    { Kind::label, "14", 169, 350, 24, 24, 0, 15 },
    { Kind::slider, nullptr, 607, 317, 54, 54, 12 },
    { Kind::label, "HI-CUT", 613, 371, 72, 24, 0, 15 },
    { Kind::label, "0", 595, 350, 22, 24, 0, 15 },
    { Kind::label, "9k", 623, 294, 32, 24, 0, 15 },
    { Kind::label, "18k", 652, 349, 32, 24, 0, 15 },
    { Kind::label, "0", 510, 350, 32, 24, 0, 15 },
    { Kind::label, "70", 539, 294, 32, 24, 0, 15 },
    { Kind::label, "140", 569, 350, 32, 24, 0, 15 },
    { Kind::toggle, "WAVEFORM", 247, 16, 42, 50, 13 },
    { Kind::slider, nullptr, 697, 317, 54, 54, 14 },
    { Kind::label, "D-EXPAND", 688, 371, 72, 24, 0, 15, true },
    { Kind::label, "0", 199, 350, 32, 24, 0, 15 },
    { Kind::label, "100", 259, 350, 32, 24, 0, 15 },
    { Kind::label, "1:1", 680, 350, 32, 24, 0, 15 },
    { Kind::label, "1:2", 707, 294, 32, 24, 0, 15 },
    { Kind::label, "1:3", 743, 350, 32, 24, 0, 15 },
    { Kind::label, "50", 227, 295, 32, 24, 0, 15 },
    { Kind::label, "ENHANCE", 0, 272, 72, 24, 0, 15, true },
    { Kind::image, nullptr, 363, 230, 54, 54, 15 },
    { Kind::toggle, "NOISE ONLY", 247, 195, 42, 50, 16 },
    { Kind::label, "NOISE REDUCTION", 340, 284, 136, 24, 0, 15 },
};
static_assert (std::size (widgetTable) == 46);

struct SliderRow
{
    int row;
    double min, max, interval;
    Style style;
    bool leftTextBox, editable;
    juce::uint32 track;  // 0: the look and feel's
    bool dragSensitive;
};

const SliderRow sliderTable[] = {
    { CVPlusEditor::tunerKnob, -20, 20, 0, Style::RotaryVerticalDrag, false, false, 0, false },
    { CVPlusEditor::reductionKnob, 0, 30, 0, Style::RotaryVerticalDrag, false, false, 0, false },
    { CVPlusEditor::declickKnob, 0, 1, 0, Style::RotaryHorizontalVerticalDrag, false, false, kFaintTrack, true },
    { CVPlusEditor::enhanceSlider, 0, 1, 0, Style::LinearHorizontal, false, false, kFaintTrack, false },
    { CVPlusEditor::humKnob, 0, 2, 1, Style::RotaryHorizontalVerticalDrag, false, true, kFaintTrack, true },
    { CVPlusEditor::boostSlider, 0, 10, 0, Style::LinearHorizontal, false, false, kFaintTrack, false },
    { CVPlusEditor::loCutKnob, 0, 1, 0, Style::RotaryHorizontalVerticalDrag, true, false, 0, true },
    { CVPlusEditor::harmonicsKnob, 1, 14, 1, Style::RotaryHorizontalVerticalDrag, false, true, kFaintTrack, true },
    { CVPlusEditor::hiCutKnob, 0, 18000, 0, Style::RotaryHorizontalVerticalDrag, true, false, 0, true },
    { CVPlusEditor::dExpandKnob, 0, 1, 0, Style::RotaryHorizontalVerticalDrag, false, false, kFaintTrack, true },
};

// Tips holding typographic punctuation are taken as they are; the others go
// through the translation table.
struct Tip
{
    const char* text;
    bool utf8;
};

const Tip tips[] = {
    { "Learn Noise Button - The Learn Noise button listens to the audio and determines the frequencies causing a broadband noise problem. Once this \xe2\x80\x9cnoise profile\xe2\x80\x9d has been determined, Learn Noise also sets the Noise Tuner and Noise Reduction knobs automatically.  Hold this button down during a section of the audio that only contains the noise you want to remove.", true },
    { "Noise Tuner Knob - Helps you \xe2\x80\x9ctune in\xe2\x80\x9d the hiss and background noise you want to remove. (The Learn Noise button sets this control automatically \xe2\x80\x93 or you can adjust it manually)", true },
    { "Noise Reduction Knob - Controls the amount of noise reduction being applied. (The Learn Noise button sets this control automatically \xe2\x80\x93 or you can adjust it manually)", true },
    { "Remove Click & Crackle Slider - This single slider controls the threshold level for both click and crackle reduction. (Moving it right removes more clicks and crackles \xe2\x80\x93 moving it left removes fewer clicks and crackles)", true },
    { "Enhance Amount - This slider is used to add back energy into the audio, depending on your selection in the pop-up menu.  It helps restore frequencies that may have been lost in old or degraded media.", false },
    { "Remove Hum Controls - Used for eliminating hum introduced into digital audio & video files from electrical interference. Use 60Hz for regions using 60Hz electrical systems (North/South America), and 50Hz in regions using 50Hz systems (Africa/ Asia/Australia/Europe).", false },
    { "Declipper - Fix distortion in the audio that can happen when it was recorded too loud.", false },
    { "Boost Slider - Use this setting to increase the overall loudness of the audio.  Be careful not to over-use this setting.", false },
    { "The Track setting automatically applies less noise reduction on louder parts of the audio.", false },
    { "Use this control to cut low-frequencies, such as turntable, motor, or other rumble sounds you want to eliminate.", false },
    { "Set the number of hum harmonics to remove.  Hum usually happens at several frequencies that are multiples (harmonics) of the fundamental hum frequency) - set as low as possible to get the desired hum reduction.", false },
    { "Use this control to cut high frequencies - often where hiss and noise is located.", false },
    { "Waveform toggle - use this button to alternate between the waveform and frequency displays in the wash window.  The waveform display is used to set the threshold used by some of the controls like D-Expand.", false },
    { "Downward Expander - this dynamic range expander reduces volume below the threshold you set in the waveform view.", false },
    { "Turns the noise reduction on or off.", false },
    { "\xe2\x80\x9cNoise Only\xe2\x80\x9d mode allows you to monitor just the offending broadband noise, providing useful feedback about the frequencies being removed.", true },
    { "Enhance Preset - use this pop-up menu to choose what frequencies to enhance with the slider on the right.  Use this control to bring back sparkle, bass, or vocal presence.", false },
    { "Wash Window - Clarivo\xe2\x80\x99s unique Wash Window provides a graphical representation of noise reduction. The left side of the window shows the unprocessed audio signal, and the right side shows the clean signal.  Click on the wash window to limit noise reduction to a range of frequencies.", true },
};

juce::String tipText (int tip)
{
    const auto& t = tips[tip - 1];
    return t.utf8 ? juce::String (juce::CharPointer_UTF8 (t.text)) : juce::translate (t.text);
}

// The readouts keep the C library's number formatting ("%3.0f" of -inf is
// "-inf"), which juce::String::formatted does not promise.
juce::String print (const char* format, ...)
{
    char text[96];
    va_list args;
    va_start (args, format);
    std::vsnprintf (text, sizeof (text), format, args);
    va_end (args);
    return text;
}

juce::String frequencyText (float hz)
{
    return hz >= 1000.0f ? print ("%3.0fkHz", (double) hz / 1000.0) : print ("%3.0fHz", (double) hz);
}

juce::Image picture (const clarivo::artwork::Picture& p)
{
    return juce::ImageCache::getFromMemory (p.data, p.size);
}

struct ApplicationHost : CVPlusEditor::Host
{
    static ClarivoApplication* app() { return ClarivoApplication::getApp(); }
    bool isPlaying() override { return app() != nullptr && app()->isPlaying(); }
    void playPause() override
    {
        if (app() != nullptr)
            app()->playPause();
    }
    bool isIdle() override { return app() == nullptr || app()->isIdle(); }
    bool isRecorderMode() override { return app() != nullptr && ! app()->isPlayerMode(); }
    double getPlayPosition() override { return app() != nullptr ? app()->getDocument().getPlayPosition() : 0.0; }
};
} // namespace

CVPlusEditor::CVPlusEditor (CVAudioProcessor& p, CVUIEditor* ownerEditor, Preferences* prefs, double& progress)
    : processor (p), owner (ownerEditor), preferences (prefs), defaultHost (std::make_unique<ApplicationHost>())
{
    host = defaultHost.get();
    buildWidgets();
    processor.addChangeListener (this);

    peakMeter = std::make_unique<MeterComponent> (&processor.getPeakMeter());
    expMeter = std::make_unique<MeterComponent> (&processor.getExpanderMeter());
    for (auto* meter : { peakMeter.get(), expMeter.get() })
    {
        meter->setSize (100, 10);
        meter->style = 1;
        addAndMakeVisible (*meter);
    }
    startTimer (kMeterTimer, kMeterPeriodMs);

    washWindow = std::make_unique<WashWindowComponent> (*owner, true);
    addAndMakeVisible (*washWindow);
    washWindow->setTooltip (tipText (18));
    washWindow->addChangeListener (this);
    washWindow->setWaveformMode (false);
    washWindow->addActionListener (this);

    progressBar = std::make_unique<juce::ProgressBar> (progress);
    addAndMakeVisible (*progressBar);
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colours::black);
    progressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0xff0080f0));
    progressBar->setVisible (false);

    changeListenerCallback (&processor);

    learnWasDown = false;
    setHelpTips (preferences->getHelpTips());

    for (int row : { learnButton, tunerKnob, reductionKnob, declickKnob, enhanceSlider, enhancePresetBox, humKnob,
                     logoButton, waveformButton, trackButton, boostSlider, declipperButton, noiseReductionButton,
                     noiseOnlyButton })
        getWidget (row).setWantsKeyboardFocus (false);

    for (const auto& s : sliderTable)
    {
        if (s.dragSensitive)
            getSlider (s.row).setMouseDragSensitivity (60);
    }
    for (int row : { enhanceSlider, boostSlider, humKnob, declickKnob })
        getSlider (row).setColour (juce::Slider::trackColourId, juce::Colours::white);

    getButton (noiseReductionButton).setClickingTogglesState (true);
    getButton (noiseOnlyButton).setClickingTogglesState (true);
    // The press and release drive Learn and its light; a click toggling it
    // as well would put the light out at every release.
    getButton (learnButton).setClickingTogglesState (false);

    setSize (780, 400);
    setLookAndFeel (&lookAndFeel);
    backgroundImage = picture (clarivo::artwork::panelBackground);
}

CVPlusEditor::~CVPlusEditor()
{
    stopTimer (kMeterTimer);
    stopTimer (kClearTimer);
    widgets.clear();
    presetBox.reset();
    washWindow->removeChangeListener (this);
    washWindow->removeActionListener (this);
    washWindow.reset();
    progressBar.reset();
    peakMeter.reset();
    expMeter.reset();
    tooltipWindow.reset();
    processor.removeChangeListener (this);
    setLookAndFeel (nullptr);
}

void CVPlusEditor::buildWidgets()
{
    widgets.resize (std::size (widgetTable) + 1);
    int row = 0;
    for (const auto& w : widgetTable)
    {
        ++row;
        std::unique_ptr<juce::Component> c;
        switch (w.kind)
        {
            case Kind::toggle:
            {
                auto b = std::make_unique<juce::ToggleButton> ("new toggle button");
                b->setButtonText (juce::translate (w.text));
                b->addListener (this);
                c = std::move (b);
                break;
            }
            case Kind::image:
            {
                auto b = std::make_unique<juce::ImageButton> ("new button");
                b->addListener (this);
                const bool logo = row == logoButton;
                const auto normal = picture (logo ? clarivo::artwork::productLogo : clarivo::artwork::noiseReductionOff);
                const auto down = logo ? normal : picture (clarivo::artwork::noiseReductionOn);
                const auto none = juce::Colours::transparentBlack;
                b->setImages (false, true, true, normal, 1.0f, none, logo ? normal : juce::Image(), 1.0f, none,
                              down, 1.0f, none, 0.0f);
                c = std::move (b);
                break;
            }
            case Kind::slider:
            {
                auto s = std::make_unique<juce::Slider> ("new slider");
                const auto& def = *std::find_if (std::begin (sliderTable), std::end (sliderTable),
                                                 [row] (const SliderRow& r) { return r.row == row; });
                s->setRange (def.min, def.max, def.interval);
                s->setSliderStyle (def.style);
                if (def.leftTextBox)
                    s->setTextBoxStyle (juce::Slider::TextBoxLeft, ! def.editable, 0, 20);
                else
                    s->setTextBoxStyle (juce::Slider::NoTextBox, ! def.editable, 80, 20);
                if (def.track != 0)
                    s->setColour (juce::Slider::trackColourId, juce::Colour (def.track));
                s->addListener (this);
                c = std::move (s);
                break;
            }
            case Kind::label:
            {
                auto l = std::make_unique<juce::Label> ("new label", juce::translate (w.text));
                l->setFont (juce::Font (w.font, 0));
                l->setJustificationType (w.centred ? juce::Justification::centred : juce::Justification::centredLeft);
                l->setEditable (false, false, false);
                l->setColour (juce::Label::textColourId, juce::Colour (0x80000000));
                l->setColour (juce::TextEditor::textColourId, juce::Colours::black);
                l->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
                c = std::move (l);
                break;
            }
        }
        if (w.tip != 0)
            if (auto* client = dynamic_cast<juce::SettableTooltipClient*> (c.get()))
                client->setTooltip (tipText (w.tip));
        addAndMakeVisible (*c);
        widgets[(size_t) row] = std::move (c);
    }

    presetBox = std::make_unique<ComboBox_IgnoreKeys> ("new combo box");
    addAndMakeVisible (*presetBox);
    presetBox->setTooltip (tipText (17));
    presetBox->setEditableText (false);
    presetBox->setJustificationType (juce::Justification::centredLeft);
    presetBox->setTextWhenNothingSelected ({});
    presetBox->setTextWhenNoChoicesAvailable (juce::translate ("(no choices)"));
    int id = 0;
    for (auto* item : { "L+H", "L+M", "M+H", "Lows", "Mids", "Highs" })
        presetBox->addItem (juce::translate (item), ++id);
    presetBox->addListener (this);
}

juce::Component& CVPlusEditor::getWidget (int row) const
{
    jassert (row >= 1 && row <= numRows);
    switch (row)
    {
        case enhancePresetBox: return *presetBox;
        case levelMeter: return *peakMeter;
        case expanderMeter: return *expMeter;
        case washWindowRow: return *washWindow;
        case progressBarRow: return *progressBar;
        default: return *widgets[(size_t) row];
    }
}

void CVPlusEditor::setHost (Host* newHost) noexcept
{
    host = newHost != nullptr ? newHost : defaultHost.get();
}

//==============================================================================
void CVPlusEditor::setHelpTips (bool on)
{
    if (! on)
        tooltipWindow.reset();
    else if (tooltipWindow == nullptr)
        tooltipWindow = std::make_unique<juce::TooltipWindow> (nullptr, kTooltipDelayMs);
}

void CVPlusEditor::setProgressVisible (bool shown) { progressBar->setVisible (shown); }
bool CVPlusEditor::isProgressVisible() const { return progressBar->isVisible(); }
void CVPlusEditor::setProgressText (const juce::String& text) { progressBar->setTextToDisplay (text); }

void CVPlusEditor::displayInputAudio (const float* const* in, int numIn, float* const* out, int numOut, int numSamples)
{
    washWindow->displayInputAudio (in, numIn, out, numOut, numSamples);
    samplesDisplayed += numSamples;
}

void CVPlusEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::white);
    g.drawImageAt (backgroundImage, 0, 0, false);
}

void CVPlusEditor::resized()
{
    int row = 0;
    for (const auto& w : widgetTable)
        widgets[(size_t) ++row]->setBounds (w.x, w.y, w.w, w.h);
    presetBox->setBounds (216, 272, 60, 24);
    peakMeter->setBounds (305, 358, 176, 14);
    expMeter->setBounds (702, 368, 46, 12);
    washWindow->setBounds (290, 32, 196, 196);
    progressBar->setBounds (290, 32, 196, 196);
}

//==============================================================================
void CVPlusEditor::write (int index, double value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    processor.setParameterNotifyingHost (index, (float) value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

void CVPlusEditor::setStatus (const juce::String& text) { washWindow->setStatusText (text); }

void CVPlusEditor::refreshWash()
{
    washWindow->renderWash();
    washWindow->repaint();
}

// Before the first playback the processor has no rate, and the mapping
// between positions and frequencies has nothing to stand on.
bool CVPlusEditor::rangeKnown (float& nyquist) const
{
    nyquist = (float) (processor.getSampleRate() * 0.5);
    return std::isfinite (nyquist) && nyquist > 0.0f;
}

void CVPlusEditor::changeListenerCallback (juce::ChangeBroadcaster*)
{
    using P = CVAudioProcessor::Parameter;
    auto& bay = processor.getNoiseReductionBay();
    const auto quiet = juce::dontSendNotification;

    getButton (learnButton).setToggleState (bay.isLearning() != 0, quiet);
    getButton (declipperButton).setToggleState (processor.getDeclipper (0).enabled.load(), quiet);
    getSlider (reductionKnob).setValue (bay.getReduction(), quiet);
    getSlider (tunerKnob).setValue (bay.getThreshold(), quiet);
    getSlider (enhanceSlider).setValue (processor.getEnhancementBay().getAmount(), quiet);
    getSlider (declickKnob).setValue (processor.getDeclickBay().getAmount(), quiet);

    getSlider (boostSlider).setValue (processor.getParameter (P::boost) * 10.0f, quiet);
    getButton (trackButton).setToggleState (bay.getTrack(), quiet);
    getSlider (loCutKnob).setValue (processor.getParameter (P::rumbleFrequency), quiet);
    getSlider (hiCutKnob).setValue (processor.getParameter (P::lowPassFrequency) * 18000.0f, quiet);
    getSlider (harmonicsKnob).setValue (processor.getParameter (P::numHarmonics) * 14.0f, quiet);
    switch ((int) (2.0f * processor.getParameter (P::humMode)))
    {
        case 2: getSlider (humKnob).setValue (0, quiet); break;
        case 1: getSlider (humKnob).setValue (2, quiet); break;
        case 0: getSlider (humKnob).setValue (1, quiet); break;
        default: break;
    }

    // In float, as the processor turns the parameter into its mode: in
    // double 5/6 x 6 falls just short of 5. A mode the box has no item for
    // (6) selects nothing, and nothing selected writes nothing back.
    const int preset = (int) (processor.getParameter (P::enhancePreset) * 6.0f);
    presetBox->setSelectedItemIndex (preset >= 0 && preset < presetBox->getNumItems() ? preset : -1,
                                     juce::sendNotificationAsync);

    getButton (noiseReductionButton).setToggleState (bay.getMode() != 0, quiet);
    getSlider (dExpandKnob).setValue (processor.getParameter (P::expanderAmount), quiet);

    washWindow->connectToProcessor (processor.getBlockSize());

    auto& box = washWindow->getRangeBox();
    float nyq;
    if (rangeKnown (nyq))
    {
        const auto edge = [nyq] (float hz) { return (float) ((std::pow (10.0, (double) ((nyq - hz) / nyq)) - 1.0) / 9.0); };
        box.rangeLow = edge (processor.getParameter (P::broadbandLimitLow) * kLimitScale);
        box.rangeHigh = edge (processor.getParameter (P::broadbandLimitHigh) * kLimitScale);
        washWindow->setBandEdges (box.rangeLow, box.rangeHigh);
    }
    box.threshold = processor.getParameter (P::expanderThreshold);
    washWindow->repaint();
}

void CVPlusEditor::actionListenerCallback (const juce::String& message)
{
    if (message != "nrRange")
        return;

    auto& box = washWindow->getRangeBox();
    const bool waveform = box.thresholdMode;
    const float a = waveform ? box.threshold : box.rangeLow;
    const float b = waveform ? box.threshold : box.rangeHigh;
    float nyq = 0.0f;
    const bool threshold = getButton (waveformButton).getToggleState();

    // A box with nothing in it (or positions that are not numbers) and, for
    // the band, a rate not yet known leave every parameter as it is.
    if (box.getBounds().isEmpty() || ! std::isfinite (a) || ! std::isfinite (b) || (! threshold && ! rangeKnown (nyq)))
    {
        setStatus ({});
        repaint();
    }
    else
    {
        const auto B = (float) std::log10 (9.0 * (double) b + 1.0);
        if (threshold)
        {
            write ((int) CVAudioProcessor::Parameter::expanderThreshold, waveform ? box.threshold : box.rangeHigh);
            setStatus (print ("Threshold : %3.0fdB", 20.0 * std::log10 (1.0 - (double) B)));
            washWindow->repaint();
        }
        else
        {
            const float low = nyq - std::log10 (9.0f * a + 1.0f) * nyq;
            const float high = nyq - B * nyq;
            write ((int) CVAudioProcessor::Parameter::broadbandLimitLow, low / kLimitScale);
            write ((int) CVAudioProcessor::Parameter::broadbandLimitHigh, high / kLimitScale);
            setStatus ("NR : " + frequencyText (high) + " - " + frequencyText (low));
        }
    }
    refreshWash();
}

void CVPlusEditor::timerCallback (int timerID)
{
    if (timerID == kMeterTimer)
    {
        if (host->isIdle())
        {
            peakMeter->repaint();
            expMeter->repaint();
            ++meterRepaints;
        }
    }
    else if (timerID == kClearTimer)
    {
        processor.getNoiseReductionBay().clearNoiseProfile();
        stopTimer (kClearTimer);
        processor.learnRegion = {};
    }
}

void CVPlusEditor::sliderDragEnded (juce::Slider*) { setStatus ({}); }

void CVPlusEditor::comboBoxChanged (juce::ComboBox* box)
{
    const int index = box == presetBox.get() ? box->getSelectedItemIndex() : -1;
    if (index < 0)
        return;
    write ((int) CVAudioProcessor::Parameter::enhancePreset, index / 6.0);
    write ((int) CVAudioProcessor::Parameter::enhance, getSlider (enhanceSlider).getValue());
}

void CVPlusEditor::buttonClicked (juce::Button* button)
{
    using P = CVAudioProcessor::Parameter;
    const bool on = button->getToggleState();

    if (button == &getButton (learnButton))
    {
        if (clickModifiers().isAltDown())
            startTimer (kClearTimer, kClearDelayMs);
    }
    else if (button == &getButton (logoButton))
    {
        owner->showPanel (CVUIEditor::informationPanel);
    }
    else if (button == &getButton (declipperButton))
    {
        write ((int) P::declip, on ? 1.0 : 0.0);
    }
    else if (button == &getButton (trackButton))
    {
        write ((int) P::track, on ? 1.0 : 0.0);
    }
    else if (button == &getButton (waveformButton))
    {
        washWindow->setWaveformMode (on);
    }
    else if (button == &getButton (noiseReductionButton))
    {
        write ((int) P::mode, on ? 0.5 : 0.0);
        if (! on)
            getButton (noiseOnlyButton).setToggleState (false, juce::dontSendNotification);
    }
    else if (button == &getButton (noiseOnlyButton))
    {
        write ((int) P::mode, on ? 1.0 : 0.5);
    }
}

void CVPlusEditor::sliderValueChanged (juce::Slider* slider)
{
    using P = CVAudioProcessor::Parameter;
    const double v = slider->getValue();
    auto& bay = processor.getNoiseReductionBay();

    if (slider == &getSlider (tunerKnob))
    {
        write ((int) P::threshold, (v + 20.0) / 40.0);
        setStatus (print ("Tuner : %3.0fdB", (double) bay.getThreshold()));
    }
    else if (slider == &getSlider (reductionKnob))
    {
        write ((int) P::reduction, v / 30.0);
        setStatus (print ("Reduction : -%2.0fdB", (double) bay.getReduction()));
    }
    else if (slider == &getSlider (declickKnob))
    {
        write ((int) P::clickCrackle, v);
        setStatus (print ("Declick : %3.0f%%", v * 100.0));
    }
    else if (slider == &getSlider (enhanceSlider))
    {
        write ((int) P::enhance, v);
        setStatus (print ("Enhance : %3.0f%%", v * 100.0));
    }
    else if (slider == &getSlider (humKnob))
    {
        static const double values[] = { 1.0, 0.0, 0.5 };
        static const char* const names[] = { "Off", "50Hz", "60Hz" };
        const int h = (int) v;
        if (h >= 0 && h <= 2)
        {
            write ((int) P::humMode, values[h]);
            setStatus (print ("Hum : %s", names[h]));
        }
    }
    else if (slider == &getSlider (boostSlider))
    {
        write ((int) P::boost, v / 10.0);
        const float g = processor.getMaximizer (0).getMakeup();
        setStatus (print ("Boost : +%2.1fdB", (double) (20.0f * std::log10 (g)) + 0.31));
    }
    else if (slider == &getSlider (loCutKnob))
    {
        write ((int) P::rumbleFrequency, v);
        write ((int) P::removeRumble, v == 0.0 ? 0.0 : 1.0);
        setStatus (print ("Lo-Cut : %3.0fHz", v * 140.0));
    }
    else if (slider == &getSlider (harmonicsKnob))
    {
        write ((int) P::numHarmonics, v / 14.0);
        setStatus (print ("Harmonics : %d", (int) v));
    }
    else if (slider == &getSlider (hiCutKnob))
    {
        write ((int) P::lowPassFrequency, v / 18000.0);
        write ((int) P::preserveVoice, v == 0.0 ? 0.0 : 1.0);
        setStatus (print ("Hi-Cut : %3.0fHz", v));
    }
    else if (slider == &getSlider (dExpandKnob))
    {
        write ((int) P::expanderAmount, v);
    }
    refreshWash();
}

void CVPlusEditor::buttonStateChanged (juce::Button* button)
{
    if (button == &getButton (learnButton))
        learnStateChanged();
}

void CVPlusEditor::learnStateChanged()
{
    auto& button = getButton (learnButton);
    auto& bay = processor.getNoiseReductionBay();
    const bool down = button.isDown();
    bool released = false;

    if (learnWasDown && ! down)
    {
        bay.stopLearning();
        released = true;
    }
    else if (! learnWasDown && down)
    {
        if (! host->isRecorderMode() && ! host->isPlaying())
            host->playPause();

        // Nothing plays (recorder mode, no media): a pass started now would
        // end on the first audio played later, which is not noise.
        if (host->isRecorderMode() || ! host->isPlaying())
            return;

        auto& region = processor.learnRegion;
        region.words[0] = region.words[1] = 0;
        const double at = host->getPlayPosition() * processor.getSampleRate();
        region.start = std::isfinite (at) && at > 0.0 ? (std::int64_t) at : 0;
        region.length = kLearnLength;
        bay.startLearning();
    }

    learnWasDown = down;
    if (released)
        button.setToggleState (true, juce::dontSendNotification);
}
