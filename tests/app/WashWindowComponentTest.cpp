#include <gtest/gtest.h>

#include "CVAudioProcessor.h"
#include "CVUIEditor.h"
#include "ScopedConfigHome.h"
#include "WashWindowComponent.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace
{
// The render clock: stepped by hand, never behind a real time an earlier
// test may have left as the last render.
juce::int64 fakeNow = juce::int64 (1) << 50;
juce::int64 readFakeClock() { return fakeNow; }

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

    void render (juce::int64 afterMs = 1000)
    {
        fakeNow += afterMs;
        wash->renderWash();
    }

    // One row of 513 bins, every bin at `db`, pushed as the next render's.
    void pushRow (float db)
    {
        std::vector<float> bins (ProcessorFeeds::kSpectrumBins, db);
        wash->setSpectrumSource (bins.data(), (int) bins.size());
        wash->pushSpectrum (false);
        wash->setSpectrumSource (nullptr, 0);
    }

    // The same row in every column.
    void fill (float db)
    {
        for (int i = 0; i < WashWindowComponent::kSlots; ++i)
        {
            pushRow (db);
            render();
        }
    }

    void setProfile (float db)
    {
        auto* profile = processor.getNoiseReductionBay().getNoiseProfile();
        ASSERT_NE (profile, nullptr);
        for (unsigned i = 0; i < profile->getLength(); ++i)
            (*profile)[i] = db;
    }

    juce::Colour pixel (int x, int y) const { return wash->getWashImage().getPixelAt (x, y); }

    bool columnIs (int x, juce::Colour c) const
    {
        for (int y = 0; y < WashWindowComponent::kSlots; ++y)
            if (pixel (x, y) != c)
                return false;
        return true;
    }

    juce::Image snapshot() { return wash->createComponentSnapshot (wash->getLocalBounds(), true, 1.0f); }

    void save (const juce::Image& image, const char* name)
    {
        const juce::File dir (CLARIVO_SNAPSHOT_DIR);
        dir.createDirectory();
        auto file = dir.getChildFile (name);
        file.deleteFile();
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        juce::PNGImageFormat().writeImageToStream (image, out);
    }
};

const juce::Colour black (0xff000000);
const juce::Colour yellow (0xffffff00);
// White at alpha 128 as a premultiplied image gives it back.
const juce::Colour divider = []
{
    juce::Image one (juce::Image::ARGB, 1, 1, true);
    one.setPixelAt (0, 0, juce::Colours::white.withAlpha ((juce::uint8) 128));
    return one.getPixelAt (0, 0);
}();
} // namespace

TEST_F (WashTest, StartsBlackWithTheDividerAndScrollsOneColumnPerInterval)
{
    EXPECT_EQ (wash->getInterval(), 300);
    render();
    for (int x = 0; x < WashWindowComponent::kSlots; ++x)
        ASSERT_TRUE (columnIs (x, x == 98 ? divider : black)) << "column " << x;

    // Composited over the black background the divider is mid grey.
    const auto grey = snapshot().getPixelAt (98, 100);
    EXPECT_NEAR (grey.getRed(), 128, 1);
    EXPECT_EQ (grey.getRed(), grey.getBlue());

    // A loud row enters at the left; a second render within the interval
    // neither scrolls nor redraws.
    pushRow (0.0f);
    render();
    EXPECT_TRUE (columnIs (0, yellow));
    render (wash->getInterval() - 1);
    EXPECT_TRUE (columnIs (0, yellow));
    EXPECT_TRUE (columnIs (1, black));
    render (1);
    EXPECT_TRUE (columnIs (1, yellow));

    // Idle pushes of silence push it off to the right, then out.
    for (int i = 0; i < WashWindowComponent::kSlots; ++i)
    {
        wash->pushSpectrum (true);
        render();
    }
    for (int x = 0; x < WashWindowComponent::kSlots; ++x)
        ASSERT_TRUE (columnIs (x, x == 98 ? divider : black)) << "column " << x;

    // Damaged rows draw black: NaN bins, and a buffer too short for the slots.
    std::vector<float> damaged (50, std::nanf (""));
    wash->setSpectrumSource (damaged.data(), (int) damaged.size());
    wash->pushSpectrum (false);
    render();
    EXPECT_TRUE (columnIs (0, black));
}

TEST_F (WashTest, AToneThroughTheProcessorLightsItsSlot)
{
    processor.prepareToPlay (44100.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    double phase = 0.0;
    for (int block = 0; block < 20; ++block)
    {
        for (int i = 0; i < 512; ++i, phase += 2.0 * juce::MathConstants<double>::pi * 1000.0 / 44100.0)
            buffer.setSample (0, i, 0.5f * (float) std::sin (phase)), buffer.setSample (1, i, buffer.getSample (0, i));
        processor.processBlock (buffer, midi);
    }

    fakeNow += 1000;
    wash->timerCallback(); // pulls the newest row from the feed, then renders
    EXPECT_GT (wash->getRowsPushed(), 0);

    int brightest = -1;
    float best = -1.0f;
    for (int y = 0; y < WashWindowComponent::kSlots; ++y)
        if (const float b = pixel (0, y).getPerceivedBrightness(); b > best)
            best = b, brightest = y;
    EXPECT_NEAR (brightest, 172, 1); // slot 23: 1000 Hz / (44100 Hz / 1024)
}

TEST_F (WashTest, TheTreatedHalfFollowsModeProfileBandAndReduction)
{
    auto& bay = processor.getNoiseReductionBay();
    const auto alphaAt = [this] (int x, int slot) { return pixel (x, 195 - slot).getAlpha(); };

    // Noise only with an empty profile: nothing lies below it.
    bay.setMode (2);
    setProfile (-96.0f);
    wash->connectToProcessor (512);
    fill (-30.0f);
    for (int x = 99; x < 196; ++x)
        ASSERT_EQ (alphaAt (x, 50), 0) << x;
    EXPECT_EQ (alphaAt (0, 50), 255);
    EXPECT_EQ (snapshot().getPixelAt (150, 100), black);

    // Reduce at 0 dB: below the profile alpha ((s + 96) / (p + 96))^2 inside
    // the band, untouched outside it and above the profile.
    bay.setMode (1);
    bay.setReduction (0.0f);
    wash->connectToProcessor (512);
    auto& box = wash->getRangeBox();
    box.rangeLow = 0.25f; // slots 50..146
    box.rangeHigh = 0.75f;
    wash->changeListenerCallback (&box);
    EXPECT_FLOAT_EQ (wash->getBandLow(), 0.25f);
    setProfile (-20.0f);
    fill (-60.0f);
    const int expected = juce::roundToInt (255.0f * std::pow (36.0f / 76.0f, 2.0f));
    EXPECT_NEAR (alphaAt (150, 100), expected, 1);
    EXPECT_EQ (alphaAt (150, 20), 255);  // below the band
    EXPECT_EQ (alphaAt (150, 170), 255); // above the band
    EXPECT_EQ (alphaAt (50, 100), 255);  // the untreated half

    // At 30 dB everything below the profile in the band goes.
    bay.setReduction (30.0f);
    wash->connectToProcessor (512);
    fill (-60.0f);
    EXPECT_EQ (alphaAt (150, 100), 0);
    EXPECT_EQ (alphaAt (150, 20), 255);

    // An empty band treats no slot.
    box.rangeLow = box.rangeHigh = 0.5f;
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
    EXPECT_TRUE (wash->getRangeBox().thresholdMode);
    EXPECT_TRUE (wash->getLiveDisplay().isVisible());
    wash->setStatusText ("Learning");
    EXPECT_EQ (wash->getStatusText(), "Wash");
    EXPECT_EQ (wash->getLiveDisplay().getStatusText(), "Learning");

    // A threshold drag moves no band but is still announced.
    wash->getRangeBox().rangeLow = 0.4f;
    wash->changeListenerCallback (&wash->getRangeBox());
    EXPECT_EQ (wash->getBandLow(), 0.0f);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (messages.got, juce::StringArray ("nrRange"));

    wash->setWaveformMode (false);
    EXPECT_FALSE (wash->getLiveDisplay().isVisible());
    EXPECT_FALSE (wash->getRangeBox().thresholdMode);
    EXPECT_EQ (wash->getStatusText(), "Wash");
    wash->removeActionListener (&messages);
}

TEST_F (WashTest, Snapshots)
{
    // A sweep from 100 Hz to 15 kHz, one render per block, against a learned
    // looking profile, reduced inside a band.
    auto& bay = processor.getNoiseReductionBay();
    bay.setMode (1);
    bay.setReduction (15.0f);
    processor.prepareToPlay (44100.0, 512);
    wash->connectToProcessor (512);
    auto& box = wash->getRangeBox();
    box.rangeLow = 0.2f;
    box.rangeHigh = 0.7f;
    wash->changeListenerCallback (&box);
    setProfile (-70.0f);

    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    juce::Random hiss (5);
    double phase = 0.0;
    for (int block = 0; block < 190; ++block)
    {
        const double hz = 100.0 * std::pow (150.0, block / 190.0);
        for (int i = 0; i < 512; ++i, phase += 2.0 * juce::MathConstants<double>::pi * hz / 44100.0)
            for (int c = 0; c < 2; ++c)
                buffer.setSample (c, i, 0.3f * (float) std::sin (phase) + 0.01f * (hiss.nextFloat() - 0.5f));
        processor.processBlock (buffer, midi);
        fakeNow += 1000;
        wash->timerCallback();
    }
    wash->setStatusText ("Reducing");
    save (snapshot(), "wash-sweep-band.png");

    wash->setWaveformMode (true);
    box.threshold = 0.5f;
    wash->setStatusText ("Learning noise");
    std::vector<float> input (8192);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = 0.4f * (float) std::sin ((double) i * 0.05) * (float) (i % 2000) / 2000.0f;
    const float* channels[] = { input.data() };
    wash->displayInputAudio (channels, 1, nullptr, 0, (int) input.size());
    save (snapshot(), "wash-waveform-threshold.png");
}

// The audio thread writes the feeds while displays come and go on the
// message thread, each pulling a while before it goes.
TEST (WashThreads, DisplaysComeAndGoUnderARunningProcessor)
{
    ScopedConfigHome home;
    CVAudioProcessor processor;
    processor.prepareToPlay (44100.0, 512);
    std::atomic<bool> done { false };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        juce::Random random (3);
        while (! done)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 512; ++i)
                    buffer.setSample (c, i, random.nextFloat() * 0.2f - 0.1f);
            processor.processBlock (buffer, midi);
        }
    });

    double progress = 0.0;
    int rows = 0;
    for (int i = 0; i < 200; ++i)
    {
        auto editor = std::make_unique<CVUIEditor> (processor, progress);
        auto wash = std::make_unique<WashWindowComponent> (*editor, true);
        for (int k = 0; k < 3; ++k)
        {
            juce::Thread::sleep (1);
            wash->timerCallback();
        }
        rows += wash->getRowsPushed();
        wash.reset();
        EXPECT_EQ (processor.getNoiseDisplay(), nullptr);
    }
    done = true;
    audio.join();
    EXPECT_GT (rows, 0);
}
