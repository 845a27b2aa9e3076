// The range box at the noise display's 196 x 196, driven by mouse events as
// the component receives them, with the change messages it sends counted.
#include <gtest/gtest.h>

#include "app/editor/RangeBoxComponent.h"
#include "app/support/TestHelpers.h"

#include <limits>

namespace
{
struct TestBox : juce::ChangeListener
{
    RangeBoxComponent box;
    int messages = 0;

    TestBox() { box.setSize (196, 196); box.addChangeListener (this); }
    ~TestBox() override { box.removeChangeListener (this); }
    void changeListenerCallback (juce::ChangeBroadcaster*) override { ++messages; }

    // Each sends one event at height y and returns the messages it sent.
    int press (int y) { return send (y, &RangeBoxComponent::mouseDown); }
    int drag (int y) { return send (y, &RangeBoxComponent::mouseDrag); }
    int release (int y) { return send (y, &RangeBoxComponent::mouseUp); }

    int send (int y, void (RangeBoxComponent::*handler) (const juce::MouseEvent&))
    {
        const auto before = messages;
        (box.*handler) (apptest::mouseAt (box, 100.0f, (float) y, {}));
        box.dispatchPendingMessages();
        return messages - before;
    }

    void band (float low, float high) { box.rangeLow = low; box.rangeHigh = high; }

    int alphaAt (int x, int y)
    {
        juce::Image image (juce::Image::ARGB, 196, 196, true);
        juce::Graphics g (image);
        box.paint (g);
        return image.getPixelAt (x, y).getAlpha();
    }
};

float f (int y) { return (float) y / 196.0f; }
} // namespace

TEST (RangeBoxComponent, DragsKeepTheBandOrderedAndInsideAndEachStepSendsOneMessage)
{
    TestBox t; // band 0.25..0.75 is y 49..147

    // A click inside the band changes nothing; only the release sends.
    t.band (0.25f, 0.75f);
    EXPECT_EQ (t.press (100), 0);
    EXPECT_FALSE (t.box.mouseReleased);
    EXPECT_EQ (t.release (100), 1);
    EXPECT_TRUE (t.box.mouseReleased);
    EXPECT_EQ (t.box.rangeLow, 0.25f);
    EXPECT_EQ (t.box.rangeHigh, 0.75f);

    // 10 pixels from the upper edge, inside the band: the upper edge, which
    // stops at the lower one.
    t.press (59);
    EXPECT_FALSE (t.box.mouseReleased);
    EXPECT_EQ (t.drag (100), 1);
    EXPECT_EQ (t.box.rangeLow, f (100));
    EXPECT_EQ (t.drag (180), 1);
    EXPECT_EQ (t.box.rangeLow, 0.75f);
    EXPECT_EQ (t.box.rangeHigh, 0.75f);

    // The lower edge dragged above the upper takes both to the mouse.
    t.band (0.25f, 0.75f);
    t.press (140);
    t.drag (20);
    EXPECT_EQ (t.box.rangeLow, f (20));
    EXPECT_EQ (t.box.rangeHigh, f (20));

    // Far outside the band the nearer edge jumps to the mouse. A tie (a
    // collapsed band) drags the lower edge, which opens the band downward.
    t.band (0.25f, 0.75f);
    t.press (5);
    t.drag (6);
    EXPECT_EQ (t.box.rangeLow, f (6));
    t.band (0.5f, 0.5f);
    t.press (98);
    t.drag (120);
    EXPECT_EQ (t.box.rangeLow, 0.5f);
    EXPECT_EQ (t.box.rangeHigh, f (120));

    // The whole band past the bottom keeps its lower edge at 1 and shrinks;
    // past the top its upper edge stays at 0.
    t.band (0.25f, 0.75f);
    t.press (98);
    t.drag (178);
    EXPECT_FLOAT_EQ (t.box.rangeLow, 0.25f + 80.0f / 196.0f);
    EXPECT_EQ (t.box.rangeHigh, 1.0f);
    t.drag (-2);
    EXPECT_EQ (t.box.rangeLow, 0.0f);
    EXPECT_FLOAT_EQ (t.box.rangeHigh, 0.75f - 100.0f / 196.0f);

    // Edges dragged out of the component clamp.
    t.band (0.25f, 0.75f);
    t.press (49);
    t.drag (-300);
    EXPECT_EQ (t.box.rangeLow, 0.0f);
    t.press (147);
    t.drag (900);
    EXPECT_EQ (t.box.rangeHigh, 1.0f);
    EXPECT_EQ (t.box.threshold, 1.0f);

    // Outlines of the excluded areas from the middle rightward: each band
    // edge, and the middle line only outside the band.
    t.band (0.25f, 0.75f);
    EXPECT_GT (t.alphaAt (150, 48), 0);
    EXPECT_GT (t.alphaAt (150, 147), 0);
    EXPECT_GT (t.alphaAt (98, 20), 0);
    EXPECT_EQ (t.alphaAt (98, 100), 0);
    EXPECT_EQ (t.alphaAt (150, 100), 0);
    EXPECT_EQ (t.alphaAt (50, 48), 0);

    // Edges the panel could not compute draw nothing and act as the full range.
    t.band (std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity());
    EXPECT_EQ (t.alphaAt (150, 195), 0);
    t.press (190);
    t.drag (150);
    EXPECT_EQ (t.box.rangeLow, 0.0f);
    EXPECT_EQ (t.box.rangeHigh, f (150));
}

TEST (RangeBoxComponent, ThresholdModeIsTheDistanceFromTheMiddle)
{
    TestBox t;
    t.box.thresholdMode = true;
    t.band (0.25f, 0.75f);
    t.press (49); // on the upper edge: no effect in this mode
    const std::pair<int, float> cases[] = { { 98, 1.0f }, { 0, 0.0f }, { 196, 0.0f }, { 147, 0.5f },
                                            { -40, 0.0f }, { 500, 0.0f }, { 49, 0.5f } };
    for (const auto& [y, threshold] : cases)
    {
        EXPECT_EQ (t.drag (y), 1) << y;
        EXPECT_FLOAT_EQ (t.box.threshold, threshold) << y;
    }
    EXPECT_EQ (t.box.rangeLow, 0.25f);
    EXPECT_EQ (t.box.rangeHigh, 0.75f);

    // Threshold 0.5 fills the middle half: rows 49 to 146.
    EXPECT_EQ (t.alphaAt (10, 48), 0);
    EXPECT_GT (t.alphaAt (10, 49), 0);
    EXPECT_GT (t.alphaAt (190, 146), 0);
    EXPECT_EQ (t.alphaAt (10, 147), 0);
}
