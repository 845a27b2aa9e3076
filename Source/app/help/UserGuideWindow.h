#pragma once

// The user guide's window, made on first use and only hidden when closed,
// so that it keeps its page and history.
#include "app/windows/CVDocumentWindow.h"

class UserGuideComponent;

class UserGuideWindow : public CVDocumentWindow
{
public:
    UserGuideWindow();
    ~UserGuideWindow() override;

    void showQuickStart();
    UserGuideComponent* getGuide() const noexcept;

protected:
    void closeRequested() override;
};
