#include "TransportComponent.h"

#include "MediaContainerComponent.h"
#include "ProcessingAVPlayer.h"

TransportComponent::TransportComponent (MediaContainerComponent& v) : view (v) {}

bool TransportComponent::togglePlayPause() { return view.getPlayer().togglePlayPause(); }
void TransportComponent::rewindToStart() { view.getPlayer().rewindToStart(); }
void TransportComponent::stepForward() { view.getPlayer().stepForward(); }
void TransportComponent::stepBackward() { view.getPlayer().stepBackward(); }
bool TransportComponent::isPlaying() const { return view.getPlayer().isPlaying(); }
double TransportComponent::getPlayPosition() const { return view.getPlayer().getPositionSeconds(); }

bool TransportComponent::loadMedia (const juce::String& path, bool showErrors)
{
    return view.loadMedia (path, showErrors);
}

bool TransportComponent::exportMedia (const juce::String& path, int format, int quality)
{
    return view.exportMedia (path, format, quality);
}
