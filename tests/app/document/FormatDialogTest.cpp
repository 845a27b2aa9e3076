// The format dialog every save goes through, on its own and on the screen,
// and what its quality row does.
#include "app/support/AppTestSupport.h"

#include "app/document/FileTypeChooser.h"
#include "app/support/TestHelpers.h"

using namespace mediatest;

namespace
{
juce::Component* childAt (juce::Component& parent, juce::Rectangle<int> bounds)
{
    for (auto* c : parent.getChildren())
        if (c->getBounds() == bounds)
            return c;
    return nullptr;
}

} // namespace

TEST_F (AppTest, FormatDialogShowsItsRowsAndWritesBackOnlyWhenAccepted)
{
    ASSERT_TRUE (open (media ("stereo.m4a")).wasOk());
    document().formatIndex = 7;
    document().qualityIndex = 4;
    chooseInDialog (2, 6, [] (FileTypeChooser& c)
    {
        EXPECT_EQ (c.getBounds(), juce::Rectangle<int> (0, 0, 300, 240));
        juce::StringArray formats, qualities;
        for (int i = 0; i < c.formatBox.getNumItems(); ++i)
            formats.add (c.formatBox.getItemText (i));
        for (int i = 0; i < c.qualityBox.getNumItems(); ++i)
            qualities.add (c.qualityBox.getItemText (i));
        EXPECT_EQ (formats.joinIntoString ("|"), "QuickTime|MPEG-4|M4V|M4A (Audio Only)|CoreAudio (Audio Only)|WAVE (Audio Only)|"
                                                 "AIFF (Audio Only)|FLAC (Audio Only)|MP3 (Audio Only)");
        EXPECT_EQ (qualities.joinIntoString ("|"), "1 (low/fast)|2|3|4|5|6|7|8|9|10 (high/slow)");
        EXPECT_EQ (c.formatBox.getSelectedItemIndex(), 7);
        EXPECT_EQ (c.qualityBox.getSelectedItemIndex(), 4);
        for (auto [bounds, text] : { std::pair { juce::Rectangle<int> (32, 24, 232, 24), "Select an output file format:" },
                                     { { 32, 104, 232, 24 }, "Quality:" }, { { 168, 200, 112, 24 }, "OK" } })
        {
            auto* label = dynamic_cast<juce::Label*> (childAt (c, bounds));
            auto* button = dynamic_cast<juce::Button*> (childAt (c, bounds));
            EXPECT_EQ (label != nullptr ? label->getText() : button != nullptr ? button->getButtonText() : "", text);
        }
        EXPECT_EQ (c.formatBox.getBounds(), juce::Rectangle<int> (56, 64, 192, 24));
        EXPECT_EQ (c.qualityBox.getBounds(), juce::Rectangle<int> (56, 144, 192, 24));

        EXPECT_TRUE (c.qualityBox.isVisible());
        writeSnapshot (c, "format-dialog-flac");
        c.formatBox.setSelectedItemIndex (2, juce::sendNotificationSync);
        EXPECT_FALSE (c.qualityBox.isVisible());
        writeSnapshot (c, "format-dialog-m4v");
        c.formatBox.setSelectedItemIndex (8, juce::sendNotificationSync);
        EXPECT_TRUE (c.qualityBox.isVisible());
    });
    // The quality is written back also for a format that does not use it.
    EXPECT_EQ (app->chooseSaveFormat(), 1);
    EXPECT_EQ (document().formatIndex, 2);
    EXPECT_EQ (document().qualityIndex, 6);
    EXPECT_EQ (askedTitles(), juce::StringArray()); // the dialog is not an alert
    EXPECT_EQ (DialogService::get().getHistory().back().request.title, "Select File Format for Save");

    // On the screen: OK and Return accept what was chosen; Escape and the
    // close button change nothing.
    DialogService::get().setResponder ({});
    struct Way { const char* name; std::function<void (juce::DialogWindow&, FileTypeChooser&)> act; int result; };
    const Way ways[] = {
        { "OK", [] (juce::DialogWindow&, FileTypeChooser& c) { dynamic_cast<juce::Button*> (childAt (c, { 168, 200, 112, 24 }))->triggerClick(); }, 1 },
        { "Return", [] (juce::DialogWindow&, FileTypeChooser& c) { c.keyPressed (juce::KeyPress (juce::KeyPress::returnKey)); }, 1 },
        { "Escape", [] (juce::DialogWindow& d, FileTypeChooser&) { static_cast<juce::Component&> (d).keyPressed (juce::KeyPress (juce::KeyPress::escapeKey)); }, 0 },
        { "close", [] (juce::DialogWindow& d, FileTypeChooser&) { d.userTriedToCloseWindow(); }, 0 },
    };
    for (const auto& way : ways)
    {
        SCOPED_TRACE (way.name);
        document().formatIndex = 5;
        document().qualityIndex = 9;
        bool acted = false;
        std::function<void()> poke = [&]
        {
            auto* dialog = dynamic_cast<juce::DialogWindow*> (juce::Component::getCurrentlyModalComponent());
            auto* chooser = dialog != nullptr ? dynamic_cast<FileTypeChooser*> (dialog->getContentComponent()) : nullptr;
            if (chooser == nullptr)
                return juce::Timer::callAfterDelay (20, [&] { poke(); });
            EXPECT_EQ (dialog->getName(), "Select File Format for Save");
            chooser->formatBox.setSelectedItemIndex (8, juce::sendNotificationSync);
            chooser->qualityBox.setSelectedItemIndex (1, juce::sendNotificationSync);
            acted = true;
            way.act (*dialog, *chooser);
        };
        juce::Timer::callAfterDelay (20, [&] { poke(); });
        EXPECT_EQ (app->chooseSaveFormat(), way.result);
        EXPECT_TRUE (acted);
        EXPECT_EQ (document().formatIndex, way.result == 1 ? 8 : 5);
        EXPECT_EQ (document().qualityIndex, way.result == 1 ? 1 : 9);
    }
}

// What each format holds: DocumentSaveTest; here what the dialog's quality
// row does to the files, on noise the encoders cannot make small.
TEST_F (AppTest, TheDialogsQualityRowSetsTheEncodersEffort)
{
    const auto dir = scratchFolder();
    const auto source = dir.getChildFile ("source.wav");
    ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.2:duration=3:sample_rate=48000", "-f", "lavfi", "-i",
                              "sine=frequency=1000:duration=3:sample_rate=48000", "-filter_complex", "[0:a][1:a]amix=2,aformat=channel_layouts=stereo[a]",
                              "-map", "[a]", "-c:a", "pcm_s16le", source.getFullPathName() }));
    ASSERT_TRUE (open (source).wasOk());

    const auto saveIn = [&] (int format, int quality, const juce::String& name)
    {
        chooseInDialog (format, quality, {}, dir.getChildFile (name));
        EXPECT_EQ (document().saveMedia (true), juce::FileBasedDocument::savedOk) << name;
        return dir.getChildFile (name).withFileExtension (ClarivoDocument::extensionForFormat (format));
    };
    // MP3's best has at least three times its lowest bit rate; FLAC's best
    // is no larger than its fastest.
    const auto mp3Low = saveIn (8, 0, "low"), mp3High = saveIn (8, 9, "high");
    EXPECT_GE (mp3High.getSize(), 3 * mp3Low.getSize());
    const auto flacLow = saveIn (7, 0, "low"), flacHigh = saveIn (7, 9, "high");
    EXPECT_LE (flacHigh.getSize(), flacLow.getSize());
    // FLAC and MP3 exactly as long as the WAV (in step with the sound: DocumentSaveTest).
    const auto wavLength = decodeAll (saveIn (5, 9, "out")).at (0).size();
    for (const auto& file : { flacHigh, mp3High })
        EXPECT_EQ (decodeAll (file).at (0).size(), wavLength) << file.getFileName();
}

// Without the encoder the user is asked; OK opens the download page, and
// neither answer writes anything or touches the copy already there.
TEST_F (AppTest, Mp3WithoutTheEncoderAsksAndKeepsTheOldCopy)
{
    const auto dir = scratchFolder();
    ASSERT_TRUE (open (media ("song.wav")).wasOk());
    const auto target = dir.getChildFile ("kept.mp3");
    target.replaceWithText ("the old copy");
    app->lameProgram = dir.getChildFile ("no-lame");
    juce::StringArray opened;
    app->openPage = [&] (const juce::URL& page) { opened.add (page.toString (false)); };
    for (const char* answer : { "OK", "Cancel" })
    {
        SCOPED_TRACE (answer);
        chooseInDialog (8, 9, {}, target, { { "Replace file?", "Overwrite" }, { "Missing LAME Encoder", answer } });
        EXPECT_EQ (document().saveMedia (true), juce::FileBasedDocument::failedToWriteToFile);
        EXPECT_TRUE (askedTitles().contains ("Missing LAME Encoder")); // its words: AudioFileExportTest
        EXPECT_EQ (target.loadFileAsString(), "the old copy");
        EXPECT_EQ (dir.getNumberOfChildFiles (juce::File::findFiles), 1);
    }
    EXPECT_EQ (opened.size(), 1);
}
