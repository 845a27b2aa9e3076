#include <gtest/gtest.h>

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"
#include "app/support/ScopedConfigHome.h"
#include "app/editor/WashWindowComponent.h"
#include "app/support/TestHelpers.h"

#include <cmath>
#include <functional>

namespace
{
// Stepped by hand, and never behind a real time an earlier test may have
// left as the last render.
juce::int64 fakeNow = juce::int64 (1) << 50;
juce::int64 readFakeClock() { return fakeNow; }

// 512-sample blocks of a sine, its frequency chosen per block, over a little
// hiss, until `blocks` or until afterBlock says stop.
void play (CVAudioProcessor& p, int blocks, const std::function<double (int)>& hz,
           const std::function<bool()>& afterBlock = {})
{
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    juce::Random hiss (5);
    double phase = 0.0;
    for (int block = 0; block < blocks; ++block)
    {
        for (int i = 0; i < 512; ++i, phase += juce::MathConstants<double>::twoPi * hz (block) / 44100.0)
            for (int c = 0; c < 2; ++c)
                buffer.setSample (c, i, 0.3f * (float) std::sin (phase) + 0.01f * (hiss.nextFloat() - 0.5f));
        p.processBlock (buffer, midi);
        if (afterBlock && ! afterBlock())
            return;
    }
}

const juce::Colour black (0xff000000), yellow (0xffffff00);
// White at alpha 128 as a premultiplied image gives it back.
const juce::Colour divider = []
{
    juce::Image one (juce::Image::ARGB, 1, 1, true);
    one.setPixelAt (0, 0, juce::Colours::white.withAlpha ((juce::uint8) 128));
    return one.getPixelAt (0, 0);
}();

struct WashTest : ::testing::Test
{
    ScopedConfigHome home;
    CVAudioProcessor processor;
    double progress = 0.0;
    std::unique_ptr<CVUIEditor> editor;
    std::unique_ptr<WashWindowComponent> wash;

    void SetUp() override
    {
        WashWindowComponent::setClock (&readFakeClock);
        processor.prepareToPlay (44100.0, 512);
        editor = std::make_unique<CVUIEditor> (processor, progress);
        wash = std::make_unique<WashWindowComponent> (*editor, true);
        wash->setWaveformMode (false);
    }

    void TearDown() override
    {
        wash.reset();
        editor.reset();
        WashWindowComponent::setClock (nullptr);
    }

    void render (juce::int64 afterMs = 1000) { fakeNow += afterMs; wash->renderWash(); }

    // `renders` renders of a row of 513 bins all at `db`.
    void fill (float db, int renders = WashWindowComponent::kSlots)
    {
        std::vector<float> bins (ProcessorFeeds::kSpectrumBins, db);
        wash->setSpectrumSource (bins.data(), (int) bins.size());
        for (int i = 0; i < renders; ++i)
            wash->pushSpectrum (false), render();
        wash->setSpectrumSource (nullptr, 0);
    }

    void setProfile (float db)
    {
        auto& profile = *processor.getNoiseReductionBay().getNoiseProfile();
        for (unsigned i = 0; i < profile.getLength(); ++i)
            profile[i] = db;
    }

    juce::Colour pixel (int x, int y) const { return wash->getWashImage().getPixelAt (x, y); }
    int alphaAt (int x, int slot) const { return pixel (x, 195 - slot).getAlpha(); }

    bool isBlackButTheDivider (int fromColumn = 0) const
    {
        for (int x = fromColumn; x < 196; ++x)
            for (int y = 0; y < 196; ++y)
                if (pixel (x, y) != (x == 98 ? divider : black))
                    return false;
        return true;
    }

    juce::Image snapshot() { return wash->createComponentSnapshot (wash->getLocalBounds(), true, 1.0f); }

    void save (const char* name) { apptest::savePng (snapshot(), name); }
};
} // namespace

TEST_F (WashTest, StartsBlackAndScrollsOneColumnPerIntervalToBlackWhenIdle)
{
    EXPECT_EQ (wash->getInterval(), 300);
    render();
    EXPECT_TRUE (isBlackButTheDivider());
    const auto grey = snapshot().getPixelAt (98, 100); // the divider over the black background
    EXPECT_NEAR (grey.getRed(), 128, 1);
    EXPECT_EQ (grey.getRed(), grey.getBlue());

    // A loud row enters at the left; a render within the interval changes nothing.
    fill (0.0f, 1);
    EXPECT_EQ (pixel (0, 7), yellow);
    render (wash->getInterval() - 1);
    EXPECT_EQ (pixel (0, 7), yellow);
    EXPECT_EQ (pixel (1, 7), black);
    render (1);
    EXPECT_EQ (pixel (1, 7), yellow);

    for (int i = 0; i < 196; ++i)
        wash->pushSpectrum (true), render();
    EXPECT_TRUE (isBlackButTheDivider());

    // Damaged rows draw black: NaN bins, and a buffer too short for the slots.
    std::vector<float> damaged (50, std::nanf (""));
    wash->setSpectrumSource (damaged.data(), (int) damaged.size());
    wash->pushSpectrum (false);
    render();
    EXPECT_TRUE (isBlackButTheDivider());
}

TEST_F (WashTest, AToneThroughTheProcessorLightsItsSlot)
{
    play (processor, 20, [] (int) { return 1000.0; });
    fakeNow += 1000;
    wash->timerCallback(); // pulls the newest row from the feed, then renders

    int brightest = -1;
    for (int y = 0; y < 196; ++y)
        if (brightest < 0 || pixel (0, y).getPerceivedBrightness() > pixel (0, brightest).getPerceivedBrightness())
            brightest = y;
    EXPECT_NEAR (brightest, 172, 1); // slot 23: 1000 Hz / (44100 Hz / 1024)

    // Above the divider every fourth bin: 201 is slot 123 (row 72), 202 none.
    std::vector<float> bins (513, -96.0f);
    bins[201] = bins[202] = 0.0f;
    wash->setSpectrumSource (bins.data(), 513);
    wash->pushSpectrum (false);
    render();
    for (int y = 0; y < 196; ++y)
        ASSERT_EQ (pixel (0, y), y == 72 ? yellow : black) << y;
}

TEST_F (WashTest, TheTreatedHalfFollowsModeProfileBandAndReduction)
{
    auto& bay = processor.getNoiseReductionBay();
    auto& box = wash->getRangeBox();

    // Noise only with an empty profile: nothing lies below it.
    bay.setMode (2);
    setProfile (-96.0f);
    wash->connectToProcessor (512);
    fill (-30.0f);
    for (int x = 99; x < 196; ++x)
        ASSERT_EQ (alphaAt (x, 50), 0) << x;
    EXPECT_EQ (alphaAt (0, 50), 255);
    EXPECT_EQ (snapshot().getPixelAt (150, 100), black);

    // Reduce at 0 dB: below the profile, alpha ((s + 96) / (p + 96))^2 in the
    // band (slots 50..146), untouched outside it and in the left half.
    bay.setMode (1);
    bay.setReduction (0.0f);
    wash->connectToProcessor (512);
    box.rangeLow = 0.25f;
    box.rangeHigh = 0.75f;
    wash->changeListenerCallback (&box);
    setProfile (-20.0f);
    fill (-60.0f);
    EXPECT_NEAR (alphaAt (150, 100), juce::roundToInt (255.0 * std::pow (36.0 / 76.0, 2.0)), 1);
    EXPECT_EQ (alphaAt (150, 20), 255);
    EXPECT_EQ (alphaAt (150, 170), 255);
    EXPECT_EQ (alphaAt (50, 100), 255);

    bay.setReduction (30.0f);
    wash->connectToProcessor (512);
    fill (-60.0f);
    EXPECT_EQ (alphaAt (150, 100), 0);
    EXPECT_EQ (alphaAt (150, 20), 255);

    box.rangeLow = box.rangeHigh = 0.5f; // an empty band treats nothing
    wash->changeListenerCallback (&box);
    fill (-60.0f);
    for (int k = 0; k < 196; ++k)
        ASSERT_EQ (alphaAt (150, k), 255) << k;
}

TEST_F (WashTest, WaveformModeKeepsTheBandAndTheWashStatusText)
{
    struct Messages : juce::ActionListener
    {
        juce::StringArray got;
        void actionListenerCallback (const juce::String& m) override { got.add (m); }
    } messages;
    wash->addActionListener (&messages);

    wash->setStatusText ("Wash");
    wash->setWaveformMode (true);
    EXPECT_TRUE (wash->getRangeBox().thresholdMode && wash->getLiveDisplay().isVisible());
    wash->setStatusText ("Learning");
    EXPECT_EQ (wash->getStatusText(), "Wash");
    EXPECT_EQ (wash->getLiveDisplay().getStatusText(), "Learning");

    // A threshold drag moves no band but is still announced.
    wash->getRangeBox().rangeLow = 0.4f;
    wash->changeListenerCallback (&wash->getRangeBox());
    EXPECT_EQ (wash->getBandLow(), 0.0f);
    apptest::pump (50);
    EXPECT_EQ (messages.got, juce::StringArray ("nrRange"));
    wash->removeActionListener (&messages);

    wash->setWaveformMode (false);
    EXPECT_FALSE (wash->getRangeBox().thresholdMode || wash->getLiveDisplay().isVisible());
    EXPECT_EQ (wash->getStatusText(), "Wash");
}

TEST_F (WashTest, Snapshots)
{
    // A sweep from 100 Hz to 15 kHz, one render per block, reduced by 15 dB
    // below a flat profile inside a band.
    processor.getNoiseReductionBay().setMode (1);
    processor.getNoiseReductionBay().setReduction (15.0f);
    wash->connectToProcessor (512);
    wash->getRangeBox().rangeLow = 0.2f;
    wash->getRangeBox().rangeHigh = 0.7f;
    wash->changeListenerCallback (&wash->getRangeBox());
    setProfile (-70.0f);
    play (processor, 190, [] (int block) { return 100.0 * std::pow (150.0, block / 190.0); },
          [this] { fakeNow += 1000; wash->timerCallback(); return true; });
    wash->setStatusText ("Reducing");
    save ("wash-sweep-band.png");

    wash->setWaveformMode (true);
    wash->getRangeBox().threshold = 0.5f;
    wash->setStatusText ("Learning noise");
    std::vector<float> input (8192);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = 0.4f * (float) std::sin ((double) i * 0.05) * (float) (i % 2000) / 2000.0f;
    const float* channels[] = { input.data() };
    wash->displayInputAudio (channels, 1, nullptr, 0, (int) input.size());
    save ("wash-waveform-threshold.png");
}
