#pragma once

// The media window: the media view above the transport bar. Its recorder
// mode and controls come later.
#include <juce_gui_basics/juce_gui_basics.h>

#include "MediaContainerComponent.h"
#include "TransportComponent.h"

class MediaWindow : public juce::DocumentWindow
{
public:
    MediaWindow();
    ~MediaWindow() override;

    MediaContainerComponent& getMediaContainer() noexcept { return content.view; }
    TransportComponent& getTransport() noexcept { return content.transport; }

    void setPlayerMode (bool player, bool fileExists, const juce::String& fileName);
    void closeButtonPressed() override;

private:
    struct Content : juce::Component
    {
        Content();
        void resized() override;
        MediaContainerComponent view;
        TransportComponent transport { view };
    } content;
};
