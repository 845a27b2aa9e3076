#pragma once

// "Batch Processor...": every media file of a folder tree, loaded as the
// media document and saved with the settings the batch started with under
// the same relative path in a second folder. Runs on the message thread,
// inside the command.
#include <juce_core/juce_core.h>

#include <set>
#include <utility>

class ClarivoApplication;

class BatchProcessor
{
public:
    explicit BatchProcessor (ClarivoApplication& app);

    // The command: asks for both folders and runs the batch.
    void run();

    // Processes one folder, then its subfolders; false when cancelled or a
    // folder cannot be used, which ends the whole batch.
    bool processFolder (const juce::File& inputFolder, const juce::File& outputFolder, const juce::MemoryBlock& state);

    // Set when the user holds Escape; every further step then stops.
    static bool batchCancelled;

    // How long a file may take to load and be analysed before it is skipped.
    static constexpr juce::int64 kLoadTimeoutMs = 60000;

private:
    bool waitForLoad();
    void processFile (const juce::File& input, const juce::File& outputFolder, const juce::MemoryBlock& state);

    ClarivoApplication& app;
    // Folders walked so far and the output's own, by device and inode, so
    // that no link leads the walk in a circle or into what it writes.
    std::set<std::pair<juce::uint64, juce::uint64>> visited;
    juce::File outputRoot, inputRoot;
};
