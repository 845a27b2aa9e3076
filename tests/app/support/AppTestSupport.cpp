#include "app/support/AppTestSupport.h"

#include "app/document/FileTypeChooser.h"
#include "app/support/TestHelpers.h"

#include <cmath>
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

juce::File makeToneAtTwoSeconds (const juce::String& name, bool withPicture)
{
    const auto file = scratchFile (name);
    const juce::String tone = "if(gte(t,2),0.5*sin(2*PI*1000*t),0)";
    juce::StringArray args;
    if (withPicture)
        args.addArray ({ "-f", "lavfi", "-i", "color=c=black:size=96x64:rate=25:duration=4,"
                                              "drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='gte(t,2)'" });
    args.addArray ({ "-f", "lavfi", "-i", "aevalsrc='" + tone + "|" + tone + "':s=" + (withPicture ? "48000" : "44100") + ":d=4" });
    if (withPicture)
        args.addArray ({ "-map", "0:v", "-map", "1:a", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac",
                         "-b:a", "192k" });
    args.add (file.getFullPathName());
    return runFFmpeg (args) ? file : juce::File();
}

double soundOnset (const Planar& sound, int sampleRate)
{
    constexpr size_t block = 64;
    if (sound.empty() || sampleRate <= 0)
        return -1.0;
    // Against its own peak: the chain with a profile learned from the tone
    // itself may take most of the tone away.
    float peak = 0.0f;
    for (const auto& channel : sound)
        for (float x : channel)
            peak = std::max (peak, std::abs (x));
    if (peak < 1.0e-3f)
        return -1.0;
    for (size_t start = 0; start < sound[0].size(); start += block)
        for (const auto& channel : sound)
            for (size_t i = start; i < std::min (start + block, channel.size()); ++i)
                if (std::abs (channel[i]) > 0.5f * peak)
                    return (double) start / sampleRate;
    return -1.0;
}

double soundOnset (const juce::File& file)
{
    int rate = 0;
    const auto sound = decodeAll (file, &rate);
    return soundOnset (sound, rate);
}

::testing::AssertionResult soundInStep (const juce::File& copy, const juce::File& source)
{
    int copyRate = 0, sourceRate = 0;
    const auto got = decodeAll (copy, &copyRate);
    const auto want = decodeAll (source, &sourceRate);
    if (got.empty() || want.empty() || copyRate != sourceRate)
        return ::testing::AssertionFailure() << copy.getFileName() << ": no sound at the source's rate";
    const double at = soundOnset (got, copyRate), wanted = soundOnset (want, sourceRate);
    if (wanted < 0.0 || std::abs (at - wanted) > 0.005)
        return ::testing::AssertionFailure() << copy.getFileName() << ": the sound starts at " << at << " s, in the source at " << wanted << " s";
    const auto frames = want[0].size(), tail = (size_t) sourceRate / 10;
    if (std::abs ((double) got[0].size() - (double) frames) > 1.0)
        return ::testing::AssertionFailure() << copy.getFileName() << ": " << got[0].size() << " frames, the source " << frames;
    const auto loudness = [tail] (const std::vector<float>& x)
    {
        double sum = 0.0;
        for (size_t i = x.size() - tail; i < x.size(); ++i)
            sum += (double) x[i] * x[i];
        return 10.0 * std::log10 (sum / (double) tail + 1.0e-20);
    };
    for (size_t c = 0; c < want.size() && c < got.size(); ++c)
        if (std::abs (loudness (got[c]) - loudness (want[c])) > 1.0)
            return ::testing::AssertionFailure() << copy.getFileName() << ": its last 100 ms are at " << loudness (got[c])
                                                 << " dB, the source's at " << loudness (want[c]) << " dB";
    return ::testing::AssertionSuccess();
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
