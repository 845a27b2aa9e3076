#pragma once

// Starts other programs: with an argument list, never through a shell (a
// file name or an address is only ever one argument), with nothing of ours
// but its input and output on /dev/null.
#include <juce_events/juce_events.h>

#include <functional>
#include <sys/types.h>

namespace clarivo::process
{
// Called at most once, on the message thread, with a sentence saying why the
// program could not do its work. Not called when it did.
using FailureHandler = std::function<void (const juce::String& why)>;

// An executable file of that name in an absolute folder of PATH, or an
// invalid file.
juce::File findProgram (const juce::String& name);

// Starts program with the arguments after it, its input and output on
// /dev/null and no other descriptor of ours, no signal blocked and a broken
// pipe fatal whatever this process set up for itself. Its process id, or -1
// with the reason in error. The caller reaps it.
// With outputFd, its output goes there instead.
pid_t startProgram (const juce::File& program, const juce::StringArray& arguments, int& error, int outputFd = -1);

// Runs program to its end, the message loop kept going meanwhile (a
// desktop's file chooser is a window of its own), and gives what it wrote
// to its output. False when it could not be started or ended with a failure.
bool runForOutput (const juce::File& program, const juce::StringArray& arguments, juce::String& output);

// Starts the program of that name on PATH with the arguments after it and
// returns at once. failed hears why when the program cannot be found or
// started (before this returns) or when it ends with a failure within
// failureWindowMs (later, on the message thread, unless reports have
// stopped by then): a mail helper that finds no mail program says so by its
// status. A program still running then has taken its work; it is reaped
// whenever it ends.
void launch (const juce::String& programName, const juce::StringArray& arguments, FailureHandler failed,
             int failureWindowMs = 10000);

// From stopReports on, no program's end reaches a handler or posts anything
// to the message queue: the application calls it before the message loop
// goes, on the message thread. startReports opens them again.
void stopReports();
void startReports();
} // namespace clarivo::process
