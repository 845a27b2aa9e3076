#pragma once

// One running Clarivo per user. A later launch hands its command line to the
// running one over a local socket that only the same user can reach, and
// gets an acknowledgement once the line is queued on the running program's
// message thread, so that a file opened from the desktop is never dropped.
#include <juce_events/juce_events.h>

#include <functional>
#include <memory>
#include <optional>

namespace clarivo::launch
{
class SingleInstance
{
public:
    using CommandLineHandler = std::function<void (const juce::String& commandLine)>;

    // What one hand-over may carry, in UTF-8 bytes.
    static constexpr size_t maxCommandLineBytes = 64 * 1024;

    // Makes this process the running instance unless another one already is
    // (or no private folder for the socket can be had): null then. Each
    // command line a later launch sends reaches onCommandLine on the message
    // thread, in the order they came; none arrives after the object is
    // destroyed (on the message thread).
    static std::unique_ptr<SingleInstance> claim (const juce::String& appName, CommandLineHandler onCommandLine);

    // True only when the running instance acknowledged the command line;
    // false at once when none runs, and within about timeoutMs otherwise.
    static bool sendToRunningInstance (const juce::String& appName, const juce::String& commandLine, int timeoutMs);

    // The whole decision a launch makes, failing towards running on its own
    // rather than losing what it was asked to open.
    struct Launch
    {
        std::unique_ptr<SingleInstance> service; // set: this process is the running instance
        bool handedOver = false;                 // true: the running instance has the command line
        // Neither: no instance took the line and none could be claimed; run alone.
    };
    static Launch claimOrHandOver (const juce::String& appName, int argc, const char* const* argv,
                                   CommandLineHandler onCommandLine, int timeoutMs);

    // The arguments after argv[0] as one line from which
    // StringArray::fromTokens (line, true), each token unquoted, gives them
    // back; nothing when one of them cannot be written so (not UTF-8, or
    // quotes that the tokens cannot carry), rather than a line that reads as
    // other files.
    static std::optional<juce::String> commandLineFrom (int argc, const char* const* argv);

    // Where the socket of appName lives: in $XDG_RUNTIME_DIR when that is
    // ours alone, else in a private folder under the temporary folder; an
    // invalid file when neither can be had.
    static juce::File socketFile (const juce::String& appName);

    ~SingleInstance();

private:
    struct Listener;
    explicit SingleInstance (std::unique_ptr<Listener>);
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE (SingleInstance)
};
} // namespace clarivo::launch
