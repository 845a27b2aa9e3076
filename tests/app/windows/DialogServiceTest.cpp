#include <gtest/gtest.h>
#include "app/windows/DialogService.h"
#include "app/support/TestHelpers.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace
{
struct ScopedService
{
    DialogService& service = DialogService::get();
    ScopedService() { reset(); }
    ~ScopedService() { reset(); }
    void reset()
    {
        service.clearScript();
        service.setResponder (nullptr);
        service.clearHistory();
    }
};

const juce::StringArray closeButtons { "Save", "Discard Changes", "Cancel" };
} // namespace

TEST (DialogService, TestsAnswerByButtonTextAndReadBackWhatWasAsked)
{
    ScopedService scoped;
    auto& dialogs = scoped.service;

    dialogs.answerWithButton ("Discard Changes");
    dialogs.answerWithButton ("Delete"); // a button the box does not have
    dialogs.answerWithFile (juce::File ("/tmp/out.wav"));
    EXPECT_EQ (dialogs.ask (juce::MessageBoxIconType::QuestionIcon, "Apply Clarivo before closing?", "Do you want to save?", closeButtons), 1);
    EXPECT_EQ (dialogs.ask (juce::MessageBoxIconType::QuestionIcon, "Replace file?", "Overwrite?", { "Replace", "Cancel" }), -1);
    EXPECT_EQ (dialogs.chooseFileToSave ("Save As", {}, "*.wav"), juce::File ("/tmp/out.wav"));

    // Past the script, the responder answers; the record keeps every box.
    dialogs.setResponder ([] (const DialogService::Request& request) {
        DialogService::Answer answer;
        answer.button = request.buttons.indexOf ("OK");
        return answer;
    });
    dialogs.showMessage (juce::MessageBoxIconType::WarningIcon, "No Overwrite", "Choose another name.");

    const auto& history = dialogs.getHistory();
    ASSERT_EQ (history.size(), 4u);
    EXPECT_EQ (history[0].request.title, "Apply Clarivo before closing?");
    EXPECT_EQ (history[0].request.buttons, closeButtons);
    EXPECT_EQ (history[1].answer.button, -1);
    EXPECT_EQ (history[2].request.kind, DialogService::Kind::saveFile);
    EXPECT_EQ (history[2].request.patterns, "*.wav");
    EXPECT_EQ (history[3].request.kind, DialogService::Kind::message);
    EXPECT_EQ (history[3].request.icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (history[3].answer.button, 0);
    for (const auto& record : history)
        EXPECT_TRUE (record.answeredByScript);
}

// With nobody scripted, the real box comes up, shows its buttons in the
// order given, and the one clicked is the one answered.
TEST (DialogService, TheRealBoxAnswersWithTheButtonClicked)
{
    ScopedService scoped;
    juce::Image seen;

    juce::Timer::callAfterDelay (300, [&seen] {
        auto* window = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
        if (window == nullptr)
            return;
        seen = window->createComponentSnapshot (window->getLocalBounds());
        for (auto* child : window->getChildren())
            if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->getButtonText() == "Cancel")
                button->triggerClick();
    });

    const int pressed = scoped.service.ask (juce::MessageBoxIconType::QuestionIcon, "Apply Clarivo before closing?",
                                            "Do you want to save a copy of \"song.wav\" with the current Clarivo settings?",
                                            closeButtons);
    EXPECT_EQ (pressed, 2);
    ASSERT_TRUE (seen.isValid());
    EXPECT_FALSE (scoped.service.getHistory().back().answeredByScript);

    apptest::savePng (seen, "dialog-close-question.png");
}

// A box that does not wait: up at once, gone when the program closes it
// without a word, and its button heard when the user presses it; in tests
// it takes no scripted answer and is pressed by its button's text.
TEST (DialogService, AProgressBoxGoesWhenClosedOrWhenItsButtonIsPressed)
{
    ScopedService scoped;
    auto& dialogs = scoped.service;
    std::vector<int> pressed;
    const auto record = [&pressed] (int button) { pressed.push_back (button); };

    auto closed = dialogs.showProgress (juce::String::fromUTF8 ("Checking for updates\xe2\x80\xa6"), { "Cancel" }, record);
    auto* window = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
    ASSERT_NE (window, nullptr);
    EXPECT_TRUE (window->isShowing());
    apptest::pump (200); // the bar takes up its value on its own timer
    apptest::savePng (window->createComponentSnapshot (window->getLocalBounds()), "dialog-progress.png");
    closed->close();
    apptest::pump (100);
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
    EXPECT_TRUE (pressed.empty());

    auto clicked = dialogs.showProgress ("Clicked", { "Cancel" }, record);
    window = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
    ASSERT_NE (window, nullptr);
    for (auto* child : window->getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->getButtonText() == "Cancel")
            button->triggerClick();
    apptest::pump (100);
    EXPECT_EQ (pressed, std::vector<int> { 0 });
    EXPECT_FALSE (clicked->isOpen());
    EXPECT_TRUE (dialogs.getOpenBoxes().empty());

    // Scripted: nothing on the screen, and the script is left for the boxes that wait.
    dialogs.answerWithButton ("OK");
    std::unique_ptr<DialogService::OpenBox> scripted;
    scripted = dialogs.showProgress ("Scripted", { "Stop", "Cancel" }, [&] (int button)
    {
        record (button);
        scripted = nullptr; // the call may end the box's life
    });
    EXPECT_EQ (juce::Component::getCurrentlyModalComponent(), nullptr);
    ASSERT_EQ (dialogs.getOpenBoxes().size(), 1u);
    EXPECT_FALSE (dialogs.pressButton ("OK"));
    EXPECT_TRUE (dialogs.pressButton ("Cancel"));
    EXPECT_EQ (scripted, nullptr);
    EXPECT_EQ (pressed, (std::vector<int> { 0, 1 }));
    EXPECT_EQ (dialogs.ask (juce::MessageBoxIconType::NoIcon, "Next", {}, { "OK" }), 0);
    EXPECT_EQ (dialogs.getHistory().front().request.kind, DialogService::Kind::progress);
}

// The desktop's chooser is a program of its own: it gets our question and
// gives back the file, and no descriptor of ours goes with it, close-on-exec
// or not (a stream JUCE opened, say).
TEST (DialogService, TheDesktopChooserInheritsNoDescriptorOfOurs)
{
    ScopedService scoped;
    const auto bin = juce::File::createTempFile ("-chooser-bin");
    ASSERT_TRUE (bin.createDirectory());
    const auto log = bin.getChildFile ("descriptors"), asked = bin.getChildFile ("arguments");
    const auto standIn = bin.getChildFile ("zenity");
    // What it was given, before it opens anything itself (the listing's
    // own hold on the folder it lists is gone by the look).
    ASSERT_TRUE (standIn.replaceWithText ("#!/usr/bin/python3\nimport os, sys\n"
                                          "fds = os.listdir('/proc/self/fd')\n"
                                          "held = [fd + ' ' + os.readlink('/proc/self/fd/' + fd) for fd in fds if os.path.lexists('/proc/self/fd/' + fd)]\n"
                                          "open('" + log.getFullPathName() + "', 'w').write('\\n'.join(held))\n"
                                          "open('" + asked.getFullPathName() + "', 'w').write(''.join(a + '\\n' for a in sys.argv[1:]))\n"
                                          "print('/chosen/take.wav')\n",
                                          false, false, "\n"));
    ASSERT_TRUE (standIn.setExecutePermission (true));
    const juce::String path (std::getenv ("PATH"));
    ::setenv ("PATH", (bin.getFullPathName() + ":" + path).toRawUTF8(), 1);
    const int planted = ::open (standIn.getFullPathName().toRawUTF8(), O_RDONLY);
    ASSERT_GE (planted, 3);

    const auto chosen = scoped.service.chooseFileToSave ("Save media file as...", bin.getChildFile ("song.wav"), "*.wav");
    ::close (planted);
    ::setenv ("PATH", path.toRawUTF8(), 1);

    EXPECT_EQ (chosen, juce::File ("/chosen/take.wav"));
    EXPECT_EQ (asked.loadFileAsString(), "--file-selection\n--title=Save media file as...\n--save\n--filename="
                                             + bin.getChildFile ("song.wav").getFullPathName() + "\n--file-filter=*.wav\n");
    juce::StringArray descriptors;
    descriptors.addLines (log.loadFileAsString());
    descriptors.sort (false);
    ASSERT_EQ (descriptors.size(), 3) << descriptors.joinIntoString ("\n");
    EXPECT_EQ (descriptors[0], "0 /dev/null");
    EXPECT_TRUE (descriptors[1].startsWith ("1 pipe:")) << descriptors[1];
    EXPECT_EQ (descriptors[2], "2 /dev/null");
    bin.deleteRecursively();
}
