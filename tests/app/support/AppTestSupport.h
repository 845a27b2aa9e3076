#pragma once

#include "media/MediaTestSupport.h"
#include "app/support/ScopedConfigHome.h"

#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoDocument.h"
#include "app/windows/DialogService.h"
#include "app/mediawindow/MediaWindow.h"
#include "app/document/ProcessingAVPlayer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

// The application as the program runs it, playing into a null device at
// eight times real time, with a clock that moves a quarter second each time
// it is read (so the export's settling wait passes at once) and every
// question left unanswered unless a test answers it.
class AppTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    ClarivoDocument& document() { return app->getDocument(); }
    CVAudioProcessor& processor() { return app->getProcessor(); }
    ProcessingAVPlayer& player() { return app->getMediaWindow()->getMediaContainer().getPlayer(); }
    juce::Result open (const juce::File& file) { return app->openMediaFile (file, true); }

    // Saves the open document as target in a format, answering the save
    // dialog, and the question after it (replace?) with thenAnswer if given.
    juce::FileBasedDocument::SaveResult saveAs (const juce::File& target, int format, int quality = 9, const juce::String& thenAnswer = {});

    // What the chain makes of a file's first audio track offline with the
    // application's current settings, the latency cut from the head and
    // the sound's full length kept.
    mediatest::Planar expectedProcessed (const juce::File& source, int* sampleRate = nullptr);

    // The titles of the alerts and questions so far, in order (not the choosers).
    juce::StringArray askedTitles() const;
    const DialogService::Request* lastRequest (const juce::String& title) const;
    // The text of the last box of that title, or empty.
    juce::String textOf (const juce::String& title) const
    {
        const auto* r = lastRequest (title);
        return r != nullptr ? r->text : juce::String();
    }

    // Preferences of the test's own, in a fresh home folder.
    std::unique_ptr<ScopedConfigHome> configHome;
    std::unique_ptr<ClarivoApplication> app;
    juce::int64 clockMs = 1000000;
    // Whether the windows are put on the screen.
    bool showWindows = false;
    // Whether the rating prompt runs (and looks the program up in the store).
    bool ratingPrompt = false;
    // Otherwise the test starts the application itself, on the real clock.
    bool initialiseInSetUp = true;
};

// Sound silent until 2 s, then a loud 1 kHz tone to its end at 4 s: a WAV
// at 44.1 kHz, or with a picture (black until the tone, white from it) an
// MP4 with AAC at 48 kHz. Null when ffmpeg could not make it.
juce::File makeToneAtTwoSeconds (const juce::String& name, bool withPicture);
// Where a file's sound first reaches half its peak, to the 64-sample
// block, in seconds; -1 when it is silent.
double soundOnset (const mediatest::Planar& sound, int sampleRate);
double soundOnset (const juce::File& file);
// Whether a copy's sound starts where the source's does (within 5 ms) and
// runs whole to its end: as long, and its last 100 ms as loud (within 1 dB).
::testing::AssertionResult soundInStep (const juce::File& copy, const juce::File& source);

// Writes what a component shows to build/snapshots/<name>.png, for a person to look at.
void writeSnapshot (juce::Component& component, const juce::String& name);

class FileTypeChooser;
// Answers the format dialog by choosing format and quality and pressing OK,
// the save chooser with target, and boxes by their titles; the rest are
// dismissed.
void chooseInDialog (int format, int quality, std::function<void (FileTypeChooser&)> look = {}, juce::File target = {},
                     std::map<juce::String, juce::String> buttons = {});

// Whether the overlay's timeline is one show, its progress and one hide per
// job, with nothing hiding it in between.
::testing::AssertionResult overlayShownOncePerJob (const std::vector<ClarivoApplication::ProgressEvent>& timeline);
