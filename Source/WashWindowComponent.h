#pragma once

// Placeholder until the noise display is built: registers with the processor
// and pulls its spectrum feed on its own timer, live rows and idle rows.
#include <juce_gui_basics/juce_gui_basics.h>

#include "ProcessorFeeds.h"

#include <vector>

class CVUIEditor;

class WashWindowComponent : public juce::Component,
                            public juce::Timer
{
public:
    WashWindowComponent (CVUIEditor& owner, bool withRangeBox);
    ~WashWindowComponent() override;

    void connectToProcessor (int blockSize);
    // Message thread: takes the newest row pulled from the feed, or silence.
    void pushSpectrum (bool silent);
    void timerCallback() override;

    int getInterval() const noexcept { return interval; }
    int getRowsPushed() const noexcept { return rowsPushed; }
    int getSilentRowsPushed() const noexcept { return silentRowsPushed; }
    const std::vector<float>& getLastRow() const noexcept { return lastRow; }

private:
    CVUIEditor& owner;
    SpectrumFeedReader reader;
    const float* pulledRow = nullptr;
    std::vector<float> lastRow;
    int interval = 300;
    int rowsPushed = 0;
    int silentRowsPushed = 0;
};
