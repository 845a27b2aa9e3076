#pragma once

// The ways this desktop offers to hand a file to someone: a mail program, the
// file manager, Bluetooth. There is no system-wide picker on Linux, so each
// service is a program of its own, found when the picker is about to open.
// A service gets one whole file and hands it on; it never changes it.
#include "ProgramLauncher.h"

#include <functional>
#include <optional>
#include <vector>

namespace clarivo::share
{
// Called at most once, on the message thread, with a sentence saying why the
// service could not take the file. Not called when it took it.
using process::FailureHandler;
using process::findProgram;
using process::launch;
using process::outputOf;

struct Service
{
    juce::String name; // as the picker lists it
    std::function<void (const juce::File& file, FailureHandler failed)> share;
};

// The services on offer now, in the picker's order: the desktop's, or the
// ones a test supplied.
std::vector<Service> findServices();
// Tests supply their own list; an empty finder brings back the desktop's.
void setServiceFinder (std::function<std::vector<Service>()> finder);

// What an xdg-utils helper's exit status means (1 a request it did not
// understand, 2 a file not found, 3 a program it needs that is missing, 4
// an action that failed), with the missing program and the failed action
// named as this service knows them; empty for any other status.
juce::String xdgStatusMeaning (int status, const juce::String& whatIsMissing, const juce::String& whatFailed);

// Each of the desktop's services, when what it needs is installed.
std::optional<Service> emailService();
std::optional<Service> folderService();
std::optional<Service> bluetoothService();
} // namespace clarivo::share
