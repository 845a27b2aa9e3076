#include "app/windows/DialogService.h"

#include "platform/process/ProgramLauncher.h"

#include <algorithm>
#include <optional>

DialogService& DialogService::get()
{
    static DialogService service;
    return service;
}

void DialogService::showMessage (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
{
    // The framework's own button text, so that it reads as the platform's.
    run ({ Kind::message, title, text, { TRANS ("OK") }, {}, {}, icon });
}

int DialogService::ask (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text,
                        const juce::StringArray& buttons)
{
    return run ({ Kind::question, title, text, buttons, {}, {}, icon }).button;
}

juce::File DialogService::documentsFolder()
{
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
    if (documents.isDirectory() || documents.createDirectory().wasOk())
        return documents;
    return juce::File::getSpecialLocation (juce::File::userHomeDirectory);
}

namespace
{
// A chooser told to start in a folder that is not there opens somewhere the
// user did not expect, and a save into it fails. Without a start the
// framework's own (the home folder) serves.
juce::File existingStart (const juce::File& initial, bool keepName)
{
    if (initial == juce::File() || initial.exists())
        return initial;
    const auto parent = initial.getParentDirectory();
    if (parent.isDirectory())
        return keepName ? initial : parent;
    const auto folder = DialogService::documentsFolder();
    return keepName ? folder.getChildFile (initial.getFileName()) : folder;
}
} // namespace

juce::File DialogService::chooseFileToOpen (const juce::String& title, const juce::File& initial, const juce::String& patterns)
{
    return run ({ Kind::openFile, title, {}, {}, existingStart (initial, false), patterns }).file;
}

juce::File DialogService::chooseFileToSave (const juce::String& title, const juce::File& initial, const juce::String& patterns)
{
    return run ({ Kind::saveFile, title, {}, {}, existingStart (initial, true), patterns }).file;
}

juce::File DialogService::chooseFolder (const juce::String& title, const juce::File& initial)
{
    return run ({ Kind::folder, title, {}, {}, existingStart (initial, false), {} }).file;
}

int DialogService::runCustom (const juce::String& title, juce::Component& content, const juce::StringArray& buttons,
                             const std::function<int()>& show)
{
    Request request { Kind::custom, title, {}, buttons, {}, {} };
    request.content = &content;
    const int button = run (request, show).button;
    // The content goes with the box; the record must not point at it.
    history.back().request.content = nullptr;
    return button;
}

std::unique_ptr<DialogService::OpenBox> DialogService::showProgress (const juce::String& title, const juce::StringArray& buttons,
                                                                     std::function<void (int)> onButton)
{
    Request request { Kind::progress, title, {}, buttons, {}, {} };
    const bool scripted = responder != nullptr || ! script.empty();
    history.push_back ({ request, {}, scripted });
    std::unique_ptr<OpenBox> box (new OpenBox (*this, request, std::move (onButton)));
    if (scripted)
        return box;

    auto window = std::make_unique<juce::AlertWindow> (title, juce::String(), juce::MessageBoxIconType::NoIcon);
    window->addProgressBarComponent (box->busy);
    for (int i = 0; i < buttons.size(); ++i)
        window->addButton (buttons[i], i + 1, i == 0 ? juce::KeyPress (juce::KeyPress::escapeKey) : juce::KeyPress());
    // Modal for the user, yet no loop of its own waits on it: the program's
    // answer can take it down at any moment.
    window->enterModalState (true, juce::ModalCallbackFunction::create ([b = box.get(), token = std::weak_ptr<bool> (box->alive)] (int result)
    {
        if (! token.expired())
            b->finish (result - 1);
    }), false);
    box->window = std::move (window);
    return box;
}

DialogService::OpenBox::OpenBox (DialogService& s, Request r, std::function<void (int)> callback)
    : service (s), request (std::move (r)), onButton (std::move (callback))
{
    service.openBoxes.push_back (this);
}

DialogService::OpenBox::~OpenBox()
{
    alive.reset();
    close();
}

void DialogService::OpenBox::close()
{
    if (! open)
        return;
    open = false;
    auto& boxes = service.openBoxes;
    boxes.erase (std::remove (boxes.begin(), boxes.end(), this), boxes.end());
    window = nullptr;
}

void DialogService::OpenBox::finish (int button)
{
    if (! open)
        return;
    close();
    // The call may delete this box.
    if (auto call = std::move (onButton))
        call (button);
}

bool DialogService::pressButton (const juce::String& buttonText)
{
    for (auto it = openBoxes.rbegin(); it != openBoxes.rend(); ++it)
        if (const int index = (*it)->request.buttons.indexOf (buttonText); index >= 0)
        {
            (*it)->finish (index);
            return true;
        }
    return false;
}

void DialogService::setResponder (Responder newResponder)
{
    responder = std::move (newResponder);
}

void DialogService::answerWithButton (const juce::String& buttonText)
{
    script.push_back ({ buttonText, {}, false });
}

void DialogService::answerWithFile (const juce::File& file)
{
    script.push_back ({ {}, file, true });
}

void DialogService::clearScript()
{
    script.clear();
}

DialogService::Answer DialogService::answerFromScript (const Request& request)
{
    const auto next = script.front();
    script.pop_front();

    Answer answer;
    if (next.isFile)
        answer.file = next.file;
    else
        // A button the box does not have counts as dismissing it, so a test
        // that expected another box sees it fail.
        answer.button = request.buttons.indexOf (next.button);
    return answer;
}

DialogService::Answer DialogService::run (const Request& request, const std::function<int()>& showCustom)
{
    Record record { request, {}, true };
    ++asking;
    const juce::ScopeGuard answered { [this] { --asking; } };

    if (! script.empty())
        record.answer = answerFromScript (request);
    else if (responder)
        record.answer = responder (request);
    else
    {
        record.answeredByScript = false;
        if (request.kind == Kind::custom)
            record.answer.button = showCustom ? showCustom() : -1;
        else
            record.answer = showForReal (request);
    }

    history.push_back (record);
    return record.answer;
}

namespace
{
// The desktop's own chooser, started through the program launcher so that
// it inherits no descriptor of ours (JUCE starts it with every one it
// finds open). Nothing when the desktop has none.
std::optional<juce::File> chooseWithDesktop (const DialogService::Request& request)
{
    using Kind = DialogService::Kind;
    const auto zenity = clarivo::process::findProgram ("zenity");
    const auto kdialog = clarivo::process::findProgram ("kdialog");
    if (zenity == juce::File() && kdialog == juce::File())
        return std::nullopt;
    const bool kde = kdialog != juce::File() && (zenity == juce::File() || juce::SystemStats::getEnvironmentVariable ("KDE_FULL_SESSION", {}) == "true");
    const auto filter = request.patterns.replaceCharacters (";,", "  ");
    juce::StringArray args;
    if (kde)
    {
        args.add (request.kind == Kind::openFile ? "--getopenfilename" : request.kind == Kind::saveFile ? "--getsavefilename" : "--getexistingdirectory");
        args.add ((request.initial != juce::File() ? request.initial : juce::File::getSpecialLocation (juce::File::userHomeDirectory)).getFullPathName());
        if (request.kind != Kind::folder)
            args.add (filter);
        args.addArray ({ "--title", request.title });
    }
    else
    {
        args.addArray ({ "--file-selection", "--title=" + request.title });
        if (request.kind == Kind::saveFile)
            args.add ("--save");
        if (request.kind == Kind::folder)
            args.add ("--directory");
        if (request.initial != juce::File())
            args.add ("--filename=" + request.initial.getFullPathName() + (request.initial.isDirectory() ? "/" : ""));
        if (request.kind != Kind::folder && filter.isNotEmpty())
            args.add ("--file-filter=" + filter);
    }
    juce::String output;
    // Cancelled (status 1) or gone: nothing chosen.
    if (! clarivo::process::runForOutput (kde ? kdialog : zenity, args, output))
        return juce::File();
    const auto path = output.upToFirstOccurrenceOf ("\n", false, false);
    return juce::File::isAbsolutePath (path) ? juce::File (path) : juce::File();
}
} // namespace

DialogService::Answer DialogService::showForReal (const Request& request)
{
    Answer answer;

    switch (request.kind)
    {
        case Kind::message:
        case Kind::question:
        {
            juce::AlertWindow window (request.title, request.text, request.icon);
            for (int i = 0; i < request.buttons.size(); ++i)
                window.addButton (request.buttons[i], i + 1,
                                  i == 0 ? juce::KeyPress (juce::KeyPress::returnKey) : juce::KeyPress());
            // Escape, or closing the box, answers 0: dismissed.
            answer.button = window.runModalLoop() - 1;
            break;
        }
        case Kind::custom:
        case Kind::progress:
            break;
        case Kind::openFile:
        case Kind::saveFile:
        case Kind::folder:
        {
            if (const auto chosen = chooseWithDesktop (request))
            {
                answer.file = *chosen;
                break;
            }
            // JUCE's own chooser, which starts no program.
            juce::FileChooser chooser (request.title, request.initial, request.patterns, false);
            const bool chosen = request.kind == Kind::openFile  ? chooser.browseForFileToOpen()
                              : request.kind == Kind::saveFile ? chooser.browseForFileToSave (false)
                                                               : chooser.browseForDirectory();
            if (chosen)
                answer.file = chooser.getResult();
            break;
        }
    }

    return answer;
}
