// Copies made with Bypass on or off: the chain delays the sound it processes
// and Bypass passes it on undelayed, so every copy must cut from its head
// exactly what its render added, and no more, whatever the button does
// while it runs.
#include "app/support/AppTestSupport.h"
#include "app/support/TestHelpers.h"

#include <atomic>

using namespace mediatest;

namespace
{
// Clicks Bypass on the message thread, as a user would, once the render
// has run a few slices through the chain, long before the tone; the render
// waits for the click to land.
class ClickDuringRender : public juce::AudioPlayHead
{
public:
    ClickDuringRender (CVAudioProcessor& p, bool bypassAfter) : processor (p), after (bypassAfter) {}
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (CVAudioTapProcessor::getActiveTap() != nullptr && ++renderSlices == 4)
        {
            auto* p = &processor;
            const bool on = after;
            juce::MessageManager::callAsync ([p, on] { p->setParameter (CVAudioProcessor::Parameter::bypass, on ? 1.0f : 0.0f); });
            for (int waited = 0; processor.isBypassed() != after && waited < 5000; ++waited)
                juce::Thread::sleep (1);
        }
        return {};
    }
    CVAudioProcessor& processor;
    const bool after;
    mutable std::atomic<int> renderSlices { 0 };
};

void setBypass (CVAudioProcessor& processor, bool on)
{
    processor.setParameter (CVAudioProcessor::Parameter::bypass, on ? 1.0f : 0.0f);
}
} // namespace

TEST_F (AppTest, SavedCopiesHaveTheirSoundWhereTheSourceHasItWithBypassOnOrOff)
{
    const auto movie = makeToneAtTwoSeconds ("clip.mp4", true);
    const auto song = makeToneAtTwoSeconds ("tone.wav", false);
    ASSERT_TRUE (movie.existsAsFile() && song.existsAsFile());
    for (const auto& [source, formats] : { std::pair { movie, std::vector<int> { 0, 5, 7 } }, std::pair { song, std::vector<int> { 3, 5, 7 } } })
    {
        SCOPED_TRACE (source.getFileName());
        ASSERT_TRUE (open (source).wasOk());
        // The tone alone is what the analysis learns as noise.
        processor().resetToDefaults();
        juce::File bypassedWav;
        for (const bool bypass : { false, true })
        {
            setBypass (processor(), bypass);
            for (const int format : formats)
            {
                const auto target = scratchFile ((bypass ? "bypassed" : "processed") + ClarivoDocument::extensionForFormat (format));
                SCOPED_TRACE (target.getFileName());
                ASSERT_EQ (saveAs (target, format), juce::FileBasedDocument::savedOk);
                EXPECT_TRUE (soundInStep (target, source));
                EXPECT_EQ (processor().isBypassed(), bypass);
                if (bypass && format == 5)
                    bypassedWav = target;
            }
        }
        // With Bypass on the copy is what was heard, the source itself: in
        // 24 bits, to the last bit of the 16-bit original.
        if (source == song)
        {
            const auto got = decodeAll (bypassedWav);
            const auto want = decodeAll (song);
            ASSERT_EQ (got.size(), want.size());
            for (size_t c = 0; c < want.size(); ++c)
            {
                ASSERT_EQ (got[c].size(), want[c].size());
                float worst = 0.0f;
                for (size_t i = 0; i < want[c].size(); ++i)
                    worst = std::max (worst, std::abs (got[c][i] - want[c][i]));
                EXPECT_LE (worst, 1.0f / 8388608.0f) << "channel " << c;
            }
        }
        document().setChangedFlag (false);
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}

TEST_F (AppTest, ABypassClickDuringTheRenderShiftsNoPartOfTheCopy)
{
    const auto movie = makeToneAtTwoSeconds ("clip.mp4", true);
    ASSERT_TRUE (movie.existsAsFile());
    ASSERT_TRUE (open (movie).wasOk());
    // The tone alone is what the analysis learns as noise.
    processor().resetToDefaults();
    for (const bool before : { false, true })
    {
        SCOPED_TRACE (before ? "on, then off" : "off, then on");
        setBypass (processor(), before);
        ClickDuringRender click (processor(), ! before);
        processor().setPlayHead (&click);
        const auto target = scratchFile ("clicked.mov");
        const auto saved = saveAs (target, 0);
        processor().setPlayHead (nullptr);
        ASSERT_EQ (saved, juce::FileBasedDocument::savedOk);
        ASSERT_GT (click.renderSlices.load(), 4);
        EXPECT_TRUE (soundInStep (target, movie));

        // The click was taken, for whatever comes after the save.
        EXPECT_EQ (processor().isBypassed(), ! before);
        juce::AudioBuffer<float> buffer (2, 512);
        for (int i = 0; i < 512; ++i)
            buffer.setSample (0, i, 0.5f), buffer.setSample (1, i, 0.5f);
        juce::MidiBuffer midi;
        processor().reset();
        processor().processBlock (buffer, midi);
        EXPECT_EQ (buffer.getSample (0, 0), before ? 0.0f : 0.5f) << "the chain's delay is heard only without Bypass";
    }
}

TEST_F (AppTest, BatchCopiesHaveTheirSoundWhereTheSourceHasItWithBypassOnOrOff)
{
    const auto root = scratchFolder();
    const auto in = root.getChildFile ("in");
    in.createDirectory();
    ASSERT_TRUE (makeToneAtTwoSeconds ("clip.mp4", true).moveFileTo (in.getChildFile ("clip.mp4")));
    ASSERT_TRUE (makeToneAtTwoSeconds ("tone.wav", false).moveFileTo (in.getChildFile ("tone.wav")));
    app->escapeHeldDown = [] { return false; };
    for (const bool bypass : { false, true })
    {
        SCOPED_TRACE (bypass ? "Bypass on" : "Bypass off");
        const auto out = root.getChildFile (bypass ? "bypassed" : "processed");
        setBypass (processor(), bypass);
        DialogService::get().clearHistory();
        DialogService::get().answerWithFile (in);
        DialogService::get().answerWithFile (out);
        app->runBatchProcessor();
        EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");
        for (const char* name : { "clip.mp4", "tone.wav" })
            EXPECT_TRUE (soundInStep (out.getChildFile (name), in.getChildFile (name)));
    }
}
