#include "AppTestSupport.h"
#include "CVAudioProcessor.h"
#include "CVPlusEditor.h"
#include "CVUIEditor.h"
#include "ClarivoApplication.h"

// Learn through the running application: with nothing open it starts no pass;
// with media open it starts playback, learns from it and hands over to reduction.
TEST_F (AppTest, LearnPlaysTheOpenMediaAndNothingWithoutIt)
{
    auto& learn = app->getEditor()->getControlsPanel().getButton (CVPlusEditor::learnButton);
    auto& bay = processor().getNoiseReductionBay();
    learn.setState (juce::Button::buttonDown);
    learn.setState (juce::Button::buttonNormal);
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_FALSE (learn.getToggleState());

    ASSERT_TRUE (open (mediatest::media ("stereo.m4a")).wasOk());
    learn.setState (juce::Button::buttonDown);
    EXPECT_TRUE (app->isPlaying());
    EXPECT_NE (bay.isLearning(), 0);
    EXPECT_EQ (processor().learnRegion.length, 12288);
    learn.setState (juce::Button::buttonNormal);
    EXPECT_TRUE (mediatest::pumpUntil ([&] { return bay.isLearning() == 0 && ! learn.getToggleState(); }, 3000));
    EXPECT_NE (bay.getMode(), 0);
}
