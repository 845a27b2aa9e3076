#include <gtest/gtest.h>

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVPlusEditor.h"
#include "app/editor/CVUIEditor.h"
#include "app/editor/CreditsComponent.h"
#include "app/support/ScopedConfigHome.h"
#include "app/support/TestHelpers.h"
#include "app/editor/WashWindowComponent.h"

#include <atomic>
#include <thread>

namespace
{
struct EditorFixture
{
    ScopedConfigHome home;
    CVAudioProcessor processor;
    double progress = 0.0;
    std::unique_ptr<CVUIEditor> editor = std::make_unique<CVUIEditor> (processor, progress);

    CreditsComponent& info() { return editor->getInformationPanel(); }
    CVPlusEditor& controls() { return editor->getControlsPanel(); }
    juce::Component* onlyChild() { return editor->getNumChildComponents() == 1 ? editor->getChildComponent (0) : nullptr; }
};

using apptest::processNoise;
using apptest::snapshot;
} // namespace

// One panel at a time; the other stays alive with what it showed, and neither
// the input feed nor the overlay depends on which one shows.
TEST (EditorShell, ShowsOnePanelAtATimeAndKeepsTheOtherAlive)
{
    EditorFixture f;
    EXPECT_EQ (f.editor->getNumChildComponents(), 0);
    f.editor->showPanel (3);
    f.editor->showPanel (3);
    EXPECT_EQ (f.onlyChild(), &f.controls());
    EXPECT_FALSE (f.editor->isProgressVisible());
    f.editor->setProgressVisible (true);

    f.editor->showPanel (1);
    EXPECT_EQ (f.onlyChild(), &f.info());
    f.processor.prepareToPlay (44100.0, 512);
    processNoise (f.processor, 512);
    processNoise (f.processor, 300);
    f.editor->pollInputFeed();
    EXPECT_EQ (f.editor->getSamplesDisplayed(), 812);
    EXPECT_TRUE (f.editor->isProgressVisible());

    f.editor->getPreferences().setAnalyze (false);
    f.editor->showPanel (3);
    EXPECT_EQ (f.onlyChild(), &f.controls());
    EXPECT_EQ (f.info().getParentComponent(), nullptr);
    EXPECT_TRUE (f.info().getAnalyzeToggle().getToggleState());
    EXPECT_FALSE (f.info().getHideHelpTipsToggle().getToggleState());

    f.editor->showPanel (2);
    EXPECT_EQ (f.editor->getNumChildComponents(), 0);
    f.editor->setProgressVisible (false);
    EXPECT_FALSE (f.editor->isProgressVisible());
}

TEST (EditorShell, FirstLaunchIsReadBeforeTheApplicationWritesIt)
{
    EditorFixture f;
    EXPECT_FALSE (Preferences::getFile().existsAsFile());
    f.editor->getPreferences().setFirstLaunch (false);
    EXPECT_TRUE (f.editor->wasFirstLaunch());
    f.editor.reset();
    EXPECT_FALSE (CVUIEditor (f.processor, f.progress).wasFirstLaunch());
}

TEST (InformationPanel, TogglesFollowThePreferencesAndWriteThem)
{
    EditorFixture f;
    auto& prefs = f.editor->getPreferences();
    auto& hideTips = f.info().getHideHelpTipsToggle();
    auto& analyze = f.info().getAnalyzeToggle();

    // Not yet shown: both unticked whatever the preferences hold.
    EXPECT_FALSE (hideTips.getToggleState());
    EXPECT_FALSE (analyze.getToggleState());
    ASSERT_NE (f.controls().getTooltipWindow(), nullptr);

    f.editor->showPanel (1);
    EXPECT_FALSE (hideTips.getToggleState());
    EXPECT_TRUE (analyze.getToggleState());
    // Following the preferences clicked nothing.
    EXPECT_TRUE (prefs.getHelpTips());
    EXPECT_TRUE (prefs.getAnalyze());

    hideTips.setToggleState (true, juce::sendNotificationSync);
    EXPECT_FALSE (prefs.getHelpTips());
    EXPECT_EQ (f.controls().getTooltipWindow(), nullptr);
    hideTips.setToggleState (false, juce::sendNotificationSync);
    EXPECT_TRUE (prefs.getHelpTips());
    ASSERT_NE (f.controls().getTooltipWindow(), nullptr);

    // A click on the ticked box turns analysis off rather than writing what
    // was already stored.
    analyze.setToggleState (false, juce::sendNotificationSync);
    EXPECT_FALSE (prefs.getAnalyze());

    // Shown again, the panel reads the preferences afresh: tips off, analysis off.
    prefs.setHelpTips (false);
    f.editor->showPanel (3);
    f.editor->showPanel (1);
    EXPECT_TRUE (hideTips.getToggleState());
    EXPECT_FALSE (analyze.getToggleState());

    f.info().buttonClicked (&f.info().getDoneButton());
    EXPECT_EQ (f.onlyChild(), &f.controls());
}

TEST (InformationPanel, LayoutAndVersionLine)
{
    EditorFixture f;
    f.editor->showPanel (1);
    auto& info = f.info();

    const auto lines = juce::StringArray::fromLines (info.getVersionLabel().getText());
    ASSERT_EQ (lines.size(), 2);
    EXPECT_TRUE (lines[1].endsWith ("Version 5.0.0"));

    EXPECT_EQ (apptest::boundsOf ({ &info.getDoneButton(), &info.getVersionLabel(), &info.getHideHelpTipsToggle(), &info.getUserGuideButton(), &info.getAnalyzeToggle() }),
               (std::vector<juce::Rectangle<int>> { { 592, 352, 150, 24 }, { 219, 344, 364, 36 }, { 608, 312, 150, 24 }, { 32, 352, 150, 24 }, { 608, 288, 150, 24 } }));

    // Every text reads dark on the light picture, whatever look and feel is installed.
    const auto image = snapshot (*f.editor, "information-panel.png");
    for (juce::Component* text : std::initializer_list<juce::Component*> { &info.getVersionLabel(), &info.getHideHelpTipsToggle(), &info.getAnalyzeToggle() })
    {
        float darkest = 1.0f;
        const auto area = text->getBounds();
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                darkest = std::min (darkest, image.getPixelAt (x, y).getPerceivedBrightness());
        EXPECT_LT (darkest, 0.3f) << text->getName();
    }
}

// The editor window comes and goes while audio runs, its displays pulling
// from the feeds a while before they go: nothing the audio thread touches
// may belong to an editor.
TEST (EditorShell, EditorsComeAndGoWhileAudioRuns)
{
    ScopedConfigHome home;
    CVAudioProcessor processor;
    processor.prepareToPlay (44100.0, 512);
    CVUIEditor::installAsProcessorEditor();

    std::atomic<bool> done { false };
    std::atomic<int> blocks { 0 };
    int rows = 0;
    std::thread audio ([&]
    {
        while (! done)
        {
            processNoise (processor, 512);
            ++blocks;
        }
    });

    for (int i = 0; i < 200; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        ASSERT_NE (dynamic_cast<CVUIEditor*> (editor.get()), nullptr);
        auto& cv = static_cast<CVUIEditor&> (*editor);
        cv.showPanel (i % 2 == 0 ? 1 : 3);
        cv.pollInputFeed();
        auto& wash = cv.getControlsPanel().getWashWindow();
        for (int k = 0; k < 3; ++k)
            juce::Thread::sleep (1), wash.timerCallback();
        rows += wash.getRowsPushed();
        apptest::pump (1);
        editor.reset();
        EXPECT_EQ (processor.getNoiseDisplay(), nullptr);
    }

    done = true;
    audio.join();
    EXPECT_GT (blocks.load(), 0);
    EXPECT_GT (rows, 0);
    EXPECT_EQ (processor.getActiveEditor(), nullptr);
}
