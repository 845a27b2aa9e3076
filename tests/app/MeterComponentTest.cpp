// The level meter over a record shaped as the processor fills it: smoothing,
// bar width, the peak hold on a test clock, bad peaks and bad records.
#include <gtest/gtest.h>

#include "MeterComponent.h"

#include <cmath>
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
    {
        const auto p = image.getPixelAt (x, y);
        row += std::max (p.getRed(), p.getGreen()) > 0x60 ? '#' : '.';
    }
    return row;
}

std::string lit (int from, int to) // '#' on [from, to), '.' elsewhere
{
    std::string row ((size_t) kW, '.');
    for (int x = from; x < to && x < kW; ++x)
        row[(size_t) x] = '#';
    return row;
}

bool isBlank (const juce::Image& image)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt (x, y).getAlpha() != 0)
                return false;
    return true;
}
} // namespace

TEST (MeterComponent, RisesAtOnceDecaysByPointSevenPerPaintAndSnapsToZero)
{
    TestMeter t;
    t.record.level[0] = 0.6f;
    EXPECT_FLOAT_EQ (t.meter.getDisplayLevel (0), 0.6f);
    EXPECT_FLOAT_EQ (t.record.smoothed[0], 0.6f);

    // The paint takes the peak; the next one decays from the smoothed value.
    t.record.smoothed[0] = 0.0f;
    t.paint();
    EXPECT_EQ (t.record.level[0].load(), 0.0f);
    t.record.level[0] = 0.1f;
    EXPECT_FLOAT_EQ (t.meter.getDisplayLevel (0), 0.3f * 0.1f + 0.7f * 0.6f);

    t.record.smoothed[0] = 1.0f;
    t.record.level[0] = 0.0f;
    int paints = 0;
    while (t.record.smoothed[0] > 0.0f && paints < 100)
    {
        t.paint();
        ++paints;
    }
    // 0.7^25 is still above 0.0001, 0.7^26 below.
    EXPECT_EQ (paints, 26);
}

TEST (MeterComponent, BarIsTruncatedWidthAndHoldMarkerLastsOneSecondThenDropsToTheLeft)
{
    TestMeter t;
    t.record.level[0] = 0.3f;
    t.record.level[1] = 0.0f;
    // 176 x 0.3 = 52.8: bar on columns 0-51, hold marker on 52.
    auto image = t.paint();
    EXPECT_EQ (litColumns (image, 3), lit (0, 53));
    // The second channel's row: only its hold marker at x 0.
    EXPECT_EQ (litColumns (image, 10), lit (0, 1));

    t.now = 500;
    t.paint();
    t.now = 1000;
    image = t.paint(); // 0.3 x 0.7 x 0.7 = 0.147: bar 0-24, marker still at 52
    auto expected = lit (0, 25);
    expected[52] = '#';
    EXPECT_EQ (litColumns (image, 3), expected);

    t.now = 1001;
    image = t.paint();
    EXPECT_EQ (t.record.held[0], 0.0f);
    EXPECT_EQ (litColumns (image, 3), lit (0, (int) (kW * (0.7f * 0.7f * 0.7f * 0.3f))));

    // Above full scale: a full bar, while the smoothing keeps the raw peak.
    t.record.level[0] = 1.5f;
    image = t.paint();
    EXPECT_EQ (litColumns (image, 3), lit (0, kW));
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
    const auto image = t.paint();
    for (int c = 0; c < 4; ++c)
    {
        EXPECT_EQ (t.record.level[c].load(), 0.0f) << c;
        EXPECT_EQ (t.record.held[c], 0.0f) << c;
        EXPECT_EQ (t.record.holdUntil[c], 0) << c;
        EXPECT_EQ (t.record.smoothed[c], 0.0f) << c;
    }
    EXPECT_EQ (t.record.numChannels, 2);
    EXPECT_EQ (litColumns (image, 3), lit (0, 1));

    t.record.numChannels = 0;
    t.record.level[0] = 1.0f;
    EXPECT_TRUE (isBlank (t.paint()));
    t.record.numChannels = -3;
    EXPECT_TRUE (isBlank (t.paint()));
    // A count past the record's four channels draws those four, reading no further.
    t.record.numChannels = 9;
    EXPECT_FALSE (isBlank (t.paint()));

    MeterComponent none (nullptr);
    none.setSize (kW, kH);
    juce::Image blank (juce::Image::ARGB, kW, kH, true);
    juce::Graphics g (blank);
    none.paint (g);
    EXPECT_TRUE (isBlank (blank));
    EXPECT_EQ (none.getDisplayLevel (0), 0.0f);
}

// Both styles at three levels; in each meter the second channel has fallen
// for five paints from the same peak, so its hold marker stands apart.
TEST (MeterComponent, Snapshot)
{
    constexpr float kScale = 4.0f;
    const float peaks[] = { 0.25f, 0.5f, 1.0f };
    const int rowH = (int) (kH * kScale) + 8;
    juce::Image sheet (juce::Image::RGB, (int) (kW * kScale) * 2 + 24, rowH * 3 + 8, true);
    juce::Graphics out (sheet);
    out.fillAll (juce::Colour (0xff606060));

    for (int style = 0; style < 2; ++style)
        for (int i = 0; i < 3; ++i)
        {
            TestMeter t;
            t.meter.style = style;
            t.record.level[1] = peaks[i];
            t.paint();
            for (int k = 1; k <= 5; ++k)
            {
                t.now = 80 * k;
                t.paint();
            }
            t.record.level[0] = peaks[i];
            out.drawImageAt (t.paint (kScale), 8 + style * ((int) (kW * kScale) + 8), 8 + i * rowH);
            EXPECT_FLOAT_EQ (t.record.held[1], peaks[i]);
        }

    const juce::File folder (CLARIVO_SNAPSHOT_DIR);
    folder.createDirectory();
    const auto file = folder.getChildFile ("meters.png");
    file.deleteFile();
    juce::FileOutputStream stream (file);
    EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (sheet, stream));
}
