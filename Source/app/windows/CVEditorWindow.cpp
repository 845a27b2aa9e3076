#include "app/windows/CVEditorWindow.h"

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"
#include "app/windows/ClarivoApplication.h"

CVEditorWindow::CVEditorWindow (CVAudioProcessor& processor)
{
    setUsingNativeTitleBar (true);
    if (auto* editor = processor.createEditor())
    {
        setContentOwned (editor, true);
        if (auto* cvEditor = dynamic_cast<CVUIEditor*> (editor))
            cvEditor->showPanel (3);
    }

    // Top of the screen, leaving room for the media window below it.
    centreWithSize (getWidth(), getHeight());
    int y = 64;
    if (const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        if (display->userArea.getHeight() < getHeight() + 490)
            y = display->userArea.getY();
    setTopLeftPosition (getX(), y);

    setVisible (true);
    if (auto* app = ClarivoApplication::getApp())
        addKeyListener (app->getCommandManager().getKeyMappings());
}

CVEditorWindow::~CVEditorWindow()
{
    if (auto* app = ClarivoApplication::getApp())
        removeKeyListener (app->getCommandManager().getKeyMappings());
}

CVUIEditor* CVEditorWindow::getEditor() const noexcept
{
    return dynamic_cast<CVUIEditor*> (getContentComponent());
}

void CVEditorWindow::closeRequested()
{
    if (auto* app = ClarivoApplication::getApp())
        app->systemRequestedQuit();
}
