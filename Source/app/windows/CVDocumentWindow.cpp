#include "app/windows/CVDocumentWindow.h"

#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoDocument.h"

namespace
{
struct CommandRow
{
    juce::CommandID id;
    const char* text;
    const char* description;
    const char* category;
    int key; // 0: no shortcut
    int modifiers;
};

constexpr int cmd = juce::ModifierKeys::commandModifier;
constexpr int shift = juce::ModifierKeys::shiftModifier;

// In getAllCommands' order.
const CommandRow commandTable[] = {
    { CVDocumentWindow::openMedia, "Open Media...", "Open a video or audio file", "File", 'o', cmd },
    { CVDocumentWindow::closeMedia, "Close", "Close the media file", "File", 'w', cmd },
    { CVDocumentWindow::saveMedia, "Save...", "Save the media file", "File", 's', cmd },
    { CVDocumentWindow::saveMediaAs, "Save As...", "Save the media file as", "File", 's', cmd | shift },
    { CVDocumentWindow::batchProcessor, "Batch Processor...", "Batch Process Files", "File", 'b', cmd | shift },
    { CVDocumentWindow::resetSettings, "Reset...", "Reset all Settings", "File", 0, 0 },
    { CVDocumentWindow::loadPreset, "Load Preset...", "Load Clarivo Settings", "File", 0, 0 },
    { CVDocumentWindow::savePreset, "Save Preset...", "Save Clarivo Settings", "File", 0, 0 },
    { CVDocumentWindow::playPause, "Play/Pause", "Play or pause the media", "Media", juce::KeyPress::spaceKey, 0 },
    { CVDocumentWindow::rewindToStart, "Rewind to Start", "Rewind to the start of the media", "Media", juce::KeyPress::returnKey, 0 },
    { CVDocumentWindow::forward, "Forward", "Move media play time forward", "Media", juce::KeyPress::rightKey, 0 },
    { CVDocumentWindow::backward, "Backward", "Move media play time backward", "Media", juce::KeyPress::leftKey, 0 },
    { CVDocumentWindow::loop, "Loop", "Loop the media", "Media", 'l', cmd },
    { CVDocumentWindow::mediaPlayer, "Media Player", "Show Media Player", "Media", 'p', cmd },
    { CVDocumentWindow::mediaRecorder, "Media Recorder", "Show Media Recorder", "Media", 'r', cmd },
    // On the "Help" menu, filed under "File" all the same.
    { CVDocumentWindow::userGuide, "User Guide/Support/Feedback...", "Clarivo Manual and Support Resources", "File", 'g', cmd },
};

const CommandRow* findRow (juce::CommandID id)
{
    for (const auto& row : commandTable)
        if (row.id == id)
            return &row;
    return nullptr;
}

bool mediaIsOpen (ClarivoApplication& app)
{
    return app.getDocument().getMediaFile().getFullPathName().isNotEmpty();
}
} // namespace

CVDocumentWindow::CVDocumentWindow()
    : juce::DocumentWindow ("Clarivo+", juce::Colour (0xffd3d3d3), juce::DocumentWindow::allButtons, true)
{
    // No desktop-wide menu bar here, so each window carries its own.
    setMenuBar (this);
    if (auto* app = ClarivoApplication::getApp())
        setApplicationCommandManagerToWatch (&app->getCommandManager());
}

CVDocumentWindow::~CVDocumentWindow()
{
    // The bar listens to this model, which is gone before the window base is.
    setMenuBar (nullptr);
}

juce::StringArray CVDocumentWindow::getMenuBarNames()
{
    return { "File", "Media", "Help" };
}

juce::PopupMenu CVDocumentWindow::getMenuForIndex (int index, const juce::String&)
{
    juce::PopupMenu menu;
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return menu;

    auto& commands = app->getCommandManager();
    const auto add = [&] (std::initializer_list<juce::CommandID> ids) {
        for (auto id : ids)
            menu.addCommandItem (&commands, id);
    };

    switch (index)
    {
        case 0:
            add ({ openMedia, closeMedia, saveMedia, saveMediaAs, batchProcessor });
            menu.addSeparator();
            add ({ resetSettings, loadPreset, savePreset });
            menu.addSeparator();
            add ({ juce::StandardApplicationCommandIDs::quit });
            break;
        case 1:
            add ({ playPause, rewindToStart, backward, forward, loop });
            menu.addSeparator();
            add ({ mediaPlayer, mediaRecorder });
            break;
        case 2:
            add ({ userGuide });
            menu.addSeparator();
            menu.addItem (checkForUpdates, "Check for Updates...", app->isIdle());
            menu.addItem (about, "About Clarivo+", app->isIdle());
            break;
        default:
            break;
    }
    return menu;
}

void CVDocumentWindow::menuItemSelected (int menuItemID, int)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return;
    if (menuItemID == about)
        app->showEditorPanel (1);
    else if (menuItemID == checkForUpdates)
        app->checkForUpdates();
}

void CVDocumentWindow::getAllCommands (juce::Array<juce::CommandID>& commands)
{
    for (const auto& row : commandTable)
        commands.add (row.id);
    commands.add (juce::StandardApplicationCommandIDs::quit);
}

juce::ApplicationCommandTarget* CVDocumentWindow::getNextCommandTarget()
{
    return findFirstTargetParentComponent();
}

void CVDocumentWindow::getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result)
{
    auto* app = ClarivoApplication::getApp();
    if (commandID == juce::StandardApplicationCommandIDs::quit)
    {
        // The framework's own text and Ctrl+Q, so that both registrations agree.
        if (app != nullptr)
        {
            app->JUCEApplication::getCommandInfo (commandID, result);
            result.setActive (app->isIdle());
        }
        return;
    }

    const auto* row = findRow (commandID);
    if (row == nullptr)
        return;

    result.setInfo (row->text, row->description, row->category, 0);
    if (row->key != 0)
        result.addDefaultKeypress (row->key, row->modifiers);

    const bool idle = app != nullptr && app->isIdle();
    const bool needsMedia = commandID == closeMedia || commandID == saveMedia || commandID == saveMediaAs;
    result.setActive (idle && (! needsMedia || mediaIsOpen (*app)));

    if (app != nullptr)
    {
        if (commandID == loop)
            result.setTicked (app->isLooping());
        else if (commandID == mediaPlayer)
            result.setTicked (app->isPlayerMode());
        else if (commandID == mediaRecorder)
            result.setTicked (! app->isPlayerMode());
    }
}

bool CVDocumentWindow::perform (const InvocationInfo& info)
{
    const auto id = info.commandID;
    if (findRow (id) == nullptr && id != juce::StandardApplicationCommandIDs::quit)
        return false;

    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return true;

    switch (id)
    {
        case openMedia:
            if (app->closeMedia().wasOk())
                app->openMedia();
            break;
        case closeMedia: app->closeMedia(); break;
        case saveMedia: app->saveMedia (false); break;
        case saveMediaAs: app->saveMedia (true); break;
        case batchProcessor: app->runBatchProcessor(); break;
        case resetSettings: app->resetSettings(); break;
        case loadPreset: app->loadPreset(); break;
        case savePreset: app->savePreset(); break;
        case playPause: app->playPause(); break;
        case rewindToStart: app->rewindToStart(); break;
        case forward: app->forward(); break;
        case backward: app->backward(); break;
        case loop: app->setLooping (! app->isLooping()); break;
        case mediaPlayer: app->setPlayerMode (true); break;
        case mediaRecorder:
            // Already the recorder: closing "the media" again would take the
            // window through the player and end a recording under way.
            if (app->isPlayerMode() && app->closeMedia().wasOk())
                app->setPlayerMode (false);
            break;
        case userGuide: app->showUserGuide (false); break;
        case juce::StandardApplicationCommandIDs::quit: app->systemRequestedQuit(); break;
        default: break;
    }
    return true;
}

void CVDocumentWindow::closeButtonPressed()
{
    // A close under a running job would pull the document from under it.
    if (auto* app = ClarivoApplication::getApp(); app != nullptr && app->isIdle())
        closeRequested();
}
