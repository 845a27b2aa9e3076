#pragma once

#include "CVAudioProcessor.h"
#include <cmath>
#include <vector>

namespace chain_test
{
inline void setParameter (CVAudioProcessor& p, int index, float value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

inline float getParameter (CVAudioProcessor& p, int index)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return p.getParameter (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

// A sum of tones at incommensurate frequencies, peak below 0.5.
inline std::vector<float> multitone (size_t n, double sampleRate, float amplitude = 0.1f)
{
    const double freqs[] = { 97.0, 331.0, 1013.0, 2711.0, 6007.0 };
    std::vector<float> v (n);
    for (size_t i = 0; i < n; ++i)
    {
        double s = 0.0;
        for (double f : freqs)
            s += std::sin (2.0 * juce::MathConstants<double>::pi * f * (double) i / sampleRate + f);
        v[i] = amplitude * (float) s;
    }
    return v;
}

// Runs a stereo signal (the same on both channels) through the processor in
// calls of `block` samples; returns channel 0 and channel 1 of the output.
inline std::vector<std::vector<float>> process (CVAudioProcessor& p, const std::vector<float>& in, int block)
{
    std::vector<std::vector<float>> out (2);
    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;

    for (size_t pos = 0; pos < in.size(); pos += (size_t) block)
    {
        const int n = (int) std::min<size_t> ((size_t) block, in.size() - pos);
        buffer.setSize (2, n, false, false, true);
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, in.data() + pos, n);
        p.processBlock (buffer, midi);
        for (int c = 0; c < 2; ++c)
            out[(size_t) c].insert (out[(size_t) c].end(), buffer.getReadPointer (c), buffer.getReadPointer (c) + n);
    }
    return out;
}

// A burst of white noise between stretches of silence: its cross-correlation
// with the output has one sharp peak at the chain's delay.
inline std::vector<float> noiseBurst (size_t n, size_t start, size_t length, float amplitude = 0.2f)
{
    std::vector<float> v (n, 0.0f);
    juce::Random random (11);
    for (size_t i = start; i < start + length && i < n; ++i)
        v[i] = amplitude * (2.0f * random.nextFloat() - 1.0f);
    return v;
}

// The lag (0..maxLag) at which `out` best matches `in`, by cross-correlation
// over the samples where `in` is not silent.
inline int measuredDelay (const std::vector<float>& in, const std::vector<float>& out, int maxLag)
{
    size_t first = 0, last = in.size();
    while (first < in.size() && in[first] == 0.0f)
        ++first;
    while (last > first && in[last - 1] == 0.0f)
        --last;

    int best = -1;
    double bestScore = 0.0;
    for (int lag = 0; lag <= maxLag; ++lag)
    {
        double xy = 0.0;
        for (size_t i = first; i < last && i + (size_t) lag < out.size(); ++i)
            xy += (double) in[i] * out[i + (size_t) lag];
        if (xy > bestScore)
        {
            bestScore = xy;
            best = lag;
        }
    }
    return best;
}

inline double rmsDb (const float* x, size_t n)
{
    double s = 0.0;
    for (size_t i = 0; i < n; ++i)
        s += (double) x[i] * x[i];
    return 10.0 * std::log10 (s / (double) n + 1e-30);
}
} // namespace chain_test
