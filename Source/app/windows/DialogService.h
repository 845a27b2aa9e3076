#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Every alert, question and file chooser of the program goes through here,
// so that one place decides how they look, and tests can answer them by the
// text of a button and read back what was asked.
class DialogService
{
public:
    enum class Kind { message, question, openFile, saveFile, folder, custom, progress };

    struct Request
    {
        Kind kind = Kind::message;
        juce::String title, text;
        juce::StringArray buttons; // in the order they are shown
        juce::File initial;        // choosers: where they start
        juce::String patterns;     // choosers: "*.wav;*.aif"
        juce::MessageBoxIconType icon = juce::MessageBoxIconType::NoIcon;
        juce::Component* content = nullptr; // custom boxes: what they show
    };

    struct Answer
    {
        int button = -1; // index into the request's buttons; -1 when dismissed
        juce::File file; // choosers: the chosen file, none when cancelled
    };

    struct Record
    {
        Request request;
        Answer answer;
        bool answeredByScript = false;
    };

    using Responder = std::function<Answer (const Request&)>;

    // The program's one service.
    static DialogService& get();

    // An alert with the framework's own button.
    void showMessage (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text);

    // The index of the button pressed, or -1 when the box was dismissed.
    int ask (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text,
             const juce::StringArray& buttons);

    // A file or folder, or an invalid file when the user cancelled. A
    // chooser starts in initial's folder while it exists, otherwise in
    // documentsFolder(), keeping initial's name for a save.
    juce::File chooseFileToOpen (const juce::String& title, const juce::File& initial, const juce::String& patterns);
    juce::File chooseFileToSave (const juce::String& title, const juce::File& initial, const juce::String& patterns);
    juce::File chooseFolder (const juce::String& title, const juce::File& initial);

    // The user's Documents folder, made when missing, as a fresh account
    // has none; the home folder when it cannot be made.
    static juce::File documentsFolder();

    // A modal box of the program's own around content: show puts it on the
    // screen and returns the index of the button that ended it, -1 when it
    // was dismissed. A test answers it by a button's text, and may work the
    // content first.
    int runCustom (const juce::String& title, juce::Component& content, const juce::StringArray& buttons,
                   const std::function<int()>& show);

    // A box that does not wait: its title over a busy bar and its buttons,
    // up while the program works on. It goes when the program closes it
    // (close, or destroying it), without a call, or when the user presses a
    // button or dismisses it: then onButton gets the button's index, or -1,
    // and may destroy the box. Scripted answers are not taken for it.
    class OpenBox
    {
    public:
        ~OpenBox();
        void close();
        bool isOpen() const noexcept { return open; }
        const Request& getRequest() const noexcept { return request; }

    private:
        friend class DialogService;
        OpenBox (DialogService&, Request, std::function<void (int)>);
        void finish (int button);

        DialogService& service;
        const Request request;
        std::function<void (int)> onButton;
        bool open = true;
        double busy = -1.0; // what the bar shows: no fraction, only that work goes on
        std::shared_ptr<bool> alive = std::make_shared<bool> (true);
        std::unique_ptr<juce::AlertWindow> window;

        JUCE_DECLARE_NON_COPYABLE (OpenBox)
    };

    std::unique_ptr<OpenBox> showProgress (const juce::String& title, const juce::StringArray& buttons,
                                           std::function<void (int)> onButton);

    // True while a box or chooser that waits for its answer is up: what
    // arrives meanwhile from outside (a launch, a late answer) waits too,
    // rather than put a box over it that the user cannot reach.
    bool isAsking() const noexcept { return asking > 0; }

    //==========================================================================
    // Tests: answer what is asked instead of the user. A responder answers
    // every request; scripted answers are taken in order before it.
    void setResponder (Responder responder);
    void answerWithButton (const juce::String& buttonText);
    void answerWithFile (const juce::File& file);
    void clearScript();

    const std::vector<Record>& getHistory() const noexcept { return history; }
    void clearHistory() { history.clear(); }

    // The boxes that do not wait and are up now, oldest first; pressing a
    // button of the newest that has it, as the user would. False when none has.
    std::vector<const OpenBox*> getOpenBoxes() const { return { openBoxes.begin(), openBoxes.end() }; }
    bool pressButton (const juce::String& buttonText);

private:
    struct Scripted
    {
        juce::String button;
        juce::File file;
        bool isFile = false;
    };

    Answer run (const Request& request, const std::function<int()>& showCustom = {});
    Answer answerFromScript (const Request& request);
    static Answer showForReal (const Request& request);

    Responder responder;
    std::deque<Scripted> script;
    std::vector<Record> history;
    std::vector<OpenBox*> openBoxes;
    int asking = 0;
};
