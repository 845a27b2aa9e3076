#pragma once

// Placeholder for the recorder panel of the media window's recorder mode:
// only its constructor and a black face until the panel itself lands.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

class Preferences;

class RecorderComponent : public juce::Component
{
public:
    RecorderComponent (juce::AudioDeviceManager&, Preferences&) { setSize (520, 200); }

    void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::black); }
};
