#include "app/support/AppTestSupport.h"

#include "app/document/FileTypeChooser.h"
#include "app/support/TestHelpers.h"

#include <cstdlib>

using namespace mediatest;

void AppTest::SetUp()
{
    configHome = std::make_unique<ScopedConfigHome>();
    auto& dialogs = DialogService::get();
    dialogs.clearScript();
    dialogs.clearHistory();
    dialogs.setResponder ([] (const DialogService::Request&) { return DialogService::Answer {}; });
    app = std::make_unique<ClarivoApplication>();
    app->playerOptions.useNullDevice = true;
    app->playerOptions.nullDeviceSpeed = 8.0;
    app->showWindows = showWindows;
    app->instanceName = {};
    app->ratingPrompt = ratingPrompt;
    if (! initialiseInSetUp)
        return;
    app->initialise ({});
    ProcessingAVPlayer::setClock ([this] { return clockMs += 250; });
    dialogs.clearHistory();
}

void AppTest::TearDown()
{
    app->shutdown();
    app = nullptr;
    configHome = nullptr;
    ProcessingAVPlayer::setClock ({});
    DialogService::get().setResponder ({});
    DialogService::get().clearScript();
}

juce::FileBasedDocument::SaveResult AppTest::saveAs (const juce::File& target, int format, int quality, const juce::String& thenAnswer)
{
    document().formatIndex = format;
    document().qualityIndex = quality;
    app->formatChooser = [] { return 1; };
    DialogService::get().answerWithFile (target);
    if (thenAnswer.isNotEmpty())
        DialogService::get().answerWithButton (thenAnswer);
    return document().saveMedia (true);
}

Planar AppTest::expectedProcessed (const juce::File& source, int* sampleRate)
{
    int rate = 0;
    auto input = decodeAll (source, &rate);
    if (sampleRate != nullptr)
        *sampleRate = rate;
    if (input.empty())
        return {};
    const auto length = input[0].size();
    const auto latency = (size_t) processor().getLatencySamples();
    for (auto& channel : input)
        channel.resize (length + latency, 0.0f);
    juce::MemoryBlock state;
    processor().getStateInformation (state);
    auto out = processOffline (input, rate, [&] (CVAudioProcessor& p) { p.setStateInformation (state.getData(), (int) state.getSize()); });
    for (auto& channel : out)
        channel.erase (channel.begin(), channel.begin() + (std::ptrdiff_t) latency);
    return out;
}

juce::StringArray AppTest::askedTitles() const
{
    juce::StringArray titles;
    for (const auto& record : DialogService::get().getHistory())
        if (record.request.kind == DialogService::Kind::message || record.request.kind == DialogService::Kind::question)
            titles.add (record.request.title);
    return titles;
}

const DialogService::Request* AppTest::lastRequest (const juce::String& title) const
{
    const auto& history = DialogService::get().getHistory();
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        if (it->request.title == title)
            return &it->request;
    return nullptr;
}

void writeSnapshot (juce::Component& component, const juce::String& name) { apptest::snapshot (component, name + ".png"); }

void chooseInDialog (int format, int quality, std::function<void (FileTypeChooser&)> look, juce::File target,
                     std::map<juce::String, juce::String> buttons)
{
    DialogService::get().setResponder ([=] (const DialogService::Request& r)
    {
        DialogService::Answer answer;
        if (auto* chooser = dynamic_cast<FileTypeChooser*> (r.content))
        {
            if (look)
                look (*chooser);
            chooser->formatBox.setSelectedItemIndex (format, juce::sendNotificationSync);
            chooser->qualityBox.setSelectedItemIndex (quality, juce::sendNotificationSync);
            answer.button = r.buttons.indexOf ("OK");
        }
        else if (r.kind == DialogService::Kind::saveFile)
            answer.file = target;
        else if (const auto it = buttons.find (r.title); it != buttons.end())
            answer.button = r.buttons.indexOf (it->second);
        return answer;
    });
}

::testing::AssertionResult overlayShownOncePerJob (const std::vector<ClarivoApplication::ProgressEvent>& timeline)
{
    using Kind = ClarivoApplication::ProgressEvent::Kind;
    bool shown = false;
    for (size_t i = 0; i < timeline.size(); ++i)
    {
        const auto& e = timeline[i];
        if (e.kind == Kind::show && shown)
            return ::testing::AssertionFailure() << "event " << i << ": \"" << e.text << "\" shown over a job still showing";
        if (e.kind == Kind::hide && ! shown)
            return ::testing::AssertionFailure() << "event " << i << ": hidden with no job showing";
        if (e.kind == Kind::set && ! e.visibleAfter)
            return ::testing::AssertionFailure() << "event " << i << ": progress set with the overlay hidden";
        if (e.kind == Kind::set && ! shown)
            return ::testing::AssertionFailure() << "event " << i << ": progress outside a job";
        shown = e.kind == Kind::show ? true : e.kind == Kind::hide ? false : shown;
    }
    if (shown)
        return ::testing::AssertionFailure() << "the last job left the overlay up";
    return ::testing::AssertionSuccess();
}
