#include "CVPlusEditor.h"
#include "CVUIEditor.h"
#include "Preferences.h"
#include "WashWindowComponent.h"

#include <type_traits>

namespace
{
// The noise display hands the samples to its live input view once it has one,
// with the device callback's pointer types or the const ones.
template <typename Display, typename In, typename Out, typename = void>
struct TakesInputAudio : std::false_type {};

template <typename Display, typename In, typename Out>
struct TakesInputAudio<Display, In, Out, std::void_t<decltype (std::declval<Display&>().displayInputAudio (
                                             std::declval<In>(), 0, std::declval<Out>(), 0, 0))>>
    : std::true_type {};

template <typename Display>
void forwardInput (Display& display, const float* const* in, int numIn, float* const* out, int numOut, int numSamples)
{
    if constexpr (TakesInputAudio<Display, const float* const*, float* const*>::value)
        display.displayInputAudio (in, numIn, out, numOut, numSamples);
    else if constexpr (TakesInputAudio<Display, const float**, float**>::value)
        display.displayInputAudio (const_cast<const float**> (in), numIn, const_cast<float**> (out), numOut, numSamples);
}
} // namespace

CVPlusEditor::CVPlusEditor (CVAudioProcessor&, CVUIEditor* owner, Preferences* preferences, double& progress)
{
    washWindow = std::make_unique<WashWindowComponent> (*owner, true);
    washWindow->setTopLeftPosition (290, 32);
    addAndMakeVisible (*washWindow);

    progressBar = std::make_unique<juce::ProgressBar> (progress);
    progressBar->setBounds (290, 32, 196, 196);
    addAndMakeVisible (*progressBar);
    progressBar->setVisible (false);

    setHelpTips (preferences->getHelpTips());
    setSize (780, 400);
}

CVPlusEditor::~CVPlusEditor() = default;

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
    forwardInput (*washWindow, in, numIn, out, numOut, numSamples);
    samplesDisplayed += numSamples;
}

void CVPlusEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffe7e8e8));
}
