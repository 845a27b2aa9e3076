#include "app/help/UserGuideWindow.h"

#include "app/windows/ClarivoApplication.h"
#include "app/help/UserGuideComponent.h"

UserGuideWindow::UserGuideWindow()
{
    setVisible (true);
    auto* guide = new UserGuideComponent();
    guide->setBounds (0, 0, 900, 600);
    setContentOwned (guide, true);
    setBounds (0, 0, 900, 740);
    centreWithSize (900, 740);
    setVisible (true);
    setUsingNativeTitleBar (true);
    if (auto* app = ClarivoApplication::getApp())
        addKeyListener (app->getCommandManager().getKeyMappings());
    setName ("Clarivo User Guide");
}

UserGuideWindow::~UserGuideWindow()
{
    if (auto* app = ClarivoApplication::getApp())
        removeKeyListener (app->getCommandManager().getKeyMappings());
}

UserGuideComponent* UserGuideWindow::getGuide() const noexcept
{
    return dynamic_cast<UserGuideComponent*> (getContentComponent());
}

void UserGuideWindow::showQuickStart()
{
    if (auto* guide = getGuide())
        guide->showQuickStart();
}

void UserGuideWindow::closeRequested() { setVisible (false); }
