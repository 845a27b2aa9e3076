// The windows' menus and commands on top of a running application: what each
// command says and when it may run, what it does through the application,
// and that nothing closes or quits while a job shows its overlay.
#include "app/support/AppTestSupport.h"
#include "app/support/ScopedConfigHome.h"

#include "app/windows/CVEditorWindow.h"
#include "app/editor/CVPlusEditor.h"
#include "app/editor/CVUIEditor.h"
#include "app/editor/CreditsComponent.h"

using namespace mediatest;
using Cmd = CVDocumentWindow::CommandIDs;

namespace
{
constexpr int ctrl = juce::ModifierKeys::commandModifier;
constexpr int shift = juce::ModifierKeys::shiftModifier;
struct Row
{
    juce::CommandID id;
    const char* text;
    const char* description;
    const char* category;
    juce::KeyPress key;
    bool needsMedia, tickedAtStart;
};

const Row table[] = {
    { 8192, "Open Media...", "Open a video or audio file", "File", { 'o', ctrl, 0 }, false, false },
    { 8193, "Close", "Close the media file", "File", { 'w', ctrl, 0 }, true, false },
    { 8194, "Save...", "Save the media file", "File", { 's', ctrl, 0 }, true, false },
    { 8195, "Save As...", "Save the media file as", "File", { 's', ctrl | shift, 0 }, true, false },
    { 8196, "Batch Processor...", "Batch Process Files", "File", { 'b', ctrl | shift, 0 }, false, false },
    { 8197, "Reset...", "Reset all Settings", "File", {}, false, false },
    { 8198, "Load Preset...", "Load Clarivo Settings", "File", {}, false, false },
    { 8199, "Save Preset...", "Save Clarivo Settings", "File", {}, false, false },
    { 8202, "Play/Pause", "Play or pause the media", "Media", { juce::KeyPress::spaceKey, 0, 0 }, false, false },
    { 8203, "Rewind to Start", "Rewind to the start of the media", "Media", { juce::KeyPress::returnKey, 0, 0 }, false, false },
    { 8204, "Forward", "Move media play time forward", "Media", { juce::KeyPress::rightKey, 0, 0 }, false, false },
    { 8205, "Backward", "Move media play time backward", "Media", { juce::KeyPress::leftKey, 0, 0 }, false, false },
    { 8206, "Loop", "Loop the media", "Media", { 'l', ctrl, 0 }, false, true },
    { 8207, "Media Player", "Show Media Player", "Media", { 'p', ctrl, 0 }, false, true },
    { 8208, "Media Recorder", "Show Media Recorder", "Media", { 'r', ctrl, 0 }, false, false },
    { 8209, "User Guide/Support/Feedback...", "Clarivo Manual and Support Resources", "File", { 'g', ctrl, 0 }, false, false },
};

constexpr juce::CommandID quit = juce::StandardApplicationCommandIDs::quit;

// A menu as "id text [disabled] [ticked]" lines, "-" for a separator.
using Lines = std::vector<std::string>;
Lines describe (const juce::PopupMenu& menu)
{
    Lines lines;
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        const auto& item = it.getItem();
        if (item.isSeparator)
            lines.push_back ("-");
        else
            lines.push_back ((juce::String (item.itemID) + " " + item.text + (item.isEnabled ? "" : " [disabled]")
                              + (item.isTicked ? " [ticked]" : "")).toStdString());
    }
    return lines;
}
} // namespace

class WindowsTest : public AppTest
{
protected:
    WindowsTest() { showWindows = true; }

    void TearDown() override
    {
        if (! app->isIdle())
            app->hideProgress();
        AppTest::TearDown();
    }

    std::vector<CVDocumentWindow*> windows() { return { &editorWindow(), app->getMediaWindow() }; }

    juce::ApplicationCommandInfo info (CVDocumentWindow& window, juce::CommandID id)
    {
        juce::ApplicationCommandInfo result (id);
        window.getCommandInfo (id, result);
        return result;
    }

    static bool active (const juce::ApplicationCommandInfo& i) { return (i.flags & juce::ApplicationCommandInfo::isDisabled) == 0; }
    static bool ticked (const juce::ApplicationCommandInfo& i) { return (i.flags & juce::ApplicationCommandInfo::isTicked) != 0; }

    CVEditorWindow& editorWindow() { return *app->getEditorWindow(); }
};

TEST_F (WindowsTest, CommandTableAndMenus)
{
    auto& keys = *app->getCommandManager().getKeyMappings();
    for (auto* window : windows())
    {
        juce::Array<juce::CommandID> ids, expected;
        window->getAllCommands (ids);
        for (const auto& row : table)
            expected.add (row.id);
        expected.add (quit);
        EXPECT_EQ (ids, expected);

        for (const auto& row : table)
        {
            SCOPED_TRACE (row.text);
            const auto i = info (*window, row.id);
            EXPECT_EQ (i.shortName + "|" + i.description + "|" + i.categoryName, juce::String (row.text) + "|" + row.description + "|" + row.category);
            EXPECT_EQ (keys.getKeyPressesAssignedToCommand (row.id), row.key.isValid() ? juce::Array<juce::KeyPress> { row.key } : juce::Array<juce::KeyPress>());
            // No media open.
            EXPECT_EQ (active (i), ! row.needsMedia);
            EXPECT_EQ (ticked (i), row.tickedAtStart);
        }
        EXPECT_TRUE (active (info (*window, quit)));
        EXPECT_EQ (keys.getKeyPressesAssignedToCommand (quit), juce::Array<juce::KeyPress> { juce::KeyPress ('q', ctrl, 0) });

        EXPECT_EQ (window->getMenuBarNames(), juce::StringArray ({ "File", "Media", "Help" }));
        EXPECT_EQ (describe (window->getMenuForIndex (0, "File")),
                   (Lines { "8192 Open Media...", "8193 Close [disabled]", "8194 Save... [disabled]",
                            "8195 Save As... [disabled]", "8196 Batch Processor...", "-", "8197 Reset...",
                            "8198 Load Preset...", "8199 Save Preset...", "-", std::to_string (quit) + " Quit" }));
        EXPECT_EQ (describe (window->getMenuForIndex (1, "Media")),
                   (Lines { "8202 Play/Pause", "8203 Rewind to Start", "8205 Backward", "8204 Forward",
                            "8206 Loop [ticked]", "-", "8207 Media Player [ticked]", "8208 Media Recorder" }));
        EXPECT_EQ (describe (window->getMenuForIndex (2, "Help")),
                   (Lines { "8209 User Guide/Support/Feedback...", "-", "8449 Check for Updates...", "8448 About Clarivo+" }));
        EXPECT_EQ (window->getMenuForIndex (3, {}).getNumItems(), 0);
    }

    // The editor window: its title, the editor within, placed with room for
    // the media window under it on this 1024-pixel screen.
    auto* editor = editorWindow().getEditor();
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editorWindow().getName(), "Clarivo+");
    EXPECT_EQ (editor->getBounds().withPosition (0, 0), juce::Rectangle<int> (780, 400));
    EXPECT_EQ (editorWindow().getY(), 64);
    EXPECT_TRUE (editorWindow().isVisible());
}

TEST_F (WindowsTest, CommandsGoThroughTheApplicationAndWaitWhileAJobRuns)
{
    auto& commands = app->getCommandManager();
    const auto invoke = [&] (juce::CommandID id) { return commands.invokeDirectly (id, false); };
    const auto press = [&] (CVDocumentWindow& window, juce::KeyPress key) {
        window.getPeer()->handleKeyPress (key);
        pumpUntil ([] { return false; }, 50);
    };

    // Loop starts ticked; the command and its shortcut in either window toggle it.
    EXPECT_TRUE (invoke (Cmd::loop));
    EXPECT_FALSE (app->isLooping() || ticked (info (editorWindow(), Cmd::loop)));
    press (editorWindow(), juce::KeyPress ('l', ctrl, 0));
    EXPECT_TRUE (app->isLooping());
    press (*app->getMediaWindow(), juce::KeyPress ('l', ctrl, 0));
    EXPECT_FALSE (app->isLooping());
    app->setLooping (true);

    // "Reset..." resets at once and marks the open media changed.
    const auto song = scratchFolder().getChildFile ("song.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (song));
    ASSERT_TRUE (open (song).wasOk());
    processor().setParameter (CVAudioProcessor::Parameter::boost, 0.7f);
    EXPECT_TRUE (pumpUntil ([&] { return document().hasChangedSinceSaved(); }, 2000));
    document().setChangedFlag (false);
    EXPECT_TRUE (invoke (Cmd::resetSettings));
    EXPECT_TRUE (pumpUntil ([&] { return document().hasChangedSinceSaved(); }, 2000));
    EXPECT_NE (processor().getParameter (CVAudioProcessor::Parameter::boost), 0.7f);
    EXPECT_TRUE (askedTitles().isEmpty());
    for (const auto& row : table)
        EXPECT_TRUE (active (info (editorWindow(), row.id))) << row.text;

    // A job under way: every command and Quit wait, and nothing asks about
    // the changed media (the close buttons under a real export: ApplicationTest).
    app->showProgress ("Exporting...");
    for (auto* window : windows())
    {
        for (const auto& row : table)
            EXPECT_FALSE (active (info (*window, row.id))) << row.text;
        EXPECT_FALSE (active (info (*window, quit)));
        for (int menu = 0; menu < 3; ++menu)
            for (const auto& line : describe (window->getMenuForIndex (menu, {})))
                EXPECT_TRUE (line == "-" || line.find ("[disabled]") != std::string::npos) << line;
    }
    EXPECT_FALSE (invoke (Cmd::loop));
    press (editorWindow(), juce::KeyPress ('w', ctrl, 0));
    EXPECT_TRUE (app->isLooping());
    EXPECT_TRUE (askedTitles().isEmpty());
    EXPECT_EQ (document().getMediaFile(), song);
    app->hideProgress();

    // Idle again: the editor's close button and Quit take the quit path,
    // which offers to save first; cancelling keeps everything open.
    for (bool byCloseButton : { true, false })
    {
        DialogService::get().clearHistory();
        DialogService::get().answerWithButton ("Cancel");
        byCloseButton ? editorWindow().closeButtonPressed() : (void) invoke (quit);
        EXPECT_EQ (askedTitles(), juce::StringArray { "Apply Clarivo before closing?" });
        EXPECT_EQ (document().getMediaFile(), song);
    }

    // "Media Recorder" first closes the media: cancelled, the player stays;
    // discarded, the recorder shows and the ticks follow.
    DialogService::get().answerWithButton ("Cancel");
    EXPECT_TRUE (invoke (Cmd::mediaRecorder));
    EXPECT_TRUE (app->isPlayerMode());
    EXPECT_EQ (document().getMediaFile(), song);
    DialogService::get().answerWithButton ("Discard Changes");
    EXPECT_TRUE (invoke (Cmd::mediaRecorder));
    EXPECT_EQ (document().getMediaFile(), juce::File());
    EXPECT_FALSE (app->isPlayerMode() || ticked (info (editorWindow(), Cmd::mediaPlayer)));
    EXPECT_TRUE (ticked (info (editorWindow(), Cmd::mediaRecorder)));
    // Asked again, it leaves the recorder as it is: closing once more would
    // pass through the player (ending a recording) and place the window anew.
    auto& recorderWindow = *app->getMediaWindow();
    recorderWindow.setTopLeftPosition (recorderWindow.getPosition() + juce::Point<int> (40, 40));
    const auto placed = recorderWindow.getBounds();
    DialogService::get().clearHistory();
    EXPECT_TRUE (invoke (Cmd::mediaRecorder));
    EXPECT_FALSE (app->isPlayerMode());
    EXPECT_EQ (recorderWindow.getBounds(), placed);
    EXPECT_TRUE (askedTitles().isEmpty());
    EXPECT_TRUE (invoke (Cmd::mediaPlayer) && app->isPlayerMode());
}

// "About Clarivo+" from either window's menu brings up the information
// panel in the editor window; its "Done" brings the controls back.
TEST_F (WindowsTest, AboutShowsTheInformationPanelFromEitherWindow)
{
    auto* editor = editorWindow().getEditor();
    auto& information = editor->getInformationPanel();
    auto& controls = editor->getControlsPanel();
    for (auto* window : windows())
    {
        SCOPED_TRACE (window->getName().toStdString());
        ASSERT_EQ (controls.getParentComponent(), editor);
        window->menuItemSelected (Cmd::about, 2);
        EXPECT_EQ (information.getParentComponent(), editor);
        EXPECT_TRUE (information.isShowing());
        EXPECT_EQ (controls.getParentComponent(), nullptr);
        if (window == &editorWindow())
            writeSnapshot (editorWindow(), "about-information-panel");
        information.getDoneButton().triggerClick();
        pumpUntil ([] { return false; }, 50);
        EXPECT_EQ (controls.getParentComponent(), editor);
        EXPECT_EQ (information.getParentComponent(), nullptr);
    }
    EXPECT_TRUE (askedTitles().isEmpty());
}

// Learn as a user works it: one press and one release that the editor
// window's peer turns into mouse events, as it does for the pointer.
TEST_F (WindowsTest, LearnPressedAndReleasedThroughTheWindowStaysLitWhileTheBayLearns)
{
    const auto song = scratchFolder().getChildFile ("learn.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (song));
    ASSERT_TRUE (open (song).wasOk());
    ASSERT_TRUE (pumpUntil ([&] { return app->isIdle(); }, 30000));

    auto& learn = app->getEditor()->getControlsPanel().getButton (CVPlusEditor::learnButton);
    auto& bay = processor().getNoiseReductionBay();
    auto* peer = editorWindow().getPeer();
    ASSERT_NE (peer, nullptr);
    const auto at = peer->globalToLocal (learn.getScreenBounds().getCentre().toFloat());
    const auto mouse = [&] (int buttons)
    {
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, at, juce::ModifierKeys (buttons),
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                juce::Time::currentTimeMillis());
    };

    mouse (0); // the pointer arrives over the button
    mouse (juce::ModifierKeys::leftButtonModifier);
    EXPECT_TRUE (learn.isDown());
    EXPECT_NE (bay.isLearning(), 0);
    EXPECT_TRUE (app->isPlaying());
    pumpUntil ([] { return false; }, 300 / 8);
    mouse (0);
    EXPECT_FALSE (learn.isDown());
    EXPECT_TRUE (learn.getToggleState());

    // Lit for as long as the bay learns, then out.
    bool litWhileLearning = true;
    EXPECT_TRUE (pumpUntil ([&]
    {
        litWhileLearning = litWhileLearning && (bay.isLearning() == 0 || learn.getToggleState());
        return bay.isLearning() == 0 && ! learn.getToggleState();
    }, 5000));
    EXPECT_TRUE (litWhileLearning);
    app->playPause();
}

// Each window with each of its menus open, as one picture of the screen
// around them, in build/snapshots/.
TEST_F (WindowsTest, SnapshotsOfEachWindowWithEachMenuOpen)
{
    auto* mediaWindow = app->getMediaWindow();
    mediaWindow->setVisible (true);
    mediaWindow->setTopLeftPosition (editorWindow().getX(), editorWindow().getBottom() + 32);
    auto& desktop = juce::Desktop::getInstance();

    for (auto [window, name] : { std::pair<CVDocumentWindow*, juce::String> { &editorWindow(), "editor-window" }, { mediaWindow, "media-window" } })
    {
        auto* bar = dynamic_cast<juce::MenuBarComponent*> (window->getMenuBarComponent());
        ASSERT_NE (bar, nullptr);
        for (int index = 0; index < 3; ++index)
        {
            // An open menu closes itself once no window of ours has the focus,
            // so it is taken as soon as it is made.
            window->toFront (true);
            pumpUntil ([&] { return window->getPeer()->isFocused(); }, 1000);
            bar->showMenu (index);
            juce::Component::SafePointer<juce::Component> popup;
            for (int i = 0; i < desktop.getNumComponents(); ++i)
                if (auto* c = desktop.getComponent (i); c != &editorWindow() && c != mediaWindow && c->isShowing())
                    popup = c;
            ASSERT_NE (popup, nullptr);
            // Under its name on the bar.
            EXPECT_LE (std::abs (popup->getScreenY() - bar->getScreenBounds().getBottom()), 4);

            const auto area = window->getScreenBounds().getUnion (popup->getScreenBounds());
            juce::Component screen;
            screen.setSize (area.getWidth(), area.getHeight());
            juce::ImageComponent shots[2];
            for (auto [shot, source] : { std::pair { &shots[0], static_cast<juce::Component*> (window) }, { &shots[1], popup.getComponent() } })
            {
                shot->setImage (source->createComponentSnapshot (source->getLocalBounds()));
                shot->setBounds (source->getScreenBounds() - area.getPosition());
                screen.addAndMakeVisible (shot);
            }
            writeSnapshot (screen, name + "-" + window->getMenuBarNames()[index].toLowerCase() + "-menu");

            juce::PopupMenu::dismissAllActiveMenus();
            EXPECT_TRUE (pumpUntil ([&] { return popup == nullptr || ! popup->isShowing(); }, 3000));
        }
    }
}
