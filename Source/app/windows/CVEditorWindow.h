#pragma once

// The window around the processor's editor, placed at the top of the screen.
#include "app/windows/CVDocumentWindow.h"

class CVAudioProcessor;
class CVUIEditor;

class CVEditorWindow : public CVDocumentWindow
{
public:
    explicit CVEditorWindow (CVAudioProcessor& processor);
    ~CVEditorWindow() override;

    // The editor the window holds, or null when the processor made none.
    CVUIEditor* getEditor() const noexcept;

protected:
    // Here closing the window is how the user quits: the same path as the
    // quit request, with its offer to save the media and its clean-up.
    void closeRequested() override;
};
