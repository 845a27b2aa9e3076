// The level meter over a record shaped as the processor fills it: smoothing,
// bar width, the peak hold on a test clock, bad peaks and bad records.
#include <gtest/gtest.h>

#include "app/editor/MeterComponent.h"
#include "app/support/TestHelpers.h"

#include <algorithm>
#include <limits>
#include <string>

namespace
{
constexpr int kW = 176;
constexpr int kH = 14;

struct TestMeter
{
    MeterLevels record;
    MeterComponent meter { &record };
    juce::int64 now = 0;

    TestMeter()
    {
        record.numChannels = 2;
        meter.setSize (kW, kH);
        meter.clock = [this] { return now; };
    }

    juce::Image paint (float scale = 1.0f)
    {
        juce::Image image (juce::Image::ARGB, juce::roundToInt (kW * scale), juce::roundToInt (kH * scale), true);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (scale));
        meter.paint (g);
        return image;
    }
};

// One character per column of row y: '#' where the style-0 gradient shows,
// '.' on the black background and the dark segment marks.
std::string litColumns (const juce::Image& image, int y)
{
    std::string row;
    for (int x = 0; x < image.getWidth(); ++x)
        row += std::max (image.getPixelAt (x, y).getRed(), image.getPixelAt (x, y).getGreen()) > 0x60 ? '#' : '.';
    return row;
}

std::string lit (int from, int to) // '#' on [from, to)
{
    return std::string ((size_t) from, '.') + std::string ((size_t) (to - from), '#') + std::string ((size_t) (kW - to), '.');
}

bool isBlank (const juce::Image& image) { return apptest::inkBounds (image).isEmpty(); }
} // namespace

TEST (MeterComponent, RisesAtOnceDecaysByPointSevenPerPaintAndSnapsToZero)
{
    TestMeter t;
    t.record.level[0] = 0.6f;
    EXPECT_FLOAT_EQ (t.meter.getDisplayLevel (0), 0.6f);

    // The paint takes the peak; the next one decays from the smoothed value.
    t.record.smoothed[0] = 0.0f;
    t.paint();
    EXPECT_EQ (t.record.level[0].load(), 0.0f);
    t.record.level[0] = 0.1f;
    EXPECT_FLOAT_EQ (t.meter.getDisplayLevel (0), 0.3f * 0.1f + 0.7f * 0.6f);

    // 0.7^25 is still above 0.0001, 0.7^26 below.
    t.record.smoothed[0] = 1.0f;
    t.record.level[0] = 0.0f;
    int paints = 0;
    for (; t.record.smoothed[0] > 0.0f && paints < 100; ++paints)
        t.paint();
    EXPECT_EQ (paints, 26);
}

TEST (MeterComponent, BarIsTruncatedWidthAndHoldMarkerLastsOneSecondThenDropsToTheLeft)
{
    TestMeter t;
    t.record.level[0] = 0.3f;
    // 176 x 0.3 = 52.8: bar on columns 0-51, hold marker on 52; the silent
    // second channel shows only its marker at x 0.
    auto image = t.paint();
    EXPECT_EQ (litColumns (image, 3), lit (0, 53));
    EXPECT_EQ (litColumns (image, 10), lit (0, 1));

    t.now = 500;
    t.paint();
    t.now = 1000;
    auto expected = lit (0, 25); // 0.3 x 0.7 x 0.7 = 0.147
    expected[52] = '#';
    EXPECT_EQ (litColumns (t.paint(), 3), expected);

    t.now = 1001;
    EXPECT_EQ (litColumns (t.paint(), 3), lit (0, 18)); // 0.1029
    EXPECT_EQ (t.record.held[0], 0.0f);

    // Above full scale: a full bar, while the smoothing keeps the raw peak.
    t.record.level[0] = 1.5f;
    EXPECT_EQ (litColumns (t.paint(), 3), lit (0, kW));
    EXPECT_EQ (t.record.smoothed[0], 1.5f);
    EXPECT_EQ (t.record.held[0], 1.0f);
}

TEST (MeterComponent, NanPeakClearsTheRecordAndBadRecordsDrawNothing)
{
    TestMeter t;
    t.now = 5000;
    for (int c = 0; c < 4; ++c)
    {
        t.record.level[c] = 0.5f;
        t.record.held[c] = 0.8f;
        t.record.holdUntil[c] = 9000;
        t.record.smoothed[c] = 0.7f;
    }
    t.record.level[0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ (litColumns (t.paint(), 3), lit (0, 1));
    for (int c = 0; c < 4; ++c)
        EXPECT_TRUE (t.record.level[c] == 0.0f && t.record.held[c] == 0.0f && t.record.holdUntil[c] == 0
                     && t.record.smoothed[c] == 0.0f) << c;
    EXPECT_EQ (t.record.numChannels, 2);
    // An infinite peak shows one full bar, then clears instead of sticking.
    t.record.level[0] = std::numeric_limits<float>::infinity();
    EXPECT_EQ (litColumns (t.paint(), 3), lit (0, kW));
    t.paint();
    EXPECT_EQ (t.record.smoothed[0], 0.0f);

    t.record.level[0] = 1.0f;
    for (const int count : { 0, -3 })
    {
        t.record.numChannels = count;
        EXPECT_TRUE (isBlank (t.paint())) << count;
    }
    // A count past the record's four channels draws four and reads no further.
    t.record.numChannels = 9;
    EXPECT_FALSE (isBlank (t.paint()));
    EXPECT_EQ (t.record.numChannels, 9);
    t.record.numChannels = 2;
    t.record.held[0] = 0.5f;
    EXPECT_EQ (t.meter.getDisplayLevel (4), 0.0f);
    EXPECT_EQ (t.meter.getDisplayLevel (-1), 0.0f);
    EXPECT_EQ (t.record.numChannels, 2);

    t.meter.levels = nullptr;
    EXPECT_TRUE (isBlank (t.paint()));
    EXPECT_EQ (t.meter.getDisplayLevel (0), 0.0f);
}

// Both styles at three levels; in each meter the second channel has fallen
// for five paints from the same peak, so its hold marker stands apart.
TEST (MeterComponent, Snapshot)
{
    constexpr float kScale = 4.0f;
    constexpr int kCellW = (int) (kW * kScale) + 8, kCellH = (int) (kH * kScale) + 8;
    juce::Image sheet (juce::Image::RGB, kCellW * 2 + 8, kCellH * 3 + 8, true);
    juce::Graphics out (sheet);
    out.fillAll (juce::Colour (0xff606060));

    for (int style = 0; style < 2; ++style)
        for (int i = 0; i < 3; ++i)
        {
            const float peak[] = { 0.25f, 0.5f, 1.0f };
            TestMeter t;
            t.meter.style = style;
            t.record.level[1] = peak[i];
            for (; t.now <= 400; t.now += 80)
                t.paint();
            t.record.level[0] = peak[i];
            out.drawImageAt (t.paint (kScale), 8 + style * kCellW, 8 + i * kCellH);
            EXPECT_FLOAT_EQ (t.record.held[1], peak[i]);
        }

    apptest::savePng (sheet, "meters.png");
}
