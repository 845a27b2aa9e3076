// The one program launcher: what a started program is given of ours, and
// when its failure may still reach the message thread.
#include <gtest/gtest.h>

#include "ProgramLauncher.h"
#include "TestMessageLoop.h"

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace clarivo::process;

namespace
{
// PATH holds only a folder of stand-ins.
struct StandIns
{
    StandIns()
    {
        bin.createDirectory();
        ::setenv ("PATH", bin.getFullPathName().toRawUTF8(), 1);
    }
    ~StandIns()
    {
        ::setenv ("PATH", savedPath.toRawUTF8(), 1);
        bin.deleteRecursively();
    }
    void add (const juce::String& name, const juce::String& body)
    {
        const auto script = bin.getChildFile (name);
        script.replaceWithText ("#!/bin/sh\n" + body + "\n", false, false, "\n");
        script.setExecutePermission (true);
    }
    juce::File bin = juce::File::createTempFile ("-launcher-bin");
    juce::String savedPath = std::getenv ("PATH");
};
} // namespace

TEST (ProgramLauncher, AStartedProgramHoldsNothingOfOursButItsStandardStreams)
{
    // Descriptors without close-on-exec, as JUCE's message loop and a
    // plain open leave them.
    const auto held = juce::File::createTempFile (".held");
    held.replaceWithText ("ours");
    const int file = ::open (held.getFullPathName().toRawUTF8(), O_RDONLY);
    int pair[2] = { -1, -1 };
    ASSERT_GE (file, 0);
    ASSERT_EQ (::socketpair (AF_UNIX, SOCK_STREAM, 0, pair), 0);

    // The descriptors of the started program as it runs, read from outside
    // it, once it is the program and no longer our copy.
    int error = 0;
    const juce::File sleeper ("/bin/sleep");
    const auto pid = startProgram (sleeper, { "10" }, error);
    ASSERT_GT (pid, 0) << error;
    const auto proc = juce::File ("/proc/" + juce::String (pid));
    EXPECT_TRUE (pumpUntil ([&] { return proc.getChildFile ("exe").getLinkedTarget().getFileName() == "sleep"; }, 5000));
    // sleep opens its locale as it starts and closes it again, later on a
    // loaded machine: a descriptor of ours would stay for good.
    juce::StringArray fds;
    const auto descriptors = [&]
    {
        fds.clear();
        for (const auto& fd : proc.getChildFile ("fd").findChildFiles (juce::File::findFilesAndDirectories, false))
            fds.add (fd.getFileName() + (fd.getFileName().getIntValue() > 2 ? " " + fd.getLinkedTarget().getFullPathName() : juce::String()));
        fds.sortNatural();
        return fds;
    };
    pumpUntil ([&] { return descriptors() == juce::StringArray ({ "0", "1", "2" }); }, 5000);
    EXPECT_EQ (fds, juce::StringArray ({ "0", "1", "2" }));
    ::kill (pid, SIGKILL);
    int status = 0;
    EXPECT_EQ (::waitpid (pid, &status, 0), pid);

    ::close (file);
    ::close (pair[0]);
    ::close (pair[1]);
    held.deleteFile();
}

TEST (ProgramLauncher, NoFailureIsReportedOnceReportsHaveStopped)
{
    StandIns standIns;
    standIns.add ("fails", "exit 3");
    standIns.add ("fails-later", "sleep 0.3; exit 4");
    juce::StringArray heard;
    const auto listen = [&] (const juce::String& why) { heard.add (why); };

    launch ("fails", {}, listen);
    EXPECT_TRUE (pumpUntil ([&] { return ! heard.isEmpty(); }, 5000));
    EXPECT_EQ (heard, juce::StringArray ("fails ended with status 3."));
    heard.clear();

    // One report already queued when the quit begins, one whose program
    // ends after: neither arrives.
    launch ("fails", {}, listen);
    launch ("fails-later", {}, listen);
    juce::Thread::sleep (150);
    stopReports();
    pumpUntil ([] { return false; }, 800);
    EXPECT_TRUE (heard.isEmpty()) << heard.joinIntoString ("|");

    // A handler is told at once, on its own thread, when nothing could start.
    launch ("missing", {}, listen);
    EXPECT_EQ (heard, juce::StringArray ("missing is not installed."));
    heard.clear();

    startReports();
    launch ("fails", {}, listen);
    EXPECT_TRUE (pumpUntil ([&] { return ! heard.isEmpty(); }, 5000));
    EXPECT_EQ (heard, juce::StringArray ("fails ended with status 3."));
}

TEST (ProgramLauncher, AFailureWithAMeaningSaysItAndTheProgramsLastLine)
{
    StandIns standIns;
    // More than a pipe holds before the last line: the program must not
    // stall on it, and only the last line is kept.
    standIns.add ("chatty", "/usr/bin/head -c 300000 /dev/zero | /usr/bin/tr '\\0' 'x' >&2; printf '\\nfirst\\n  the last word  \\n\\n' >&2; exit 3");
    standIns.add ("odd", "echo 'odd: puzzled' >&2; exit 5");
    // Leaves a child behind on its error output: the failure is still told
    // when the program itself ends.
    standIns.add ("leaves", "(/bin/sleep 5; echo late >&2) & echo 'leaves: gave up' >&2; exit 4");
    standIns.add ("quiet", "exit 3");
    juce::StringArray heard;
    const auto listen = [&] (const juce::String& why) { heard.add (why); };
    const auto meaning = [] (int status) { return status == 5 ? juce::String() : "Meaning " + juce::String (status) + "."; };

    for (const auto* name : { "chatty", "odd", "leaves", "quiet" })
        launch (name, {}, listen, 10000, meaning);
    EXPECT_TRUE (pumpUntil ([&] { return heard.size() == 4; }, 3000)) << heard.joinIntoString ("|");
    heard.sort (false);
    EXPECT_EQ (heard, juce::StringArray ({ "Meaning 3.", "Meaning 3. chatty said: \"the last word\"", "Meaning 4. leaves said: \"leaves: gave up\"",
                                           "odd ended with status 5. odd said: \"odd: puzzled\"" }));

    // Without a meaning the error output stays where it was: nowhere.
    heard.clear();
    launch ("odd", {}, listen);
    EXPECT_TRUE (pumpUntil ([&] { return ! heard.isEmpty(); }, 5000));
    EXPECT_EQ (heard, juce::StringArray ("odd ended with status 5."));
}

TEST (ProgramLauncher, OutputOfGivesWhatAProgramSaidOnlyWhenItSucceededInTime)
{
    StandIns standIns;
    standIns.add ("answers", "echo 'mail.desktop'; echo 'to error' >&2");
    standIns.add ("fails", "echo 'half'; exit 1");
    standIns.add ("hangs", "echo 'started'; exec sleep 30");
    EXPECT_EQ (outputOf ("answers", {}, 3000), std::optional<juce::String> ("mail.desktop\n"));
    EXPECT_EQ (outputOf ("fails", {}, 3000), std::nullopt);
    EXPECT_EQ (outputOf ("missing", {}, 3000), std::nullopt);
    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_EQ (outputOf ("hangs", {}, 300), std::nullopt);
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 5000u);
}
