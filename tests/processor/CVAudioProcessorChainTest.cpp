#include <gtest/gtest.h>
#include "ChainTestSignals.h"

#include <cstring>

using namespace chain_test;

namespace
{
void expectDelayEqualsLatency (CVAudioProcessor& p, int block, const char* when)
{
    const int latency = p.getLatencySamples();
    const auto in = noiseBurst ((size_t) latency + 6000, 1000, 2048);
    const auto out = process (p, in, block);
    EXPECT_EQ (measuredDelay (in, out[0], latency + 1000), latency) << when << ", block " << block;
    EXPECT_EQ (measuredDelay (in, out[1], latency + 1000), latency) << when << ", block " << block << ", right";
}
} // namespace

TEST (CVAudioProcessorChain, DelayEqualsReportedLatencyAtEveryMoment)
{
    {
        CVAudioProcessor p;
        expectDelayEqualsLatency (p, 4096, "after construction");
    }

    for (double rate : { 44100.0, 48000.0, 96000.0 })
    {
        for (int block : { 64, 256, 512, 1024, 4096 })
        {
            CVAudioProcessor p;
            p.prepareToPlay (rate, block);
            expectDelayEqualsLatency (p, block, "after prepareToPlay");
            p.reset();
            expectDelayEqualsLatency (p, block, "after reset");
            // The media tap prepares again without a reset when a new use starts.
            p.prepareToPlay (rate, block);
            expectDelayEqualsLatency (p, block, "after a second prepareToPlay");
        }
    }
}

TEST (CVAudioProcessorChain, WithEveryStageOffAMultitonePassesUnchanged)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    const int d = p.getLatencySamples();
    const auto in = multitone ((size_t) d + 44100, 44100.0);
    const auto out = process (p, in, 512);

    // Skip the first block after the delay: the "Enhance" bay may still be
    // crossfading out of its start-up state.
    const size_t start = (size_t) d + 1024;
    const double inDb = rmsDb (in.data() + 1024, in.size() - start);
    const double outDb = rmsDb (out[0].data() + start, in.size() - start);
    EXPECT_NEAR (outDb, inDb, 0.1);

    double error = 0.0;
    for (size_t i = start; i < in.size(); ++i)
        error = std::max (error, (double) std::abs (out[0][i] - in[i - (size_t) d]));
    EXPECT_LT (error, 1e-3);
}

TEST (CVAudioProcessorChain, StateRoundTripRestoresEveryParameterAndBothProfilesBitForBit)
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
    ASSERT_GT (saved.getSize(), 0u);

    CVAudioProcessor b;
    b.setStateInformation (saved.getData(), (int) saved.getSize());
    for (int i = 0; i < 20; ++i)
    {
        const float x = getParameter (a, i), y = getParameter (b, i);
        EXPECT_EQ (std::memcmp (&x, &y, sizeof (float)), 0) << "parameter " << i;
    }
    for (int c = 0; c < 2; ++c)
    {
        auto* pa = a.getNoiseReductionBay().getChannelProfile (c);
        auto* pb = b.getNoiseReductionBay().getChannelProfile (c);
        EXPECT_EQ (std::memcmp (pa->getData(), pb->getData(), sizeof (float) * pa->getLength()), 0) << "channel " << c;
    }

    juce::MemoryBlock again;
    b.getStateInformation (again);
    EXPECT_EQ (again, saved);
}

TEST (CVAudioProcessorChain, StateTextIsExact)
{
    CVAudioProcessor p;
    juce::MemoryBlock saved;
    p.getStateInformation (saved);  // the profiles exist from construction on
    auto xml = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    ASSERT_NE (xml, nullptr);

    EXPECT_EQ (xml->getTagName(), "NoiseProfile");
    EXPECT_EQ (xml->getNumAttributes(), 20);
    EXPECT_EQ (xml->getAttributeName (0), "clickcrackleParam");
    EXPECT_EQ (xml->getAttributeName (15), "enhancePresetParam");
    EXPECT_EQ (xml->getAttributeName (18), "broadbandFreqLimitLowParam");
    EXPECT_EQ (xml->getAttributeName (19), "broadbandFreqLimitHighParam");
    EXPECT_EQ (xml->getStringAttribute ("thresholdParam"), "0.57499998807907104492");
    EXPECT_EQ (xml->getStringAttribute ("reductionParam"), "0.5");
    EXPECT_EQ (xml->getStringAttribute ("clickcrackleParam"), "0");
    EXPECT_EQ (xml->getStringAttribute ("humModeParam"), "1");
    EXPECT_EQ (xml->getStringAttribute ("numHarmonicsParam"), "0.21428571641445159912");

    ASSERT_EQ (xml->getNumChildElements(), 2);
    EXPECT_EQ (xml->getChildElement (0)->getStringAttribute ("name"), "NoiseProfile0");
    EXPECT_EQ (xml->getChildElement (1)->getStringAttribute ("name"), "NoiseProfile1");
    EXPECT_EQ (xml->getChildElement (0)->getIntAttribute ("length"), 513);
    // -48 dB as a float bit pattern, 513 times.
    const auto values = xml->getChildElement (0)->getChildByName ("data")->getStringAttribute ("values");
    EXPECT_EQ (values.length(), 513 * 8);
    EXPECT_EQ (values.substring (0, 8), "c2400000");

    setParameter (p, 12, 1.0f / 14.0f);
    p.getStateInformation (saved);
    xml = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (xml->getStringAttribute ("numHarmonicsParam"), "0.071428574621677398682");
}

TEST (CVAudioProcessorChain, MissingAttributesAndChildrenFollowTheStateRules)
{
    CVAudioProcessor p;
    auto* profile = p.getNoiseReductionBay().getChannelProfile (0);
    (*profile)[5] = -12.0f;

    juce::XmlElement state ("NoiseProfile");
    state.setAttribute ("reductionParam", "0.5");
    juce::MemoryBlock data;
    juce::AudioProcessor::copyXmlToBinary (state, data);
    p.setStateInformation (data.getData(), (int) data.getSize());

    EXPECT_FLOAT_EQ (p.getNoiseReductionBay().getThreshold(), -20.0f);  // missing: normalised 0
    EXPECT_FLOAT_EQ (p.getNoiseReductionBay().getReduction(), 15.0f);
    EXPECT_EQ ((*profile)[5], -12.0f);  // no children: profiles kept
}

TEST (CVAudioProcessorChain, HostileStatesLeaveAWorkingProcessor)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    auto* profile0 = p.getNoiseReductionBay().getChannelProfile (0);
    auto* profile1 = p.getNoiseReductionBay().getChannelProfile (1);
    std::vector<float> before0 (profile0->getData(), profile0->getData() + 513);
    std::vector<float> before1 (profile1->getData(), profile1->getData() + 513);

    auto runFinite = [&]
    {
        const auto out = process (p, multitone (8192, 44100.0, 0.2f), 512);
        for (const auto& ch : out)
            for (float x : ch)
                ASSERT_TRUE (std::isfinite (x));
    };

    auto load = [&] (const juce::XmlElement& e)
    {
        juce::MemoryBlock data;
        juce::AudioProcessor::copyXmlToBinary (e, data);
        p.setStateInformation (data.getData(), (int) data.getSize());
    };

    {
        juce::XmlElement state ("NoiseProfile");
        state.setAttribute ("modeParam", "1.5");
        state.setAttribute ("numHarmonicsParam", "5");
        state.setAttribute ("dExpThresholdParam", "2");
        state.setAttribute ("dExpAmountParam", "1e30");
        state.setAttribute ("enhancePresetParam", "-3");
        state.setAttribute ("humModeParam", "nan");
        state.setAttribute ("enhanceParam", "1");
        EXPECT_NO_THROW (load (state));
        EXPECT_LE (p.getNoiseReductionBay().getMode(), 2);
        EXPECT_LE (p.getNoiseReductionBay().getNumHumHarmonics(), 14);
        EXPECT_GE (p.getEnhancementBay().getMode(), 0);
        runFinite();
    }

    {
        // One good profile and one with a NaN: neither channel changes.
        quarn::ZBuffer good (513, "NoiseProfile0"), bad (513, "NoiseProfile1");
        for (unsigned k = 0; k < 513; ++k)
            good[k] = -30.0f, bad[k] = -30.0f;
        juce::XmlElement state ("NoiseProfile");
        state.addChildElement (good.createXml());
        auto* badXml = bad.createXml();
        auto values = badXml->getChildByName ("data")->getStringAttribute ("values");
        badXml->getChildByName ("data")->setAttribute ("values", values.replaceSection (80, 8, "7fc00000"));
        state.addChildElement (badXml);
        EXPECT_NO_THROW (load (state));
        EXPECT_EQ (std::vector<float> (profile0->getData(), profile0->getData() + 513), before0);
        EXPECT_EQ (std::vector<float> (profile1->getData(), profile1->getData() + 513), before1);
    }

    {
        // Wrong length and a short text.
        quarn::ZBuffer shortProfile (100, "NoiseProfile0");
        juce::XmlElement state ("NoiseProfile");
        state.addChildElement (shortProfile.createXml());
        state.addChildElement (shortProfile.createXml());
        EXPECT_NO_THROW (load (state));
        EXPECT_EQ (profile0->getLength(), 513u);
        EXPECT_EQ (std::vector<float> (profile0->getData(), profile0->getData() + 513), before0);
    }

    {
        juce::MemoryBlock saved;
        p.getStateInformation (saved);
        for (int cut : { 0, 1, 7, 8, 9, 100, (int) saved.getSize() / 2, (int) saved.getSize() - 1 })
            EXPECT_NO_THROW (p.setStateInformation (saved.getData(), cut));

        juce::Random random (5);
        std::vector<char> junk (4096);
        for (int round = 0; round < 50; ++round)
        {
            for (auto& b : junk)
                b = (char) random.nextInt (256);
            EXPECT_NO_THROW (p.setStateInformation (junk.data(), 1 + random.nextInt ((int) junk.size())));
        }
        EXPECT_NO_THROW (p.setStateInformation (nullptr, 100));
    }

    runFinite();
}
