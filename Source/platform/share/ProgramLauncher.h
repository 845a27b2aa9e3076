#pragma once

// Starts the program behind a sharing service: with an argument list, never
// through a shell (a file name is only ever one argument), its input and
// output on /dev/null.
#include "SharingService.h"

#include <optional>
#include <sys/types.h>

namespace clarivo::share
{
// Starts program with the arguments after it, its input and output on
// /dev/null, no signal blocked and a broken pipe fatal whatever this process
// set up for itself. Its process id, or -1 with the reason in error.
pid_t startProgram (const juce::File& program, const juce::StringArray& arguments, int& error);

// Starts the program of that name on PATH with the arguments after it and
// returns at once. failed hears why when the program cannot be found or
// started (before this returns) or
// when it ends with a failure within failureWindowMs (later, on the message
// thread): a mail helper that finds no mail program says so by its status.
// A program still running then has taken the file; it is reaped whenever
// it ends.
void launch (const juce::String& programName, const juce::StringArray& arguments, FailureHandler failed,
             int failureWindowMs = 10000);
} // namespace clarivo::share
