#pragma once

// The media window: the media view above the transport bar, under the menus
// and commands every window has. Its recorder mode and controls come later.
#include "CVDocumentWindow.h"
#include "MediaContainerComponent.h"
#include "TransportComponent.h"

class MediaWindow : public CVDocumentWindow
{
public:
    MediaWindow();
    ~MediaWindow() override;

    MediaContainerComponent& getMediaContainer() noexcept { return content.view; }
    TransportComponent& getTransport() noexcept { return content.transport; }

    void setPlayerMode (bool player, bool fileExists, const juce::String& fileName);

protected:
    // Closes the media, not the window.
    void closeRequested() override;

private:
    struct Content : juce::Component
    {
        Content();
        void resized() override;
        MediaContainerComponent view;
        TransportComponent transport { view };
    } content;
};
