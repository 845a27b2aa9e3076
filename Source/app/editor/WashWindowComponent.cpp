#include "app/editor/WashWindowComponent.h"

#include "app/artwork/ClarivoArtwork.h"
#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"

#include <cmath>

namespace
{
constexpr int kSlots = WashWindowComponent::kSlots;
constexpr int kDivider = WashWindowComponent::kDivider;
constexpr float kFloorDb = WashWindowComponent::kFloorDb;

// One for every display: two displays render in the same ticks.
juce::int64 lastRender = 0;
WashWindowComponent::Clock renderClock = &juce::Time::currentTimeMillis;

// NaN falls to the floor too, so a damaged row draws black, not garbage.
inline float atLeastFloor (float db) noexcept { return db > kFloorDb ? db : kFloorDb; }

// Slot k is bin k below the divider, then every step-th bin above it, so
// the top half of the spectrum shares the upper half of the display. Bins a
// short buffer lacks read as silence.
void mapToSlots (const float* bins, int numBins, float* slots, bool floored) noexcept
{
    const int step = juce::jmax (0, (numBins - kDivider) / kDivider);
    for (int k = 0; k < kSlots; ++k)
    {
        const int bin = k < kDivider ? k : kDivider - 1 + (k - kDivider + 1) * step;
        const float db = bin < numBins ? bins[bin] : kFloorDb;
        slots[k] = floored ? atLeastFloor (db) : db;
    }
}

// The corners around the round window, light grey, drawn once and shared.
// Grey corners around the round window the wash shows through.
juce::Image overlayPicture()
{
    return juce::ImageCache::getFromMemory (clarivo::artwork::washOverlay.data, clarivo::artwork::washOverlay.size);
}
} // namespace

WashWindowComponent::WashWindowComponent (CVUIEditor& editor, bool withRangeBox)
    : owner (editor),
      washImage (juce::Image::ARGB, kSlots, kSlots, true),
      overlayImage (overlayPicture()),
      history (new float[(size_t) (kSlots * kSlots)]),
      profileRow (new float[(size_t) kSlots])
{
    washGradient.addColour (0.0, juce::Colour (0xff000000));
    washGradient.addColour (0.25, juce::Colour (0xffff4500));
    washGradient.addColour (1.0, juce::Colour (0xffffff00));

    setSize (kSlots, kSlots);
    connectToProcessor (4096);
    interval = 300;
    startTimer (interval);

    rangeBox = std::make_unique<RangeBoxComponent>();
    rangeBox->setSize (kSlots, kSlots);
    overlay = std::make_unique<juce::ImageComponent>();
    overlay->setSize (kSlots, kSlots);
    overlay->setInterceptsMouseClicks (false, true);
    overlay->setImage (overlayImage);
    liveDisplay = std::make_unique<LiveAudioInputDisplayComp> (true);
    liveDisplay->setSize (kSlots, kSlots);
    addAndMakeVisible (*liveDisplay);

    bandLow = 0.0f;
    bandHigh = 1.0f;
    waveformMode = true;
    rangeBox->thresholdMode = true;
    if (withRangeBox)
    {
        rangeBox->addChangeListener (this);
        addAndMakeVisible (*rangeBox);
    }
    addAndMakeVisible (*overlay);
}

WashWindowComponent::~WashWindowComponent()
{
    auto& processor = owner.getProcessor();
    if (processor.getNoiseDisplay() == this)
        processor.setNoiseDisplay (nullptr);
    stopTimer();
    rangeBox->removeChangeListener (this);
}

void WashWindowComponent::setClock (Clock clock) noexcept
{
    renderClock = clock != nullptr ? clock : &juce::Time::currentTimeMillis;
}

void WashWindowComponent::connectToProcessor (int blockSize)
{
    auto& processor = owner.getProcessor();
    auto& bay = processor.getNoiseReductionBay();
    reduction = bay.getReduction();
    mode = bay.getMode();
    processor.setNoiseDisplay (this);
    stopTimer();
    interval = blockSize < 8192 ? 100 : 300;
    startTimer (interval);
}

void WashWindowComponent::setSpectrumSource (const float* binsDb, int numBins) noexcept
{
    spectrumSource = binsDb;
    spectrumBins = numBins;
}

void WashWindowComponent::pushSpectrum (bool silent)
{
    // The display profile belongs to the message thread, like this call.
    if (auto* profile = owner.getProcessor().getNoiseReductionBay().getNoiseProfile())
        mapToSlots (profile->getData(), (int) profile->getLength(), profileRow.get(), true);

    float* row = history.get() + (size_t) writeRow * kSlots;
    if (silent || spectrumSource == nullptr)
    {
        std::fill (row, row + kSlots, kFloorDb);
        ++silentRowsPushed;
        return;
    }

    mapToSlots (spectrumSource, spectrumBins, row, false);
    ++rowsPushed;
}

void WashWindowComponent::pullFeeds() noexcept
{
    const auto poll = reader.poll (owner.getProcessor().feeds());

    // Rows pushed between two renders share one row, so one silent push
    // stands for any number of idle ticks.
    if (poll.idleRows > 0)
        pushSpectrum (true);

    if (poll.row != nullptr)
    {
        setSpectrumSource (poll.row, ProcessorFeeds::kSpectrumBins);
        pushSpectrum (false);
        setSpectrumSource (nullptr, 0);
    }
}

void WashWindowComponent::renderWash()
{
    const auto now = renderClock();
    if (now - lastRender < interval)
        return;
    lastRender = now;

    const auto rf = (float) (1.0 + reduction / -30.0);
    const int newest = writeRow;
    writeRow = newest + 1 < kSlots ? newest + 1 : 0;

    const float treatFrom = (1.0f - bandHigh) * (float) kSlots;
    const float treatTo = (1.0f - bandLow) * (float) kSlots;
    const auto divider = juce::Colours::white.withAlpha ((juce::uint8) 128);

    juce::Image::BitmapData pixels (washImage, juce::Image::BitmapData::writeOnly);
    for (int x = 0; x < kSlots; ++x)
    {
        const int r = newest - x >= 0 ? newest - x : newest - x + kSlots;
        const float* row = history.get() + (size_t) r * kSlots;

        for (int k = 0; k < kSlots; ++k)
        {
            const float s = std::isnan (row[k]) ? kFloorDb : juce::jlimit (kFloorDb, 0.0f, row[k]);
            const float p = profileRow[(size_t) k];
            auto c = washGradient.getColourAtPosition ((s - kFloorDb) / -kFloorDb);

            if (x >= kDivider)
            {
                if (mode == 1)
                {
                    if ((float) k > treatFrom && (float) k < treatTo && p > s)
                    {
                        const float a = (s - kFloorDb) / (p - kFloorDb) * rf;
                        c = c.withAlpha (a * a);
                    }
                }
                else if (mode == 2)
                {
                    c = c.withAlpha (p > s ? 1.0f : 0.0f);
                }
            }

            pixels.setPixelColour (x, kSlots - 1 - k, x == kDivider ? divider : c);
        }
    }
}

void WashWindowComponent::setWaveformMode (bool on)
{
    waveformMode = on;
    liveDisplay->setVisible (on);
    rangeBox->thresholdMode = on;
    repaint();
}

void WashWindowComponent::setStatusText (const juce::String& text)
{
    if (waveformMode)
        liveDisplay->setStatusText (text);
    else
        statusText = text;
}

void WashWindowComponent::displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                                             float* const* outputChannelData, int numOutputChannels,
                                             int numSamples)
{
    liveDisplay->audioDeviceIOCallbackWithContext (inputChannelData, numInputChannels, outputChannelData,
                                                   numOutputChannels, numSamples, {});
}

void WashWindowComponent::timerCallback()
{
    pullFeeds();
    renderWash();
    repaint();
}

void WashWindowComponent::changeListenerCallback (juce::ChangeBroadcaster*)
{
    if (! waveformMode)
    {
        bandLow = rangeBox->rangeLow;
        bandHigh = rangeBox->rangeHigh;
    }
    sendActionMessage ("nrRange");
}

void WashWindowComponent::paint (juce::Graphics& g)
{
    g.setColour (backgroundColour);
    g.fillRect (1, 1, 194, 194);
    g.drawImage (washImage, 1, 1, 194, 194, 1, 1, 194, 194, false);
    g.setColour (juce::Colours::white.withAlpha (0.6f));
    g.setFont (juce::Font ("Trebuchet MS", 22.0f, juce::Font::bold));
    g.drawText (statusText, 0, 82, 200, 32, juce::Justification::horizontallyCentred, true);
}

void WashWindowComponent::setTooltip (const juce::String& newTooltip)
{
    juce::SettableTooltipClient::setTooltip (newTooltip);
    rangeBox->setTooltip (newTooltip);
}

void WashWindowComponent::resized()
{
    // Only the constructor's setSize gets here: a later move keeps the size.
    std::fill (history.get(), history.get() + (size_t) (kSlots * kSlots), kFloorDb);
    std::fill (profileRow.get(), profileRow.get() + kSlots, -48.0f);
    if (rangeBox != nullptr)
        rangeBox->setBounds (getLocalBounds());
}
