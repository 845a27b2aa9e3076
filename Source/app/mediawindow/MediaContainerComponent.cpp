#include "app/mediawindow/MediaContainerComponent.h"

#include "app/windows/ClarivoApplication.h"
#include "app/document/ProcessingAVPlayer.h"

#include <cmath>
#include <limits>
#include <vector>

using namespace clarivo::media;

namespace
{
// The thumbnail reads the analysis copy with the application's readers.
juce::AudioFormatManager& thumbnailFormats()
{
    if (auto* app = ClarivoApplication::getApp())
        return app->getFormatManager();
    static juce::AudioFormatManager basic;
    if (basic.getNumKnownFormats() == 0)
        basic.registerBasicFormats();
    return basic;
}

const juce::Colour waveformColour (0xff206ee2);
const juce::Colour playHeadColour (0x7040ff40);
const juce::Colour markerColour (0xffff4500);

bool isPositiveFinite (double v) noexcept { return std::isfinite (v) && v > 0.0; }
} // namespace

//==============================================================================
void CustomBoundsConstrainer::checkBounds (juce::Rectangle<int>& bounds, const juce::Rectangle<int>&,
                                           const juce::Rectangle<int>&, bool, bool isStretchingLeft, bool,
                                           bool isStretchingRight)
{
    if (bounds.getWidth() < minimumWidth)
        bounds.setWidth (minimumWidth);

    // A picture without height gives no usable shape: keep only the width rule.
    const double aspect = getFixedAspectRatio();
    if (! isPositiveFinite (aspect))
        return;

    if (! isStretchingLeft && ! isStretchingRight)
    {
        // Start from the smallest height that can give the minimum width, so
        // a very narrow picture does not count up one pixel at a time.
        const double neededHeight = minimumWidth / aspect + belowPicture;
        if (! std::isfinite (neededHeight) || neededHeight > std::numeric_limits<int>::max() / 2)
            return;
        int height = bounds.getHeight();
        auto widthFor = [aspect] (int h) { return (int) (aspect * (h - belowPicture)); };
        if (widthFor (height) < minimumWidth)
            height = juce::jmax (height, (int) neededHeight - 1);
        while (widthFor (height) < minimumWidth)
            ++height;
        bounds.setSize (widthFor (height), height);
    }
    else
    {
        const double height = bounds.getWidth() / aspect + belowPicture;
        if (height < std::numeric_limits<int>::max() / 2)
            bounds.setHeight ((int) height);
    }
}

//==============================================================================
MediaContainerComponent::MediaContainerComponent()
    : thumbnail (512, thumbnailFormats(), thumbnailCache)
{
    addChildComponent (playerView);
    // Clicks go to the view, which seeks or places the marker.
    playerView.setInterceptsMouseClicks (false, false);
    if (ProcessingAVPlayer::getCurrent() == nullptr)
    {
        player = std::make_unique<ProcessingAVPlayer>();
        ProcessingAVPlayer::setCurrent (player.get());
        player->setMCC (this);
    }
    thumbnail.addChangeListener (this);
    setSize (100, 100);
}

MediaContainerComponent::~MediaContainerComponent()
{
    thumbnail.removeChangeListener (this);
    if (player != nullptr)
    {
        player->removeMovie();
        if (ProcessingAVPlayer::getCurrent() == player.get())
            ProcessingAVPlayer::setCurrent (nullptr);
        player.reset();
    }
    thumbnail.setSource (nullptr);
}

bool MediaContainerComponent::hasMedia() const { return player != nullptr && player->getPlayer() != nullptr; }

bool MediaContainerComponent::isPlaying() const { return player != nullptr && player->isPlaying(); }
bool MediaContainerComponent::togglePlayPause() { return player != nullptr && player->togglePlayPause(); }
void MediaContainerComponent::rewindToStart()
{
    if (player != nullptr)
        player->rewindToStart();
}
void MediaContainerComponent::stepForward() { step (1, 3.0); }
void MediaContainerComponent::stepBackward() { step (-1, -3.0); }

void MediaContainerComponent::step (int frames, double seconds)
{
    auto p = hasMedia() ? player->getPlayer() : nullptr;
    if (p == nullptr || p->getCurrentItem() == nullptr)
        return;
    if (p->getRate() == 0.0f)
    {
        p->getCurrentItem()->stepByCount (frames);
        return;
    }
    // Near either end a whole step would leave the media: land on the end.
    const double end = getPlayableDuration();
    const double target = juce::jlimit (0.0, juce::jmax (0.0, end), p->getCurrentTime().seconds() + seconds);
    p->pause();
    p->seekToTime (makeTimeWithSeconds (target, 600), Time::zero(), Time::zero());
    p->play();
}

void MediaContainerComponent::setPositionFraction (double fraction)
{
    if (player != nullptr && std::isfinite (fraction))
        player->setPosition (juce::jlimit (0.0, 1.0, fraction));
}

double MediaContainerComponent::getCurrentTime() const { return player != nullptr ? player->getPositionSeconds() : 0.0; }
double MediaContainerComponent::getPositionFraction() const { return player != nullptr ? player->getPositionFraction() : 0.0; }
double MediaContainerComponent::getPlayableDuration() const { return player != nullptr ? player->playableDuration() : 0.0; }
float MediaContainerComponent::getRate() const { return player != nullptr ? player->getRate() : 0.0f; }

void MediaContainerComponent::startScrubbing()
{
    if (auto p = hasMedia() ? player->getPlayer() : nullptr)
    {
        savedRate = p->getRate();
        p->setRate (0.0f);
    }
}

void MediaContainerComponent::stopScrubbing()
{
    if (auto p = hasMedia() ? player->getPlayer() : nullptr)
        p->setRate (savedRate);
}

void MediaContainerComponent::removeMedia()
{
    if (player == nullptr)
        return;
    player->removeMovie();
    player->forgetImportedFile();
    thumbnail.setSource (nullptr);
    mediaURL = {};
    updatePictureVisibility();
    repaint();
}

bool MediaContainerComponent::loadMedia (const juce::String& path, std::shared_ptr<Asset> asset, bool showErrors)
{
    if (player == nullptr)
        return false;
    if (asset == nullptr)
        mediaURL = juce::URL (juce::File (path));
    if (! player->loadMovie (juce::File (path), std::move (asset), showErrors))
        return false;
    updatePictureVisibility();
    sendActionMessage ("video");
    return true;
}

bool MediaContainerComponent::exportMedia (const juce::String& path, int format, int quality)
{
    return player != nullptr && player->exportAsset (juce::File (path), false, false, format, quality);
}

void MediaContainerComponent::setVideoVisible (bool visible)
{
    showVideo = visible;
    updatePictureVisibility();
    repaint();
}

void MediaContainerComponent::updatePictureVisibility()
{
    // Without media the view is see-through, so the splash behind it shows.
    const bool show = showVideo && hasMedia();
    if (show)
        playerView.setPlayer (player->getPlayer());
    playerView.setVisible (show);
}

juce::File MediaContainerComponent::getMediaFile() const
{
    if (auto asset = player != nullptr ? player->getOriginalAsset() : nullptr)
        return asset->getURL();
    return {};
}

double MediaContainerComponent::getMediaSampleRate() const
{
    if (! hasMedia())
        return 0.0;
    auto item = player->getPlayer()->getCurrentItem();
    auto asset = item != nullptr ? item->getAsset() : nullptr;
    return asset != nullptr ? ProcessingAVPlayer::assetSampleRate (*asset) : 0.0;
}

int MediaContainerComponent::getMarkerX() const
{
    auto* app = ClarivoApplication::getApp();
    const double span = getPlayableDuration() * getMediaSampleRate();
    if (app == nullptr || ! isPositiveFinite (span))
        return -1;
    const auto& region = app->getProcessor().learnRegion;
    return (int) (getWidth() * ((double) region.start / span));
}

//==============================================================================
void MediaContainerComponent::pressOrDrag (const juce::MouseEvent& e, bool press)
{
    auto* app = ClarivoApplication::getApp();
    if (showVideo || app == nullptr || getWidth() <= 0)
    {
        if (press)
            seekClick = true;
        return;
    }
    // Past either edge the mouse still means the first or the last moment.
    const double fraction = juce::jlimit (0.0, 1.0, (double) e.position.x / getWidth());
    if (press)
    {
        const int markerX = getMarkerX();
        seekClick = markerX < 0 || std::abs (e.x - markerX) > markerGrabPixels;
    }

    if (seekClick)
        setPositionFraction (fraction);
    else
    {
        const double rate = getMediaSampleRate();
        const auto total = (juce::int64) (getPlayableDuration() * rate);
        auto& region = app->getProcessor().learnRegion;
        region.words[0] = region.words[1] = 0;
        region.start = juce::jlimit ((juce::int64) 0, juce::jmax ((juce::int64) 0, total - learnLength),
                                     (juce::int64) (fraction * getPlayableDuration() * rate));
        region.length = learnLength;
    }
    repaint();
}

void MediaContainerComponent::mouseDown (const juce::MouseEvent& e) { pressOrDrag (e, true); }
void MediaContainerComponent::mouseDrag (const juce::MouseEvent& e) { pressOrDrag (e, false); }

void MediaContainerComponent::mouseUp (const juce::MouseEvent&)
{
    if (! hasMedia())
        return;
    juce::Component::SafePointer<MediaContainerComponent> self (this);
    // The learning runs the chain itself: playback stands still meanwhile.
    const bool wasPlaying = isPlaying();
    if (wasPlaying)
    {
        const auto pressedOn = player->getPlayer();
        const auto pressedItem = pressedOn->getCurrentItem();
        pressedOn->pause();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (releasePauseMs);
        // Media opened meanwhile: the region pressed on belongs to the old
        // file, so nothing is learned and the new file is left as it opened.
        if (self == nullptr || ! hasMedia() || player->getPlayer() != pressedOn
            || pressedOn->getCurrentItem() != pressedItem)
            return;
    }
    if (! seekClick)
        if (auto* app = ClarivoApplication::getApp())
            app->learnNoiseFromMedia();
    if (wasPlaying && self != nullptr && hasMedia())
        player->getPlayer()->play();
}

//==============================================================================
void MediaContainerComponent::paint (juce::Graphics& g)
{
    if (hasMedia())
        g.fillAll (juce::Colours::black);
}

void MediaContainerComponent::drawCaption (juce::Graphics& g, const juce::String& text) const
{
    g.setColour (juce::Colours::white.withAlpha (0.3f));
    g.setFont (juce::Font ("DejaVu Sans", 20.0f, juce::Font::plain));
    g.drawText (text, 0, getHeight() / 2 - 14, getWidth(), 36, juce::Justification::centred, true);
}

void MediaContainerComponent::paintOverChildren (juce::Graphics& g)
{
    const int w = getWidth(), h = getHeight();
    if (dragOver)
    {
        g.setColour (juce::Colours::blue.withAlpha (0.7f));
        g.drawRect (getLocalBounds(), 5);
    }
    if (! hasMedia())
    {
        drawCaption (g, "Drop Media Files Here");
        return;
    }
    if (showVideo)
    {
        if (audioOnly)
            drawCaption (g, "Audio-only");
        return;
    }
    if (thumbnail.getNumChannels() == 0 || ! thumbnail.isFullyLoaded())
    {
        drawCaption (g, "Audio");
        return;
    }

    auto* app = ClarivoApplication::getApp();
    const bool busy = app != nullptr && ! app->isIdle();
    double duration = getPlayableDuration();
    if (! isPositiveFinite (duration))
        duration = thumbnail.getTotalLength();
    // Nothing to lay out along an empty time line.
    if (! isPositiveFinite (duration))
        return;
    const double t = getCurrentTime();

    g.setColour (busy ? waveformColour.withAlpha ((juce::uint8) 0x80) : waveformColour);
    drawWaveform (g, duration, w);

    if (std::isfinite (t))
    {
        const int x = (int) (w * juce::jlimit (0.0, 1.0, t / duration));
        g.setColour (playHeadColour);
        g.fillRect (x, 0, 2, h);
    }

    const double rate = getMediaSampleRate();
    if (app != nullptr && isPositiveFinite (rate))
    {
        const auto& region = app->getProcessor().learnRegion;
        if (region.start != 0 && region.length != 0)
        {
            g.setColour (markerColour);
            g.fillRect ((int) (((double) region.start / rate) / duration * w), 0, 1, h);
        }
    }

    if (busy && app != nullptr)
    {
        const double p = juce::jlimit (0.0, 1.0, app->getProcessor().getProgress());
        g.setColour (waveformColour);
        // The done part spans duration x p over as many pixels: the same columns.
        drawWaveform (g, duration, (int) (w * p));
    }
}

void MediaContainerComponent::drawWaveform (juce::Graphics& g, double duration, int count)
{
    const int w = getWidth(), numChannels = thumbnail.getNumChannels();
    if (columns.width != w || columns.channels != numChannels || columns.duration != duration
        || columns.samplesFinished != thumbnail.getNumSamplesFinished())
    {
        columns.width = w;
        columns.channels = numChannels;
        columns.duration = duration;
        columns.samplesFinished = thumbnail.getNumSamplesFinished();
        columns.minimum.assign ((size_t) (w * numChannels), 0.0f);
        columns.maximum.assign ((size_t) (w * numChannels), 0.0f);
        const double perColumn = duration / juce::jmax (1, w);
        columns.withSound = juce::jlimit (0, w, (int) std::ceil (thumbnail.getTotalLength() / perColumn));
        for (int c = 0; c < numChannels; ++c)
            for (int x = 0; x < w; ++x)
            {
                const auto i = (size_t) (c * w + x);
                thumbnail.getApproximateMinMax (x * perColumn, (x + 1) * perColumn, c, columns.minimum[i], columns.maximum[i]);
            }
    }

    count = juce::jlimit (0, columns.withSound, count);
    const float band = (float) getHeight() / (float) juce::jmax (1, numChannels);
    for (int c = 0; c < numChannels; ++c)
    {
        const float mid = band * ((float) c + 0.5f), half = band * 0.5f;
        for (int x = 0; x < count; ++x)
        {
            const auto i = (size_t) (c * w + x);
            const float top = mid - juce::jlimit (-1.0f, 1.0f, columns.maximum[i]) * half;
            const float bottom = mid - juce::jlimit (-1.0f, 1.0f, columns.minimum[i]) * half;
            // Silence still shows as a line, as the overview always has.
            g.fillRect (x, (int) top, 1, juce::jmax (1, (int) (bottom - top + 0.5f)));
        }
    }
}

void MediaContainerComponent::resized()
{
    playerView.setBounds (getLocalBounds());
}

void MediaContainerComponent::changeListenerCallback (juce::ChangeBroadcaster*)
{
    if (thumbnail.isFullyLoaded())
        repaint();
}

//==============================================================================
void MediaContainerComponent::fileDragEnter (const juce::StringArray&, int, int)
{
    dragOver = true;
    repaint();
}

void MediaContainerComponent::fileDragExit (const juce::StringArray&)
{
    dragOver = false;
    repaint();
}

void MediaContainerComponent::filesDropped (const juce::StringArray& files, int, int)
{
    dragOver = false;
    repaint();
    // The system delivers a drop later, possibly into the message loop of a
    // load or a job, whose media it must not close.
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr || files.isEmpty() || ! app->isIdle())
        return;
    if (app->closeMedia().wasOk())
        app->openMediaFile (juce::File (files[0]), true);
}
