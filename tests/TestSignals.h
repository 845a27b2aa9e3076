#pragma once

// Signals, measurements and small runners shared by the test areas.
#include "ZBuffer.h"
#include "qj_exception.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

namespace clarivo_test
{
using Signal = std::vector<float>;
constexpr double kTwoPi = 6.283185307179586;

//==============================================================================
inline Signal sine (std::size_t n, double freq, double peak, double rate = 44100.0)
{
    Signal v (n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = (float) (peak * std::sin (kTwoPi * freq * (double) i / rate));
    return v;
}

template <typename Distribution>
Signal randomSignal (std::size_t n, Distribution dist, unsigned seed)
{
    std::mt19937 rng (seed);
    Signal v (n);
    for (auto& x : v)
        x = dist (rng);
    return v;
}

inline Signal whiteNoise (std::size_t n, float rms, unsigned seed) { return randomSignal (n, std::normal_distribution<float> (0.0f, rms), seed); }

// Uniform in [-amplitude, amplitude].
inline Signal uniformNoise (std::size_t n, float amplitude, unsigned seed)
{
    return randomSignal (n, std::uniform_real_distribution<float> (-amplitude, amplitude), seed);
}

inline void fillRandom (quarn::ZBuffer& b, unsigned seed)
{
    const auto v = uniformNoise (b.getLength(), 1.0f, seed);
    std::copy (v.begin(), v.end(), b.getData());
}

inline Signal operator+ (const Signal& a, const Signal& b)
{
    Signal s (a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        s[i] = a[i] + b[i];
    return s;
}

inline Signal clip (Signal v, float level)
{
    for (auto& x : v)
        x = std::clamp (x, -level, level);
    return v;
}

// Five tones, as music without clicks; peak about 0.2 at scale 1.
inline Signal toneMixture (std::size_t n, double scale = 1.0, double rate = 44100.0)
{
    const double freqs[] = { 196.0, 293.7, 440.0, 659.3, 987.8 };
    const double gains[] = { 0.07, 0.05, 0.04, 0.025, 0.015 };
    Signal v (n);
    for (std::size_t i = 0; i < n; ++i)
    {
        double x = 0.0;
        for (int k = 0; k < 5; ++k)
            x += gains[k] * std::sin (kTwoPi * freqs[k] * (double) i / rate + k);
        v[i] = (float) (scale * x);
    }
    return v;
}

//==============================================================================
inline float peakOf (const Signal& v)
{
    float p = 0.0f;
    for (float x : v)
        p = std::max (p, std::abs (x));
    return p;
}

// The index of the first sample that is not finite or lies beyond `bound`,
// or -1 when there is none.
inline long firstBad (const float* v, std::size_t n, float bound = std::numeric_limits<float>::infinity())
{
    for (std::size_t i = 0; i < n; ++i)
        if (! std::isfinite (v[i]) || std::abs (v[i]) > bound)
            return (long) i;
    return -1;
}

inline long firstBad (const Signal& v, float bound = std::numeric_limits<float>::infinity()) { return firstBad (v.data(), v.size(), bound); }
inline long firstBad (const quarn::ZBuffer& b, float bound = std::numeric_limits<float>::infinity())
{
    return firstBad (b.getData(), b.getLength(), bound);
}

// A buffer holding exactly these values.
inline std::unique_ptr<quarn::ZBuffer> bufferOf (const Signal& values)
{
    auto b = std::make_unique<quarn::ZBuffer> ((unsigned) values.size(), "ZBuffer");
    std::copy (values.begin(), values.end(), b->getData());
    return b;
}

// The first n values of a buffer (all of them when n is 0).
inline Signal valuesOf (const quarn::ZBuffer& b, std::size_t n = 0)
{
    return Signal (b.getData(), b.getData() + (n == 0 ? b.getLength() : n));
}

inline double rms (const Signal& s, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += (double) s[i] * s[i];
    return std::sqrt (sum / (double) (to - from));
}

inline double db (double ratio)
{
    return 20.0 * std::log10 (ratio);
}

// Amplitude of the component at `frequency` in s[from, to), from its
// projection on a sine and a cosine; the phase (and so the delay) does not matter.
inline double amplitudeAt (const Signal& s, double frequency, std::size_t from, std::size_t to, double rate = 44100.0)
{
    double c = 0.0, q = 0.0;
    for (std::size_t i = from; i < to; ++i)
    {
        c += s[i] * std::cos (kTwoPi * frequency * (double) i / rate);
        q += s[i] * std::sin (kTwoPi * frequency * (double) i / rate);
    }
    return 2.0 * std::sqrt (c * c + q * q) / (double) (to - from);
}

// The lag (0..maxLag) at which `out` best matches `in`, by cross-correlation
// over the samples where `in` is not silent; -1 when nothing correlates.
inline int measuredDelay (const Signal& in, const Signal& out, int maxLag)
{
    std::size_t first = 0, last = in.size();
    while (first < in.size() && in[first] == 0.0f)
        ++first;
    while (last > first && in[last - 1] == 0.0f)
        --last;

    int best = -1;
    double bestScore = 0.0;
    for (int lag = 0; lag <= maxLag; ++lag)
    {
        double xy = 0.0;
        for (std::size_t i = first; i < last && i + (std::size_t) lag < out.size(); ++i)
            xy += (double) in[i] * out[i + (std::size_t) lag];
        if (xy > bestScore)
        {
            bestScore = xy;
            best = lag;
        }
    }
    return best;
}

//==============================================================================
struct BlockRun
{
    Signal out;
    std::vector<bool> results; // what each process call returned
    int count (bool value) const { return (int) std::count (results.begin(), results.end(), value); }
};

template <typename Stage, typename = void>
struct TakesLength : std::false_type {};
template <typename Stage>
struct TakesLength<Stage, std::void_t<decltype (std::declval<Stage&>().process (std::declval<const quarn::ZBuffer&>(),
                                                                                   std::declval<quarn::ZBuffer&>(), 0u))>>
    : std::true_type {};

// Runs a stage whose process takes (in, out) or (in, out, length), and returns
// a bool or nothing, over whole blocks.
template <typename Stage>
BlockRun runStage (Stage& stage, const Signal& in, unsigned block = 512)
{
    BlockRun run;
    quarn::ZBuffer a (block, "ZBuffer"), b (block, "ZBuffer");
    const auto process = [&]
    {
        if constexpr (TakesLength<Stage>::value)
            return stage.process (a, b, block);
        else
            return stage.process (a, b);
    };
    for (std::size_t pos = 0; pos + block <= in.size(); pos += block)
    {
        std::copy (in.begin() + (long) pos, in.begin() + (long) (pos + block), a.getData());
        if constexpr (std::is_same_v<decltype (process()), bool>)
            run.results.push_back (process());
        else
            process();
        run.out.insert (run.out.end(), b.getData(), b.getData() + block);
    }
    return run;
}

// The library's factories hand over raw pointers.
template <typename T>
std::unique_ptr<T> owned (T* created)
{
    return std::unique_ptr<T> (created);
}

// Feeds blocks to a signal bay the way the processor does (separate in and
// out buffers per channel) and collects what comes out.
template <typename Bay>
class BayDriver
{
public:
    explicit BayDriver (Bay& b, int blockSize = 512) : bay (b), block (blockSize)
    {
        for (int c = 0; c < (int) bay.getNumChannels(); ++c)
        {
            buffers.push_back (std::make_unique<quarn::ZBuffer> ((unsigned) block, "ZBuffer"));
            ins.push_back (buffers.back().get());
            buffers.push_back (std::make_unique<quarn::ZBuffer> ((unsigned) block, "ZBuffer"));
            outs.push_back (buffers.back().get());
        }
    }

    // Runs whole blocks of the input (the same signal on every channel unless
    // `perChannel` gives one each), calling `afterBlock` after each; returns
    // every channel's output.
    std::vector<Signal> run (const std::vector<Signal>& perChannel, const std::function<void()>& afterBlock = nullptr)
    {
        std::vector<Signal> result (ins.size());
        for (std::size_t start = 0; start + (std::size_t) block <= perChannel[0].size(); start += (std::size_t) block)
        {
            for (std::size_t c = 0; c < ins.size(); ++c)
                std::copy_n (perChannel[std::min (c, perChannel.size() - 1)].begin() + (long) start, block, ins[c]->getData());
            bay.process (ins.data(), outs.data(), block);
            for (std::size_t c = 0; c < ins.size(); ++c)
                result[c].insert (result[c].end(), outs[c]->getData(), outs[c]->getData() + block);
            if (afterBlock)
                afterBlock();
        }
        return result;
    }

    Signal run (const Signal& in) { return run (std::vector<Signal> { in })[0]; }

    // The last block's buffers.
    quarn::ZBuffer& input (int c) { return *ins[(std::size_t) c]; }
    quarn::ZBuffer& output (int c) { return *outs[(std::size_t) c]; }

private:
    Bay& bay;
    int block;
    std::vector<std::unique_ptr<quarn::ZBuffer>> buffers;
    std::vector<quarn::ZBuffer*> ins, outs;
};

//==============================================================================
// The library's exception with exactly this message and file, from a real line.
template <typename Call>
void expectDspFailure (Call&& call, const char* message, const char* file)
{
    try
    {
        call();
        ADD_FAILURE() << "no exception, expected " << message;
    }
    catch (const quarn_juce::qj_dsp_exception& e)
    {
        EXPECT_EQ (juce::String (message), e.message);
        EXPECT_EQ (juce::String (file), e.file);
        EXPECT_GT (e.line, 0);
    }
}

struct MessageLog : juce::ActionListener
{
    std::vector<juce::String> messages;
    bool offThread = false; // a message arrived on another thread than the message thread

    void actionListenerCallback (const juce::String& message) override
    {
        offThread = offThread || ! juce::MessageManager::existsAndIsCurrentThread();
        messages.push_back (message);
    }
};

inline void pumpMessages (int milliseconds = 50)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}

} // namespace clarivo_test
