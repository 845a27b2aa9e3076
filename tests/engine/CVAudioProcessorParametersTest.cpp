#include <gtest/gtest.h>
#include "engine/ChainTestSignals.h"
#include "TestDeadline.h"
#include "TestLocale.h"
#include "ZNumberText.h"

#include <array>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>

using namespace chain_test;

TEST (CVAudioProcessorParameters, ValuesAfterConstructionAndAResetAndEveryParameterReachesItsStageInItsUnit)
{
    CVAudioProcessor p;
    const float expected[20] = { 0.0f, 0.0f, 0.575f, 0.5f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f,
                                 0.0f, 0.0f, 3.0f / 14.0f, 0.0f, 0.0f, 22050.0f / 384000.0f, 0.0f, 0.0f, 0.85f, 0.0f };
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_NEAR (getParameter (p, i), expected[i], 1e-6f) << "parameter " << i;
        EXPECT_EQ (p.getParameterDefaultValue (i), getParameter (p, i));
    }
    EXPECT_EQ (p.getNumParameters(), 20);
    EXPECT_EQ (p.getParameterName (0), "Click/Crackle Detection");
    EXPECT_EQ (p.getParameterName (19), "DExp Amount");
    EXPECT_EQ (p.getParameterName (20), "");
    EXPECT_EQ (p.getParameter (20), 0.0f);
    setParameter (p, 8, 0.25f);
    EXPECT_EQ (p.getParameterText (8), "+3.05");
    EXPECT_EQ (p.getParameterText (3), "0.50");
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    // A reset puts every parameter back but bypass (on, read as 1), the
    // broadband limits and the expander ratio; it clears the learn region, all four fields, and
    // puts the track floor back at -36 dB.
    for (int i = 0; i < 20; ++i)
        setParameter (p, i, 0.8f);
    p.learnRegion = { { 7, -7 }, 44100, 12288 };
    p.resetToDefaults();
    for (int i = 0; i < 20; ++i)
        EXPECT_NEAR (getParameter (p, i), i == 11 ? 1.0f : i == 15 || i == 16 || i == 19 ? 0.8f : expected[i], 1e-6f) << "parameter " << i << " after the reset";
    const auto& r = p.learnRegion;
    EXPECT_EQ ((std::array<std::int64_t, 4> { r.words[0], r.words[1], r.start, r.length }), (std::array<std::int64_t, 4> {}));
    p.getNoiseReductionBay().reset();
    EXPECT_FLOAT_EQ (p.getNoiseReductionBay().getCompressor (1)->getTrackFloor(), -36.0f);
    EXPECT_FALSE (p.getExpander (0).enabled);

    // Each parameter at a value where no two plausible mappings meet, and at the
    // edges of its table, read back and checked in the stage's own unit (on
    // channel 1, which getParameter does not read). Rows run in turn on one
    // processor; a NaN read-back is not checked.
    CVAudioProcessor q;
    auto& nr = q.getNoiseReductionBay();

    // The compressors take the track floor over at the next block or reset.
    auto trackFloor = [&] (int c) { nr.reset(); return nr.getCompressor (c)->getTrackFloor(); };
    EXPECT_FLOAT_EQ (trackFloor (0), -36.0f);
    const float unread = std::numeric_limits<float>::quiet_NaN();
    const auto both = [] (auto& a, auto& b) { return a.enabled && b.enabled; };
    const struct { int index; float v, readBack; std::function<double()> setting; double expected; } rows[] = {
        // The expander threshold t also moves the noise reduction's track
        // floor to 20 log10 t - 18 dB on every channel; t = 0 leaves it alone.
        { 18, 0.5f, 0.5f, [&] { return trackFloor (0); }, 20.0 * std::log10 (0.5) - 18.0 },
        { 18, 0.5f, 0.5f, [&] { return trackFloor (1); }, 20.0 * std::log10 (0.5) - 18.0 },
        { 18, 1.0f, 1.0f, [&] { return q.getExpander (0).getThresholdLinear(); }, 0.0 },
        { 18, 1.0f, 1.0f, [&] { return trackFloor (1); }, 20.0 * std::log10 (0.5) - 18.0 },
        { 0, 0.3f, 0.3f, [&] { return q.getDeclickBay().getAmount(); }, 0.3 },
        { 1, 0.7f, 0.7f, [&] { return q.getEnhancementBay().getAmount(); }, 0.7 },
        { 2, 0.3f, 0.3f, [&] { return nr.getThreshold(); }, -8.0 },
        { 3, 0.5f, 0.5f, [&] { return nr.getReduction(); }, 15.0 },
        { 3, unread, unread, [&] { return nr.getReduction(); }, 15.0 }, // a NaN changes nothing
        { 3, 0.3f, 0.3f, [&] { return nr.getReduction(); }, 9.0 },
        // Only exactly 1.0 switches 4 and 5 on; 9, 10 and 11 switch on for any non-zero value.
        { 4, 0.99f, 0.0f, [&] { return nr.getPreserveVoice(); }, 0.0 },
        { 4, 1.0f, 1.0f, [&] { return nr.getPreserveVoice(); }, 1.0 },
        { 5, 0.99f, 0.0f, [&] { return nr.getRemoveRumble(); }, 0.0 },
        { 5, 1.0f, 1.0f, [&] { return nr.getRemoveRumble(); }, 1.0 },
        { 9, 0.01f, 1.0f, [&] { return both (q.getDeclipper (0), q.getDeclipper (1)); }, 1.0 },
        { 10, 0.01f, 1.0f, [&] { return nr.getTrack(); }, 1.0 },
        { 11, 0.01f, 1.0f, [&] { return q.isBypassed(); }, 1.0 },
        { 6, 0.49f, unread, [&] { return nr.getHumMode(); }, 0.0 },
        { 6, 0.5f, 0.5f, [&] { return nr.getHumMode(); }, 1.0 },
        { 6, 1.0f, 1.0f, [&] { return nr.getHumMode(); }, 2.0 },
        { 6, -1.0f, unread, [&] { return nr.getHumMode(); }, 0.0 },
        { 7, 1.5f, unread, [&] { return nr.getMode(); }, 2.0 },
        { 7, 0.7f, 0.5f, [&] { return nr.getMode(); }, 1.0 },
        { 8, 0.3f, 0.3f, [&] { return both (q.getMaximizer (0), q.getMaximizer (1)) ? q.getMaximizer (1).getThresholdDb() : 1.0; }, -12.0 },
        { 12, 5.0f, unread, [&] { return nr.getNumHumHarmonics(); }, 14.0 },
        { 12, 0.3f, 4.0f / 14.0f, [&] { return nr.getNumHumHarmonics(); }, 4.0 },
        { 13, 0.3f, 0.3f, [&] { return nr.getRumbleFrequency(); }, 42.0 },
        { 14, 0.3f, 0.3f, [&] { return nr.getLowPassFrequency(); }, 5400.0 },
        { 15, 0.03f, 0.03f, [&] { return nr.getBroadbandLimitLow(); }, 11520.0 },
        { 16, 0.01f, 0.01f, [&] { return nr.getBroadbandLimitHigh(); }, 3840.0 },
        { 17, 0.99f, unread, [&] { return q.getEnhancementBay().getMode(); }, 5.0 },
        { 17, 1.0f, 1.0f, [&] { return q.getEnhancementBay().getMode(); }, 6.0 },
        { 17, 0.3f, 1.0f / 6.0f, [&] { return q.getEnhancementBay().getMode(); }, 1.0 },
        { 18, 2.0f, unread, [&] { return q.getExpander (0).getThresholdLinear() >= 0.0f; }, 1.0 },
        { 18, 0.3f, 0.3f, [&] { return q.getExpander (1).getThresholdLinear(); }, 0.7 },
        { 18, 0.3f, 0.3f, [&] { return nr.getTrackFloor(); }, 20.0 * std::log10 (0.7) - 18.0 },
        { 19, 0.0f, 0.0f, [&] { return q.getExpander (0).enabled || q.getExpander (1).enabled; }, 0.0 },
        { 19, 0.3f, 0.3f, [&] { return both (q.getExpander (0), q.getExpander (1)) ? q.getExpander (1).getRatioBelow() : 1.0; }, 1.9 },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE (testing::Message() << "parameter " << row.index << " at " << row.v);
        setParameter (q, row.index, row.v);
        if (! std::isnan (row.readBack))
        {
            EXPECT_NEAR (getParameter (q, row.index), row.readBack, 1e-6f);
        }
        EXPECT_NEAR (row.setting(), row.expected, 1e-4 * std::max (1.0, std::abs (row.expected)));
    }
}

TEST (CVAudioProcessorState, RoundTripRestoresEverythingBitForBitTheTextIsExactAndMissingPartsFollowTheRules)
{
    CVAudioProcessor a;
    const float values[20] = { 0.3f, 0.7f, 0.575f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f, 0.25f, 1.0f,
                               1.0f, 0.0f, 0.5f, 0.6f, 0.45f, 0.05f, 0.001f, 0.99f, 0.9f, 0.6f };
    for (int i = 0; i < 20; ++i)
        setParameter (a, i, values[i]);

    for (int c = 0; c < 2; ++c)
    {
        auto* profile = a.getNoiseReductionBay().getChannelProfile (c);
        ASSERT_NE (profile, nullptr);
        for (unsigned k = 0; k < profile->getLength(); ++k)
            (*profile)[k] = -70.0f + 0.0371f * (float) k + 3.0f * (float) c;
    }
    a.getNoiseReductionBay().pushProfiles();

    juce::MemoryBlock saved;
    a.getStateInformation (saved);

    CVAudioProcessor b;
    b.setStateInformation (saved.getData(), (int) saved.getSize());
    for (int i = 0; i < 20; ++i)
    {
        const float x = getParameter (a, i), y = getParameter (b, i);
        EXPECT_EQ (std::memcmp (&x, &y, sizeof (float)), 0) << "parameter " << i;
    }
    for (int c = 0; c < 2; ++c)
    {
        const auto pa = profileOf (a, c), pb = profileOf (b, c);
        EXPECT_EQ (std::memcmp (pa.data(), pb.data(), sizeof (float) * pa.size()), 0) << "channel " << c;
    }

    juce::MemoryBlock again;
    b.getStateInformation (again);
    EXPECT_EQ (again, saved);

    // Each profile is read whole from its element: the name and sample rate a
    // preset carries are kept and written back by the next save.
    quarn::ZBuffer named (513, "Hall");
    std::fill_n (named.getData(), 513, -55.0f);
    std::unique_ptr<juce::XmlElement> element (named.createXml());
    element->setAttribute ("samplerate", 48000.0);
    juce::XmlElement state ("NoiseProfile");
    state.addChildElement (new juce::XmlElement (*element));
    state.addChildElement (new juce::XmlElement (*element));
    loadState (b, state);
    auto* restored = b.getNoiseReductionBay().getChannelProfile (1);
    EXPECT_STREQ (restored->getName(), "Hall");
    EXPECT_EQ (restored->getSampleRate(), 48000.0f);
    EXPECT_EQ ((*restored)[512], -55.0f);
    auto xml = stateXml (b);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getChildElement (0)->getStringAttribute ("name"), "Hall");
    EXPECT_EQ (xml->getChildElement (0)->getStringAttribute ("samplerate"), "48000");

    // A fresh processor's text, exactly.
    CVAudioProcessor p;
    auto text = stateXml (p); // the profiles exist from construction on
    ASSERT_NE (text, nullptr);

    EXPECT_EQ (text->getTagName(), "NoiseProfile");
    juce::StringArray names;
    for (int i = 0; i < text->getNumAttributes(); ++i)
        names.add (text->getAttributeName (i));
    EXPECT_EQ (names.joinIntoString (" "),
               "clickcrackleParam enhanceParam thresholdParam reductionParam preserveVoiceParam removeRumbleParam humModeParam modeParam "
               "boostParam declipParam trackParam bypassParam numHarmonicsParam removeRumbleFreqParam lowPassFreqParam enhancePresetParam "
               "dExpThresholdParam dExpAmountParam broadbandFreqLimitLowParam broadbandFreqLimitHighParam");
    EXPECT_EQ (text->getStringAttribute ("thresholdParam"), "0.57499998807907104492");
    EXPECT_EQ (text->getStringAttribute ("reductionParam"), "0.5");
    EXPECT_EQ (text->getStringAttribute ("clickcrackleParam"), "0");
    EXPECT_EQ (text->getStringAttribute ("humModeParam"), "1");
    EXPECT_EQ (text->getStringAttribute ("numHarmonicsParam"), "0.21428571641445159912");

    ASSERT_EQ (text->getNumChildElements(), 2);
    EXPECT_EQ (text->getChildElement (0)->getStringAttribute ("name"), "NoiseProfile0");
    EXPECT_EQ (text->getChildElement (1)->getStringAttribute ("name"), "NoiseProfile1");
    EXPECT_EQ (text->getChildElement (0)->getIntAttribute ("length"), 513);
    // -48 dB as a float bit pattern, 513 times.
    EXPECT_EQ (text->getChildElement (0)->getChildByName ("data")->getStringAttribute ("values"), juce::String::repeatedString ("c2400000", 513));

    setParameter (p, 12, 1.0f / 14.0f);
    EXPECT_EQ (stateXml (p)->getStringAttribute ("numHarmonicsParam"), "0.071428574621677398682");

    // A missing attribute is normalised 0; no children keep the profiles.
    (*p.getNoiseReductionBay().getChannelProfile (0))[5] = -12.0f;
    juce::XmlElement partial ("NoiseProfile");
    partial.setAttribute ("reductionParam", "0.5");
    loadState (p, partial);
    EXPECT_FLOAT_EQ (p.getNoiseReductionBay().getThreshold(), -20.0f);
    EXPECT_FLOAT_EQ (p.getNoiseReductionBay().getReduction(), 15.0f);
    EXPECT_EQ (profileOf (p, 0)[5], -12.0f);
}

namespace
{
void expectProcessesFinite (CVAudioProcessor& p)
{
    for (const auto& channel : process (p, toneMixture (8192, 2.0), 512))
        EXPECT_EQ (firstBad (channel), -1);
}
} // namespace

TEST (CVAudioProcessorState, HostileStatesLeaveAWorkingProcessor)
{
    PreparedProcessor p;
    const Signal before0 = profileOf (p, 0), before1 = profileOf (p, 1);
    auto load = [&] (const juce::XmlElement& e) { EXPECT_NO_THROW (loadState (p, e)); };

    // Values outside every table are held to it.
    juce::XmlElement values ("NoiseProfile");
    for (auto [id, value] : { std::pair { "modeParam", "1.5" }, { "numHarmonicsParam", "5" }, { "dExpThresholdParam", "2" },
                              { "dExpAmountParam", "1e30" }, { "enhancePresetParam", "-3" },
                              { "enhanceParam", "1" } })
        values.setAttribute (id, value);
    load (values);
    EXPECT_LE (p.getNoiseReductionBay().getMode(), 2);
    EXPECT_LE (p.getNoiseReductionBay().getNumHumHarmonics(), 14);
    EXPECT_GE (p.getEnhancementBay().getMode(), 0);
    expectProcessesFinite (p);

    // Another program's state in the same wrapper is not ours.
    juce::XmlElement foreign ("OtherProgram");
    foreign.setAttribute ("reductionParam", "0.9");
    load (foreign);
    EXPECT_EQ (p.getNoiseReductionBay().getReduction(), 0.0f);

    // One good profile and one with a NaN, or profiles of the wrong length:
    // neither channel changes.
    quarn::ZBuffer good (513, "NoiseProfile0"), bad (513, "NoiseProfile1"), shortProfile (100, "NoiseProfile0");
    std::fill_n (good.getData(), 513, -30.0f);
    std::fill_n (bad.getData(), 513, -30.0f);
    juce::XmlElement withNaN ("NoiseProfile");
    withNaN.addChildElement (good.createXml());
    auto* badXml = bad.createXml();
    auto* data = badXml->getChildByName ("data");
    data->setAttribute ("values", data->getStringAttribute ("values").replaceSection (80, 8, "7fc00000"));
    withNaN.addChildElement (badXml);
    juce::XmlElement wrongLength ("NoiseProfile");
    wrongLength.addChildElement (shortProfile.createXml());
    wrongLength.addChildElement (shortProfile.createXml());
    for (const auto* state : { &withNaN, &wrongLength })
    {
        load (*state);
        EXPECT_EQ (profileOf (p, 0), before0);
        EXPECT_EQ (profileOf (p, 1), before1);
    }

    expectProcessesFinite (p);
}

namespace
{
// The binary form around any text, well formed or not.
juce::MemoryBlock wrapState (const juce::String& text)
{
    juce::MemoryBlock data;
    juce::MemoryOutputStream out (data, false);
    out.writeInt (0x21324356);
    out.writeInt ((int) text.getNumBytesAsUTF8() + 1);
    out.write (text.toRawUTF8(), text.getNumBytesAsUTF8() + 1);
    return data;
}

juce::String mutate (const juce::String& text, juce::Random& random)
{
    static const char* const values[] = { "nan", "inf", "-1e999", "abc", "", "0.3", "2", "-1", "0x10", "1e-40" };
    auto s = text;
    const int n = s.length();
    const int at = random.nextInt (juce::jmax (1, n));
    switch (random.nextInt (7))
    {
        case 0: // a parameter's value replaced
        {
            const int quote = s.indexOfChar (at, '"');
            const int end = quote < 0 ? -1 : s.indexOfChar (quote + 1, '"');
            return end < 0 ? s : s.replaceSection (quote + 1, end - quote - 1, values[random.nextInt (10)]);
        }
        case 1: return s.replaceSection (at, random.nextInt (200), {});                    // a span cut out
        case 2: return s.substring (0, at);                                                  // cut off
        case 3: return s.replaceSection (at, 0, s.substring (at, at + random.nextInt (300))); // a span doubled
        case 4: // characters changed, hexadecimal digits of the profiles among them
            for (int k = random.nextInt (8); k >= 0; --k)
                s = s.replaceSection (random.nextInt (juce::jmax (1, n)), 1, juce::String::charToString ((juce::juce_wchar) (32 + random.nextInt (95))));
            return s;
        case 5: // a child element dropped or its tag renamed
            return random.nextBool() ? s.replaceFirstOccurrenceOf ("<buffer", "<bufer") : s.replaceSection (s.indexOf ("<buffer"), s.indexOf ("</buffer>") + 9 - s.indexOf ("<buffer"), {});
        default: // nesting deeper than the format
            return s.replaceFirstOccurrenceOf ("<buffer", juce::String::repeatedString ("<a>", 2 + random.nextInt (40)) + "<buffer");
    }
}

struct Snapshot
{
    std::array<float, 20> parameters {};
    std::array<Signal, 2> profiles;

    explicit Snapshot (CVAudioProcessor& p) : profiles { profileOf (p, 0), profileOf (p, 1) }
    {
        for (int i = 0; i < 20; ++i)
            parameters[(size_t) i] = getParameter (p, i);
    }
};
} // namespace

TEST (CVAudioProcessorState, FuzzedStatesAreTakenWholeOrNotAtAll)
{
    // Two processors with nothing in common load the same damaged state: it
    // is refused by both, or both end with the same parameters and either
    // the same profiles (read from it) or each its own (it had none).
    CVAudioProcessor a, b;
    for (int i = 0; i < 20; ++i)
        setParameter (b, i, i == 11 ? 0.0f : 0.1f + 0.04f * (float) i);
    std::fill_n (b.getNoiseReductionBay().getChannelProfile (0)->getData(), 513, -20.0f);
    b.getNoiseReductionBay().pushProfiles();

    juce::MemoryBlock stateA, stateB;
    a.getStateInformation (stateA);
    b.getStateInformation (stateB);
    const Snapshot priorA (a), priorB (b);
    const auto text = stateXml (b)->toString();

    juce::Random random (1234);
    int refused = 0, loaded = 0;
    for (int round = 0; round < 2000; ++round)
    {
        juce::MemoryBlock damaged;
        if (round % 10 == 9)
        {
            damaged.setSize ((size_t) random.nextInt (2000) + 1);
            random.fillBitsRandomly (damaged.getData(), damaged.getSize());
        }
        else
        {
            damaged = wrapState (mutate (text, random));
        }

        a.setStateInformation (stateA.getData(), (int) stateA.getSize());
        b.setStateInformation (stateB.getData(), (int) stateB.getSize());
        a.setStateInformation (damaged.getData(), (int) damaged.getSize());
        b.setStateInformation (damaged.getData(), (int) damaged.getSize());
        const Snapshot afterA (a), afterB (b);

        for (float v : afterA.parameters)
            ASSERT_TRUE (std::isfinite (v) && v >= 0.0f && v <= 1.0f) << round;

        if (afterA.parameters == priorA.parameters && afterB.parameters == priorB.parameters
            && afterA.profiles == priorA.profiles && afterB.profiles == priorB.profiles)
        {
            ++refused;
            continue;
        }

        ++loaded;
        const auto parsed = juce::AudioProcessor::getXmlFromBinary (damaged.getData(), (int) damaged.getSize());
        const bool withProfiles = parsed != nullptr && parsed->getNumChildElements() >= 2;
        ASSERT_EQ (afterA.parameters, afterB.parameters) << round << ": partly loaded";
        ASSERT_TRUE (afterA.profiles == afterB.profiles || (! withProfiles && afterA.profiles == priorA.profiles && afterB.profiles == priorB.profiles))
            << round << ": parameters loaded without the profiles beside them";
    }
    EXPECT_GT (refused, 100);
    EXPECT_GT (loaded, 100);

    // A state nested 30,000 deep is refused before the recursive parser sees
    // it, also behind a stray quote the parser reads on past.
    for (const auto* head : { "<NoiseProfile>", "<NoiseProfile><a x=y'>" })
    {
        const auto bomb = wrapState (head + juce::String::repeatedString ("<a>", 30000) + "</NoiseProfile>");
        b.setStateInformation (bomb.getData(), (int) bomb.getSize());
        EXPECT_EQ (Snapshot (b).parameters, priorB.parameters);
    }

    // A text that stops on an opening bracket is read no further than it goes
    // (the copy is exactly that long, so the sanitizer sees any byte beyond).
    const auto cut = wrapState ("<NoiseProfile><");
    std::vector<char> exact ((const char*) cut.getData(), (const char*) cut.getData() + cut.getSize() - 1);
    b.setStateInformation (exact.data(), (int) exact.size());
    EXPECT_EQ (Snapshot (b).parameters, priorB.parameters);

    b.prepareToPlay (44100.0, 512);
    expectProcessesFinite (b);
}

// Well-formed text the framework's reader never returns from (an instruction
// followed by text inside the root), and a state whose text is no UTF-8: each
// refused at once, the processor as it was.
TEST (CVAudioProcessorState, StatesNoReaderCanFinishOrDecodeAreRefusedAtOnce)
{
    CVAudioProcessor p;
    setParameter (p, 2, 0.9f);
    const Snapshot before (p);
    const auto instruction = wrapState ("<NoiseProfile thresholdParam=\"0.5\"><?x?>t</NoiseProfile>");
    ASSERT_EQ (instruction.getSize(), 65u);
    auto undecodable = wrapState ("<NoiseProfile thresholdParam=\"0.5\" name=\"abc\"/>");
    std::memcpy (static_cast<char*> (undecodable.getData()) + 8 + 41, "\xf8\xff\xc0", 3);
    for (const auto* state : std::array<const juce::MemoryBlock*, 2> { &instruction, &undecodable })
    {
        expectFinishesWithin (10.0, "setStateInformation", [&] { p.setStateInformation (state->getData(), (int) state->getSize()); });
        EXPECT_EQ (Snapshot (p).parameters, before.parameters);
    }
}

namespace
{
juce::String stateText (CVAudioProcessor& p)
{
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    return saved.getSize() > 8 ? juce::String::fromUTF8 (static_cast<const char*> (saved.getData()) + 8) : juce::String();
}

// A processor whose every parameter and both profiles differ from a fresh one's.
void setUnlikeDefaults (CVAudioProcessor& p, float shift)
{
    const float values[20] = { 0.3f, 0.7f, 0.3f, 0.4f, 1.0f, 1.0f, 0.5f, 0.5f, 0.25f, 1.0f,
                               1.0f, 1.0f, 0.5f, 0.6f, 0.45f, 0.05f, 0.001f, 0.5f, 0.9f, 0.6f };
    for (int i = 0; i < 20; ++i)
        setParameter (p, i, values[i] * shift);
    for (int c = 0; c < 2; ++c)
        for (unsigned k = 0; k < 513; ++k)
            (*p.getNoiseReductionBay().getChannelProfile (c))[k] = -60.0f * shift + 0.01f * (float) k + (float) c;
    p.getNoiseReductionBay().pushProfiles();
}
} // namespace

// A toolkit switches the process to the user's locale; a German user's state
// must still be the one every other reader gets, and a number that is not
// one as we write it must not load as 0 beside the good ones.
TEST (CVAudioProcessorState, NumbersAreTheSameInEveryLocaleAndAStateWithOneBadNumberIsRefusedWhole)
{
    CLARIVO_SKIP_WITHOUT_DECIMAL_COMMA_LOCALE();

    CVAudioProcessor german;
    setUnlikeDefaults (german, 1.0f);
    // A value %.20g writes in exponent form.
    setParameter (german, 0, 1e-5f);
    juce::MemoryBlock writtenInGerman, writtenInC;
    juce::String text;
    {
        const clarivo_test::ScopedDecimalCommaLocale locale;
        german.getStateInformation (writtenInGerman);
        text = stateText (german);
    }
    german.getStateInformation (writtenInC);
    EXPECT_FALSE (text.containsChar (',')) << text.substring (0, 400);
    EXPECT_EQ (writtenInGerman, writtenInC);
    EXPECT_TRUE (text.contains ("clickcrackleParam=\"9.9999997473787516356e-06\" enhanceParam=\"0.69999998807907104492\" "
                                "thresholdParam=\"0.30000001192092895508\" reductionParam=\"0.40000000596046447754\""));

    // Written in either locale, read in the other: every value bit for bit.
    for (const bool readInGerman : { false, true })
    {
        SCOPED_TRACE (readInGerman ? "read under de_DE" : "read under C");
        CVAudioProcessor reader;
        {
            std::unique_ptr<clarivo_test::ScopedDecimalCommaLocale> locale;
            if (readInGerman)
                locale = std::make_unique<clarivo_test::ScopedDecimalCommaLocale>();
            EXPECT_TRUE (reader.applyState (writtenInGerman.getData(), (int) writtenInGerman.getSize()));
        }
        for (int i = 0; i < 20; ++i)
        {
            const float x = getParameter (german, i), y = getParameter (reader, i);
            EXPECT_EQ (std::memcmp (&x, &y, sizeof (float)), 0) << "parameter " << i;
        }
        EXPECT_EQ (profileOf (reader, 1), profileOf (german, 1));
    }

    // Every state we wrote before was printf's %.20g in the C locale: each
    // text the same, so each of those presets still loads.
    for (const float v : { 0.0f, -0.0f, 1.0f, 0.575f, 1.0f / 14.0f, 1e-5f, 3e-7f, std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::max(), 123456.789f })
    {
        char old[64];
        std::snprintf (old, sizeof (old), "%.20g", (double) v);
        EXPECT_EQ (quarn::formatStateNumber ((double) v), juce::String (old));
        juce::XmlElement state ("NoiseProfile");
        state.setAttribute ("enhanceParam", old);
        CVAudioProcessor reader;
        juce::MemoryBlock data;
        juce::AudioProcessor::copyXmlToBinary (state, data);
        EXPECT_TRUE (reader.applyState (data.getData(), (int) data.getSize())) << old;
    }

    // One damaged number, among the parameters or in a profile's sample rate:
    // nothing changes, and the load says so.
    CVAudioProcessor p;
    setUnlikeDefaults (p, 0.5f);
    const Snapshot before (p);
    const auto good = juce::AudioProcessor::getXmlFromBinary (writtenInC.getData(), (int) writtenInC.getSize());
    ASSERT_NE (good, nullptr);
    for (const auto* id : { "thresholdParam", "broadbandFreqLimitHighParam", "samplerate", "length" })
        for (const auto* bad : { "0,574", "abc", "0x1p-1", "1e300", "-1e400", "", "0.5abc", " 0.5", "0.5 ", "+0.5", ".5", "5.",
                                 "1e", "nan", "inf", "-inf", "0.5\xc2\xa0" })
        {
            SCOPED_TRACE (testing::Message() << id << "=\"" << bad << "\"");
            juce::XmlElement damaged (*good);
            (std::strcmp (id, "samplerate") == 0 || std::strcmp (id, "length") == 0 ? *damaged.getChildElement (1) : damaged)
                .setAttribute (id, juce::String::fromUTF8 (bad));
            juce::MemoryBlock data;
            juce::AudioProcessor::copyXmlToBinary (damaged, data);
            EXPECT_FALSE (p.applyState (data.getData(), (int) data.getSize()));
            const Snapshot after (p);
            EXPECT_EQ (after.parameters, before.parameters);
            EXPECT_EQ (after.profiles, before.profiles);
        }
}
