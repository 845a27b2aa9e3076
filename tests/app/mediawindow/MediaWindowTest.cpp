#include "app/support/AppTestSupport.h"

#include "engine/CVAudioProcessor.h"
#include "app/artwork/ClarivoArtwork.h"
#include "app/support/TestHelpers.h"

using namespace mediatest;

namespace
{
using apptest::mouseAt;

void click (juce::Component& c, float x, float y)
{
    c.mouseDown (mouseAt (c, x, y));
    c.mouseUp (mouseAt (c, x, y));
}

void click (juce::Component& c) { click (c, c.getWidth() / 2.0f, c.getHeight() / 2.0f); }

juce::Image picture (const clarivo::artwork::Picture& p) { return juce::ImageCache::getFromMemory (p.data, p.size); }

// A colour laid over opaque black, as the snapshot shows it.
juce::Colour overBlack (juce::uint32 argb) { return juce::Colours::black.overlaidWith (juce::Colour (argb)); }

using apptest::inkBounds;
using apptest::near;

// The brightest grey level in an area, laid over black (white text at 0.3 gives 77).
int brightest (const juce::Image& image, juce::Rectangle<int> area)
{
    int best = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            best = juce::jmax (best, (int) juce::Colours::black.overlaidWith (image.getPixelAt (x, y)).getRed());
    return best;
}

bool columnHolds (const juce::Image& image, int x, juce::Colour colour)
{
    for (int y = 0; y < image.getHeight(); ++y)
        if (near (image.getPixelAt (x, y), colour, 1))
            return true;
    return false;
}

// Counts the parameter writes that tell the host, which a click makes and a
// follow-up of the processor's state must not.
struct HostWrites : juce::AudioProcessorListener
{
    int count = 0;
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++count; }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
};
} // namespace

class MediaWindowTest : public AppTest
{
protected:
    MediaWindow& window() { return *app->getMediaWindow(); }
    TransportComponent& transport() { return window().getTransport(); }
    MediaContainerComponent& view() { return window().getMediaContainer(); }

    void openAndSettle (const char* name)
    {
        ASSERT_TRUE (open (media (name)).wasOk());
        view().releasePauseMs = 20;
        ASSERT_TRUE (pumpUntil ([&] { return view().getThumbnail().isFullyLoaded() && view().getThumbnail().getTotalLength() > 1.0; }, 5000));
    }
    // The learning and the analysis leave the settings changed: no question.
    void closeDiscarding()
    {
        document().setChangedFlag (false);
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
    juce::Image viewPixels() { return view().createComponentSnapshot (view().getLocalBounds()); }
    juce::MemoryBlock state()
    {
        juce::MemoryBlock block;
        processor().getStateInformation (block);
        return block;
    }
};

TEST_F (MediaWindowTest, LayoutFocusAndTimeText)
{
    auto& t = transport();
    t.setSize (780, 490);
    EXPECT_EQ (apptest::boundsOf ({ &view(), &t.getAnimationView(), &t.getGradientView(), &t.getBypassButton(), &t.getPositionSlider(),
                                    &t.getTimeLabel(), &t.getVideoToggle(), &t.getRewindButton(), &t.getPlayPauseButton(),
                                    &t.getPlayPauseImage(), &t.getForwardButton() }),
               (std::vector<juce::Rectangle<int>> { { 0, 0, 780, 440 }, { 5, 5, 770, 430 }, { 0, 440, 780, 50 }, { 10, 452, 26, 26 },
                                                    { 46, 452, 440, 24 }, { 496, 452, 80, 24 }, { 580, 451, 26, 26 }, { 614, 450, 28, 28 },
                                                    { 649, 444, 42, 42 }, { 649, 444, 42, 42 }, { 698, 450, 28, 28 } }));
    for (juce::Component* c : std::initializer_list<juce::Component*> { &t.getBypassButton(), &t.getPositionSlider(), &t.getVideoToggle(),
                                                                       &t.getRewindButton(), &t.getPlayPauseButton(), &t.getForwardButton() })
        EXPECT_FALSE (c->getWantsKeyboardFocus() || c->getMouseClickGrabsKeyboardFocus());

    EXPECT_EQ (TransportComponent::formatTime (3725500), "01:02:05.500");
    EXPECT_EQ (TransportComponent::formatTime (250), "00:00:00.250");
    EXPECT_EQ (TransportComponent::formatTime (360000000), "100:00:00.000");
    // Without media the duration is 0: the slider stays at its start.
    t.actionListenerCallback ("time");
    EXPECT_EQ (t.getTimeLabel().getText(), "00:00:00.000");
    EXPECT_EQ (t.getPositionSlider().getValue(), 0.0);
    EXPECT_EQ (view().getMarkerX(), -1);

    openAndSettle ("quietgap.wav");
    view().setPositionFraction (0.5);
    t.actionListenerCallback ("time");
    EXPECT_NEAR (t.getPositionSlider().getValue(), 50000000.0, 20000.0);
    EXPECT_EQ (t.getTimeLabel().getText(), TransportComponent::formatTime ((juce::int64) (view().getCurrentTime() * 1000.0)));
    t.setVisible (false);
    EXPECT_EQ (t.getTimeLabel().getText(), "00:00:00.00");
    EXPECT_EQ (t.getPositionSlider().getValue(), 0.0);
    t.setVisible (true);
    EXPECT_EQ (t.getTimeLabel().getText(), "00:00:00.00");
}

TEST_F (MediaWindowTest, PointerDrivesPlaybackSteppingAndBypass)
{
    openAndSettle ("movie.mp4");
    auto& t = transport();
    EXPECT_EQ (t.getPlayButtonState(), 0);
    EXPECT_TRUE (t.getPlayPauseImage().getImage() == picture (clarivo::artwork::transportPlay));

    // Paused: one frame of the 25 fps picture each way.
    const double start = view().getCurrentTime();
    click (t.getForwardButton());
    const double next = view().getCurrentTime();
    EXPECT_TRUE (next > start && next <= start + 0.04) << next;
    click (t.getRewindButton());
    EXPECT_NEAR (view().getCurrentTime(), next - 0.04, 1.0e-3);

    // A drag to the slider's middle while paused stays paused.
    auto& slider = t.getPositionSlider();
    slider.mouseDown (mouseAt (slider, 220.0f, 12.0f));
    slider.mouseUp (mouseAt (slider, 220.0f, 12.0f));
    EXPECT_NEAR (view().getCurrentTime(), view().getPlayableDuration() / 2.0, 1.0e-3);
    EXPECT_FALSE (view().isPlaying());

    click (t.getPlayPauseButton());
    ASSERT_TRUE (view().isPlaying());
    ASSERT_TRUE (pumpUntil ([&] { return t.getPlayButtonState() == 1; }, 2000));
    EXPECT_TRUE (t.getPlayPauseImage().getImage() == picture (clarivo::artwork::transportPause));
    // The label keeps up with the player within one period of its clock
    // (0.1 s). The player's clock is its output device: held nearly still,
    // the time the label should show stays put while the label catches up,
    // however late a loaded machine runs the message loop.
    pumpUntil ([] { return false; }, 60);
    auto* device = player().getPlayer()->getNullDevice();
    ASSERT_NE (device, nullptr);
    const double pace = device->getSpeed();
    device->setSpeed (1.0e-6);
    int still = 0;
    for (int i = 0; i < 200 && still < 3; ++i)
    {
        const auto before = device->getFramesRendered();
        pumpUntil ([] { return false; }, 20);
        still = device->getFramesRendered() == before ? still + 1 : 0;
    }
    ASSERT_EQ (still, 3) << "the output device kept its pace";
    const double held = view().getCurrentTime();
    ASSERT_TRUE (view().isPlaying());
    auto labelSeconds = [&]
    {
        const auto shown = juce::StringArray::fromTokens (t.getTimeLabel().getText(), ":", {});
        return shown.size() == 3 ? shown[0].getIntValue() * 3600.0 + shown[1].getIntValue() * 60.0 + shown[2].getDoubleValue()
                                 : -1.0;
    };
    EXPECT_TRUE (pumpUntil ([&] { return labelSeconds() > held - 0.1 - 1.0e-3 && labelSeconds() <= held; }, 2000))
        << t.getTimeLabel().getText() << " for a player at " << held << " s";
    device->setSpeed (pace);
    // ... and a drag while playing plays on at the rate it had.
    slider.mouseDown (mouseAt (slider, 110.0f, 12.0f));
    EXPECT_EQ (view().getRate(), 0.0f);
    slider.mouseUp (mouseAt (slider, 110.0f, 12.0f));
    EXPECT_EQ (view().getRate(), 1.0f);
    click (t.getPlayPauseButton());
    EXPECT_FALSE (view().isPlaying());

    // Bypass: on means processing runs; a preset moves the button without a click.
    HostWrites writes;
    processor().addListener (&writes);
    const int bypass = (int) CVAudioProcessor::Parameter::bypass;
    ASSERT_TRUE (t.getBypassButton().getToggleState());
    click (t.getBypassButton());
    EXPECT_EQ (processor().getParameter (bypass), 1.0f);
    click (t.getBypassButton());
    EXPECT_EQ (processor().getParameter (bypass), 0.0f);
    EXPECT_EQ (writes.count, 2);
    processor().setParameter (bypass, 1.0f);
    EXPECT_TRUE (pumpUntil ([&] { return ! t.getBypassButton().getToggleState(); }, 2000));
    EXPECT_EQ (writes.count, 2);
    processor().removeListener (&writes);
}

TEST_F (MediaWindowTest, SteppingWhilePlayingMovesThreeSecondsAndStopsAtTheEnds)
{
    openAndSettle ("quietgap.wav");
    app->setLooping (false);
    const double end = view().getPlayableDuration();
    ASSERT_GT (end, 8.0);
    auto playingFrom = [&] (double seconds)
    {
        view().setPositionFraction (seconds / end);
        if (! view().isPlaying())
            view().togglePlayPause();
        return view().getCurrentTime();
    };
    double from = playingFrom (4.0);
    transport().stepForward();
    EXPECT_NEAR (view().getCurrentTime(), from + 3.0, 0.02);
    from = playingFrom (5.0);
    transport().stepBackward();
    EXPECT_NEAR (view().getCurrentTime(), from - 3.0, 0.02);
    EXPECT_TRUE (view().isPlaying());
    playingFrom (1.0);
    transport().stepBackward();
    EXPECT_NEAR (view().getCurrentTime(), 0.0, 0.02);
    playingFrom (end - 1.0);
    transport().stepForward();
    EXPECT_NEAR (view().getCurrentTime(), end, 0.02);
}

TEST_F (MediaWindowTest, WaveformPressesSeekOrPlaceTheMarkerAndReleasesLearn)
{
    openAndSettle ("quietgap.wav");
    auto& v = view();
    ASSERT_FALSE (v.isVideoVisible());
    const double duration = v.getPlayableDuration();
    const double rate = 44100.0;
    ASSERT_EQ (v.getMediaSampleRate(), rate);
    auto& region = processor().learnRegion;
    // The analysis found the hiss between 5 and 7 s.
    ASSERT_GT (region.start, 0);
    const auto analysed = region.start;

    // Away from the marker: a seek, clamped at both edges, and no learning.
    const auto before = state();
    click (v, 195.0f, 100.0f);
    EXPECT_NEAR (v.getCurrentTime(), duration * 0.25, 1.0e-3);
    v.mouseDown (mouseAt (v, 100.0f, 100.0f));
    v.mouseDrag (mouseAt (v, 900.0f, 100.0f));
    EXPECT_NEAR (v.getCurrentTime(), duration, 1.0e-3);
    v.mouseDrag (mouseAt (v, -50.0f, 100.0f));
    EXPECT_NEAR (v.getCurrentTime(), 0.0, 1.0e-3);
    v.mouseUp (mouseAt (v, -50.0f, 100.0f));
    EXPECT_EQ (region.start, analysed);
    EXPECT_EQ (state(), before);

    // Marker grabbed within 9 pixels, counted in the open media's rate.
    const int markerX = v.getMarkerX();
    EXPECT_EQ (markerX, (int) (780.0 * (double) analysed / (duration * rate)));
    click (v, (float) markerX + 10.0f, 100.0f);
    EXPECT_EQ (region.start, analysed);
    v.mouseDown (mouseAt (v, (float) markerX + 9.0f, 100.0f));
    EXPECT_EQ (region.start, (juce::int64) ((markerX + 9.0) / 780.0 * duration * rate));
    EXPECT_EQ (region.length, 12288);
    // Dragged past the end, the region still lies inside the file.
    v.mouseDrag (mouseAt (v, 2000.0f, 100.0f));
    EXPECT_EQ (region.start, (juce::int64) (duration * rate) - 12288);
    v.togglePlayPause();
    v.mouseUp (mouseAt (v, 2000.0f, 100.0f));
    EXPECT_NE (state(), before);
    EXPECT_TRUE (v.isPlaying());
    v.togglePlayPause();

    // Another file opened while a release pauses playback: the old file's
    // region teaches nothing and the new file is left as it opened.
    v.mouseDown (mouseAt (v, (float) v.getMarkerX(), 100.0f));
    ASSERT_FALSE (v.isSeekClick());
    v.togglePlayPause();
    juce::MemoryBlock opened;
    juce::MessageManager::callAsync ([&] { closeDiscarding(); openAndSettle ("movie.mp4"); opened = state(); });
    v.mouseUp (mouseAt (v, (float) v.getMarkerX(), 100.0f));
    ASSERT_FALSE (opened.isEmpty());
    EXPECT_EQ (state(), opened);
    EXPECT_FALSE (v.isPlaying());

    // A click on the picture never learns, even right after a marker press.
    ASSERT_TRUE (v.isVideoVisible());
    region.start = 1;
    region.length = 12288;
    v.mouseDown (mouseAt (v, 0.0f, 100.0f));
    EXPECT_TRUE (v.isSeekClick());
    const auto picture = state();
    v.mouseUp (mouseAt (v, 0.0f, 100.0f));
    EXPECT_EQ (state(), picture);
    EXPECT_EQ (region.start, 1);
}

TEST_F (MediaWindowTest, DropOpensAfterClosingAndCancelKeepsTheMedia)
{
    openAndSettle ("stereo.m4a");
    auto& v = view();
    EXPECT_TRUE (v.isInterestedInFileDrag ({ "anything.xyz" }));
    v.fileDragEnter ({ media ("song.wav").getFullPathName() }, 10, 10);
    EXPECT_TRUE (v.isDragOver());
    v.fileDragExit ({});
    EXPECT_FALSE (v.isDragOver());
    v.filesDropped ({ media ("song.wav").getFullPathName() }, 10, 10);
    EXPECT_FALSE (v.isDragOver());
    EXPECT_EQ (document().getMediaFile(), media ("song.wav"));

    document().changed();
    DialogService::get().answerWithButton ("Cancel");
    v.filesDropped ({ media ("movie.mp4").getFullPathName() }, 10, 10);
    EXPECT_TRUE (askedTitles().contains ("Apply Clarivo before closing?"));
    EXPECT_EQ (document().getMediaFile(), media ("song.wav"));
    EXPECT_TRUE (transport().isMediaLoaded());
    document().setChangedFlag (false);

    // A drop the system delivers while a load or a job runs its message loop
    // would close the media under it: it is refused.
    bool dropTried = false;
    juce::MessageManager::callAsync ([&]
    {
        document().setChangedFlag (false);
        view().filesDropped ({ media ("no such file.wav").getFullPathName() }, 10, 10);
        dropTried = true;
    });
    ASSERT_TRUE (app->openMediaFile (media ("stereo.m4a"), false).wasOk());
    ASSERT_TRUE (dropTried);
    EXPECT_EQ (document().getMediaFile(), media ("stereo.m4a"));
    EXPECT_TRUE (transport().isMediaLoaded());
    app->showProgress ("Saving...");
    document().setChangedFlag (false);
    v.filesDropped ({ media ("song.mp3").getFullPathName() }, 10, 10);
    app->hideProgress();
    EXPECT_EQ (document().getMediaFile(), media ("stereo.m4a"));
    document().setChangedFlag (false);
}

TEST (MediaWindowConstrainer, KeepsThePicturesShapeAndSurvivesBadAspects)
{
    CustomBoundsConstrainer rule;
    auto check = [&] (double aspect, juce::Rectangle<int> bounds, bool horizontal)
    {
        rule.setFixedAspectRatio (aspect);
        rule.checkBounds (bounds, {}, {}, false, false, false, horizontal);
        return bounds;
    };
    EXPECT_EQ (check (1.66, { 0, 0, 830, 300 }, true).getHeight(), 614);
    EXPECT_EQ (check (1.66, { 0, 0, 300, 300 }, true), juce::Rectangle<int> (0, 0, 420, 367));
    EXPECT_EQ (check (6.4, { 0, 0, 780, 214 }, false), juce::Rectangle<int> (0, 0, 640, 214));
    // Height-driven: grows until the picture is at least the minimum wide.
    const auto grown = check (1.66, { 0, 0, 500, 200 }, false);
    EXPECT_EQ (grown.getWidth(), (int) (1.66 * (grown.getHeight() - 114)));
    EXPECT_GE (grown.getWidth(), 420);
    EXPECT_LT ((int) (1.66 * (grown.getHeight() - 115)), 420);
    // No usable shape: the width rule alone, at once.
    for (double bad : { 0.0, -1.0, std::nan (""), std::numeric_limits<double>::infinity(), 1.0e-300 })
        for (bool horizontal : { false, true })
            EXPECT_EQ (check (bad, { 0, 0, 300, 200 }, horizontal), juce::Rectangle<int> (0, 0, 420, 200)) << bad;
}

TEST_F (MediaWindowTest, PaintsWaveformPlayHeadMarkerProgressAndCaptions)
{
    // Laid out as the window's full size; the menu bar takes its share on Linux.
    transport().setSize (780, 490);
    // Empty: the caption alone, centred in its box.
    auto empty = viewPixels();
    EXPECT_TRUE (juce::Rectangle<int> (0, 206, 780, 36).contains (inkBounds (empty)));
    EXPECT_NEAR (brightest (empty, { 0, 206, 780, 36 }), 77, 2);

    openAndSettle ("quietgap.wav");
    transport().setSize (780, 490);
    auto& v = view();
    v.setPositionFraction (0.5);
    const double duration = v.getPlayableDuration();
    const int head = (int) (780.0 * v.getCurrentTime() / duration);
    const int marker = (int) ((double) processor().learnRegion.start / 44100.0 / duration * 780.0);
    auto idle = viewPixels();
    EXPECT_TRUE (columnHolds (idle, 20, juce::Colour (0xff206ee2)));
    EXPECT_TRUE (near (idle.getPixelAt (head, 2), overBlack (0x7040ff40)));
    EXPECT_TRUE (near (idle.getPixelAt (head + 1, 2), overBlack (0x7040ff40)));
    EXPECT_TRUE (near (idle.getPixelAt (head + 2, 2), juce::Colours::black));
    EXPECT_TRUE (near (idle.getPixelAt (marker, 2), juce::Colour (0xffff4500)));

    app->showProgress ("Exporting...");
    app->setProgress (0.4);
    auto busy = viewPixels();
    EXPECT_TRUE (columnHolds (busy, 20, juce::Colour (0xff206ee2)));
    EXPECT_TRUE (columnHolds (busy, 311, juce::Colour (0xff206ee2)));
    EXPECT_FALSE (columnHolds (busy, 312, juce::Colour (0xff206ee2)));
    EXPECT_TRUE (columnHolds (busy, 312, overBlack (0x80206ee2)));
    app->hideProgress();

    v.fileDragEnter ({ "x.wav" }, 0, 0);
    EXPECT_TRUE (near (viewPixels().getPixelAt (2, 2), overBlack (0xb30000ff)));
    v.fileDragExit ({});

    // No overview (yet): its caption, and no play head or marker from a zero length.
    v.getThumbnail().setSource (nullptr);
    auto pending = viewPixels();
    EXPECT_NEAR (brightest (pending, { 0, 206, 780, 36 }), 77, 2);
    EXPECT_EQ (brightest (pending, { 0, 0, 780, 200 }), 0);

    // Sound shown as a picture: its own caption.
    closeDiscarding();
    openAndSettle ("stereo.m4a");
    transport().setSize (780, 490);
    v.setVideoVisible (true);
    auto audioOnly = viewPixels();
    EXPECT_NEAR (brightest (audioOnly, { 0, 206, 780, 36 }), 77, 2);
    EXPECT_EQ (brightest (audioOnly, { 0, 0, 780, 200 }), 0);

    // The bar: outline black over the light top of its gradient, the band's hard step at its middle.
    auto bar = transport().createComponentSnapshot (transport().getLocalBounds());
    EXPECT_TRUE (near (bar.getPixelAt (578, 440), juce::Colours::black, 3));
    EXPECT_GT (bar.getPixelAt (578, 441).getRed(), 20);
    EXPECT_NEAR (bar.getPixelAt (578, 464).getRed(), 0.4 * 64, 3);
    EXPECT_NEAR (bar.getPixelAt (578, 466).getRed(), 0.4 * 30, 3);
}

TEST (MediaWindowDarkLook, DrawsTogglePicturesWithCaptions)
{
    CVDarkLookAndFeel look;
    juce::ToggleButton button ("Loop");
    button.setSize (40, 40);
    auto draw = [&] (bool on, bool enabled, bool down)
    {
        button.setToggleState (on, juce::dontSendNotification);
        button.setEnabled (enabled);
        return apptest::drawn (40, 40, [&] (juce::Graphics& g) { look.drawToggleButton (g, button, false, down); });
    };
    const auto onImage = picture (clarivo::artwork::darkToggleOn), offImage = picture (clarivo::artwork::darkToggleOff);
    EXPECT_TRUE (near (draw (true, true, false).getPixelAt (12, 12), onImage.getPixelAt (12, 12)));
    EXPECT_TRUE (near (draw (false, true, false).getPixelAt (12, 12), offImage.getPixelAt (12, 12)));
    EXPECT_TRUE (near (draw (false, true, true).getPixelAt (12, 12), onImage.getPixelAt (12, 12)));
    EXPECT_NEAR (draw (true, false, false).getPixelAt (12, 12).getAlpha(), 128, 2);
    // The caption keeps its own half-transparent black, disabled or not.
    for (bool enabled : { true, false })
    {
        const auto image = draw (true, enabled, false);
        int darkest = 0;
        for (int y = 24; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
            {
                const auto c = image.getPixelAt (x, y);
                EXPECT_EQ (c.getRed(), 0);
                darkest = juce::jmax (darkest, (int) c.getAlpha());
            }
        EXPECT_NEAR (darkest, 0x80, 2) << enabled;
    }
    apptest::saveRow ("dark-toggles-on-off-disabled-down.png",
                      { draw (true, true, false), draw (false, true, false), draw (true, false, false), draw (false, true, true) });
}

class MediaWindowShownTest : public MediaWindowTest
{
protected:
    MediaWindowShownTest() { showWindows = true; }
};

TEST_F (MediaWindowShownTest, TitlesSplashModesCloseAndSnapshots)
{
    ASSERT_TRUE (pumpUntil ([&] { return window().getName() == "Media Player"; }, 2000));
    auto& splash = transport().getAnimationView();
    EXPECT_TRUE (pumpUntil ([&] { return splash.isRunning(); }, 2000));
    EXPECT_EQ (splash.getCompositionName(), "CV-Splash");
    EXPECT_EQ (window().getBounds().withZeroOrigin(), juce::Rectangle<int> (780, 490));
    writeSnapshot (transport(), "media-window-empty");

    openAndSettle ("movie.mp4");
    EXPECT_EQ (window().getName(), "movie.mp4");
    EXPECT_FALSE (splash.isAnimating() || splash.isRunning());
    // The picture over the view's centre is the frame the player decoded.
    ASSERT_TRUE (pumpUntil ([&] { return view().getPlayerView().getVideoRect().getWidth() > 0.0f; }, 2000));
    pumpUntil ([] { return false; }, 200);
    const auto frame = view().getPlayer().getPlayer()->getCurrentVideoFrame();
    ASSERT_TRUE (frame.isValid());
    const auto shown = view().createComponentSnapshot (view().getLocalBounds());
    const auto rect = view().getPlayerView().getVideoRect();
    EXPECT_TRUE (near (shown.getPixelAt ((int) rect.getCentreX(), (int) rect.getCentreY()),
                       frame.getPixelAt (frame.getWidth() / 2, frame.getHeight() / 2), 8));
    writeSnapshot (window().getControls(), "media-window-movie");

    // The window keeps the picture's shape when its width changes.
    window().setSize (900, window().getHeight());
    EXPECT_EQ (window().getHeight(), (int) (900 / (320.0 / 240.0) + 114));

    click (transport().getVideoToggle());
    EXPECT_FALSE (view().isVideoVisible());
    window().setSize (780, 490);
    pumpUntil ([] { return false; }, 100);
    writeSnapshot (window().getControls(), "media-window-movie-waveform");
    app->showProgress ("Exporting...");
    app->setProgress (0.4);
    writeSnapshot (window().getControls(), "media-window-busy");
    app->hideProgress();
    view().fileDragEnter ({ "x.wav" }, 0, 0);
    writeSnapshot (window().getControls(), "media-window-drag-over");
    view().fileDragExit ({});

    // The close button closes the media, not the window.
    window().closeButtonPressed();
    EXPECT_FALSE (transport().isMediaLoaded());
    EXPECT_TRUE (window().isVisible());
    EXPECT_EQ (window().getName(), "Media Player");
    EXPECT_TRUE (splash.isAnimating());

    app->setPlayerMode (false);
    EXPECT_EQ (window().getName(), "Recorder");
    EXPECT_FALSE (transport().isVisible());
    EXPECT_TRUE (window().getControls().getRecorder().isVisible());
    EXPECT_FALSE (splash.isRunning());
    writeSnapshot (window().getControls(), "media-window-recorder");
    app->setPlayerMode (true);

    openAndSettle ("stereo.m4a");
    writeSnapshot (window().getControls(), "media-window-stereo");
}
