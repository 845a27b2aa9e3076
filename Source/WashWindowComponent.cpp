#include "WashWindowComponent.h"
#include "CVAudioProcessor.h"
#include "CVUIEditor.h"

#include <algorithm>

WashWindowComponent::WashWindowComponent (CVUIEditor& editor, bool)
    : owner (editor), lastRow ((size_t) ProcessorFeeds::kSpectrumBins, -96.0f)
{
    setSize (196, 196);
    connectToProcessor (4096);
    interval = 300;
    startTimer (interval);
}

WashWindowComponent::~WashWindowComponent()
{
    auto& processor = owner.getProcessor();
    if (processor.getNoiseDisplay() == this)
        processor.setNoiseDisplay (nullptr);
    stopTimer();
}

void WashWindowComponent::connectToProcessor (int blockSize)
{
    owner.getProcessor().setNoiseDisplay (this);
    interval = blockSize < 8192 ? 100 : 300;
    startTimer (interval);
}

void WashWindowComponent::pushSpectrum (bool silent)
{
    if (silent || pulledRow == nullptr)
    {
        std::fill (lastRow.begin(), lastRow.end(), -96.0f);
        ++silentRowsPushed;
        return;
    }

    std::copy (pulledRow, pulledRow + lastRow.size(), lastRow.begin());
    ++rowsPushed;
}

void WashWindowComponent::timerCallback()
{
    const auto poll = reader.poll (owner.getProcessor().feeds());

    for (std::uint64_t i = 0; i < poll.idleRows; ++i)
        pushSpectrum (true);

    if (poll.row != nullptr)
    {
        pulledRow = poll.row;
        pushSpectrum (false);
        pulledRow = nullptr;
    }
}
