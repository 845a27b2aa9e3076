// The range box at the noise display's 196 x 196, driven by mouse events as
// the component receives them, with the change messages it sends counted.
#include <gtest/gtest.h>

#include "RangeBoxComponent.h"

namespace
{
struct TestBox : juce::ChangeListener
{
    RangeBoxComponent box;
    int messages = 0;

    TestBox()
    {
        box.setSize (196, 196);
        box.addChangeListener (this);
    }
    ~TestBox() override { box.removeChangeListener (this); }

    void changeListenerCallback (juce::ChangeBroadcaster*) override { ++messages; }

    juce::MouseEvent at (int y)
    {
        const auto now = juce::Time::getCurrentTime();
        const juce::Point<float> p (100.0f, (float) y);
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, {}, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                 &box, &box, now, p, now, 1, false);
    }

    // Each returns the messages that event sent, delivered before it returns.
    int press (int y) { return deliver ([&] { box.mouseDown (at (y)); }); }
    int drag (int y) { return deliver ([&] { box.mouseDrag (at (y)); }); }
    int release (int y) { return deliver ([&] { box.mouseUp (at (y)); }); }

    template <typename Event>
    int deliver (Event&& event)
    {
        const auto before = messages;
        event();
        box.dispatchPendingMessages();
        return messages - before;
    }

    void band (float low, float high)
    {
        box.rangeLow = low;
        box.rangeHigh = high;
    }

    juce::Image paint()
    {
        juce::Image image (juce::Image::ARGB, 196, 196, true);
        juce::Graphics g (image);
        box.paint (g);
        return image;
    }
};
} // namespace

TEST (RangeBoxComponent, ClickWithoutDragChangesNothingAndSendsOneMessage)
{
    TestBox t;
    t.band (0.25f, 0.75f);
    EXPECT_EQ (t.press (100), 0);
    EXPECT_FALSE (t.box.mouseReleased);
    EXPECT_EQ (t.release (100), 1);
    EXPECT_TRUE (t.box.mouseReleased);
    EXPECT_EQ (t.box.rangeLow, 0.25f);
    EXPECT_EQ (t.box.rangeHigh, 0.75f);
    EXPECT_EQ (t.box.threshold, 1.0f);
    t.press (100);
    EXPECT_FALSE (t.box.mouseReleased);
}

TEST (RangeBoxComponent, EdgeAndBandDragsKeepTheBandOrderedAndInside)
{
    TestBox t; // band 0.25..0.75 is y 49..147
    const auto f = [] (int y) { return (float) y / 196.0f; };

    // 10 pixels from the upper edge, inside the band: the upper edge,
    // which stops at the lower one.
    t.band (0.25f, 0.75f);
    t.press (59);
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

    // Far outside the band: the nearer edge jumps to the mouse. A tie (a
    // collapsed band) drags the lower edge, which opens the band downward.
    t.band (0.25f, 0.75f);
    t.press (5);
    t.drag (6);
    EXPECT_EQ (t.box.rangeLow, f (6));
    EXPECT_EQ (t.box.rangeHigh, 0.75f);
    t.band (0.5f, 0.5f);
    t.press (98);
    t.drag (120);
    EXPECT_EQ (t.box.rangeLow, 0.5f);
    EXPECT_EQ (t.box.rangeHigh, f (120));

    // The whole band: past the bottom the lower edge stays at 1 and the band
    // shrinks; past the top the upper edge stays at 0.
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
    EXPECT_EQ (t.release (900), 1);
    EXPECT_EQ (t.box.threshold, 1.0f);

    // The outlines of the excluded areas, from the middle to the right:
    // each band edge, and the middle line only outside the band.
    t.band (0.25f, 0.75f);
    const auto image = t.paint();
    EXPECT_GT (image.getPixelAt (150, 48).getAlpha(), 0);
    EXPECT_GT (image.getPixelAt (150, 147).getAlpha(), 0);
    EXPECT_GT (image.getPixelAt (98, 20).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (98, 100).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (150, 100).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (50, 48).getAlpha(), 0);
}

TEST (RangeBoxComponent, ThresholdModeIsTheDistanceFromTheMiddle)
{
    TestBox t;
    t.box.thresholdMode = true;
    t.band (0.25f, 0.75f);
    t.press (49); // on the upper edge: no effect in this mode
    struct { int y; float threshold; } const cases[] = {
        { 98, 1.0f }, { 0, 0.0f }, { 196, 0.0f }, { 49, 0.5f }, { 147, 0.5f }, { -40, 0.0f }, { 500, 0.0f },
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ (t.drag (c.y), 1) << c.y;
        EXPECT_FLOAT_EQ (t.box.threshold, c.threshold) << c.y;
    }
    EXPECT_EQ (t.box.rangeLow, 0.25f);
    EXPECT_EQ (t.box.rangeHigh, 0.75f);

    // Threshold 0.5 fills the middle half: rows 49 to 146.
    t.drag (49);
    const auto image = t.paint();
    EXPECT_EQ (image.getPixelAt (10, 48).getAlpha(), 0);
    EXPECT_GT (image.getPixelAt (10, 49).getAlpha(), 0);
    EXPECT_GT (image.getPixelAt (190, 146).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (10, 147).getAlpha(), 0);
}
