#include "MediaPlayerView.h"

namespace clarivo::media
{
PlayerView::PlayerView()
{
    setOpaque (true);
    startTimerHz (60);
}

PlayerView::~PlayerView()
{
    stopTimer();
}

void PlayerView::setPlayer (std::weak_ptr<Player> p)
{
    player = std::move (p);
    frame = {};
    serial = 0;
    repaint();
}

void PlayerView::timerCallback()
{
    auto p = player.lock();
    if (p == nullptr)
    {
        if (frame.isValid())
        {
            frame = {};
            repaint();
        }
        return;
    }

    sampleAspect = 1.0f;
    preferred = {};
    if (auto item = p->getCurrentItem())
    {
        auto videoTracks = item->getAsset()->getTracksWithMediaType (MediaType::video);
        if (! videoTracks.empty())
        {
            sampleAspect = videoTracks.front()->getSampleAspectRatio();
            preferred = videoTracks.front()->getPreferredTransform();
        }
    }

    auto image = p->getCurrentVideoFrame();
    const auto s = p->getVideoFrameSerial();
    if (s != serial || image.isValid() != frame.isValid())
    {
        serial = s;
        frame = image;
        repaint();
    }
}

juce::AffineTransform PlayerView::pictureTransform() const
{
    if (! frame.isValid() || getWidth() <= 0 || getHeight() <= 0)
        return {};
    // Encoded pixels -> square pixels -> the track's orientation -> fitted.
    const auto shaped = juce::AffineTransform::scale (sampleAspect, 1.0f).followedBy (preferred);
    const auto box = frame.getBounds().toFloat().transformedBy (shaped);
    if (box.isEmpty())
        return {};
    const auto fit = juce::RectanglePlacement (juce::RectanglePlacement::centred)
                         .getTransformToFit (box, getLocalBounds().toFloat());
    return shaped.followedBy (fit);
}

juce::Rectangle<float> PlayerView::getVideoRect() const
{
    if (! frame.isValid())
        return {};
    return frame.getBounds().toFloat().transformedBy (pictureTransform());
}

void PlayerView::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
    if (frame.isValid())
    {
        g.setImageResamplingQuality (juce::Graphics::mediumResamplingQuality);
        g.drawImageTransformed (frame, pictureTransform());
    }
}
} // namespace clarivo::media
