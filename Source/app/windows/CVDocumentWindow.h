#pragma once

// The base of every top-level window: its own "File", "Media", "Help" menu
// bar and the table of commands that the menus and shortcuts trigger, each
// carried out by an operation of the application.
#include <juce_gui_basics/juce_gui_basics.h>

class CVDocumentWindow : public juce::DocumentWindow,
                         public juce::MenuBarModel,
                         public juce::ApplicationCommandTarget
{
public:
    enum CommandIDs : juce::CommandID
    {
        openMedia = 8192,
        closeMedia = 8193,
        saveMedia = 8194,
        saveMediaAs = 8195,
        batchProcessor = 8196,
        resetSettings = 8197,
        loadPreset = 8198,
        savePreset = 8199,
        playPause = 8202,
        rewindToStart = 8203,
        forward = 8204,
        backward = 8205,
        loop = 8206,
        mediaPlayer = 8207,
        mediaRecorder = 8208,
        userGuide = 8209,
        // Plain items of the "Help" menu, outside the command table.
        about = 8448,
        checkForUpdates = 8449
    };

    CVDocumentWindow();
    ~CVDocumentWindow() override;

    // juce::MenuBarModel
    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int index, const juce::String& name) override;
    void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

    // juce::ApplicationCommandTarget: the table's commands, then the
    // framework's quit, which is ours so that it waits for the same idle
    // state as the others.
    void getAllCommands (juce::Array<juce::CommandID>& commands) override;
    juce::ApplicationCommandTarget* getNextCommandTarget() override;
    void getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result) override;
    bool perform (const InvocationInfo& info) override;

    // Final so that no window closes anything while a job shows its overlay:
    // what a window does on close goes in closeRequested.
    void closeButtonPressed() final;

protected:
    // The close button, pressed while the application is idle.
    virtual void closeRequested() = 0;
};
