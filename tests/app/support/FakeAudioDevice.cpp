#include "app/support/FakeAudioDevice.h"

namespace fakeaudio
{
const juce::StringArray& inputNames()
{
    static const juce::StringArray names { "Fake 2 in 48000", "Fake 1 in 44100", "Fake 0 in 44100", "Fake 2 in 44100",
                                              "Fake broken" };
    return names;
}

float sample (int channel, juce::int64 frame) noexcept
{
    // Every 16-bit value but -32768, channel 1 a third of the way ahead.
    const auto k = (frame * 3 + channel * 21845) % 65535 - 32767;
    return (float) k / 32768.0f;
}

Device::Device (const juce::String& inputName, Pace)
    : juce::AudioIODevice (inputName.isEmpty() ? outputName : inputName, "Fake"),
      numInputs (inputName.isEmpty() ? 0 : inputName.fromFirstOccurrenceOf ("Fake ", false, false).getIntValue()),
      defaultRate (inputName.endsWith ("48000") ? 48000.0 : 44100.0)
{
}

Device::~Device()
{
    close();
}

juce::StringArray Device::getInputChannelNames()
{
    juce::StringArray names;
    for (int c = 0; c < numInputs; ++c)
        names.add ("In " + juce::String (c + 1));
    return names;
}

juce::String Device::open (const juce::BigInteger& in, const juce::BigInteger& out, double newRate, int)
{
    if (getName() == "Fake broken")
        return "The fake device is broken";
    activeInputs = in;
    activeInputs.setRange (numInputs, 64, false);
    activeOutputs = out;
    activeOutputs.setRange (2, 64, false);
    rate = newRate > 0.0 ? newRate : defaultRate;
    opened = true;
    framesDelivered = 0;
    return {};
}

void Device::close()
{
    stop();
    opened = false;
}

void Device::start (juce::AudioIODeviceCallback* newCallback)
{
    if (newCallback != nullptr)
        newCallback->audioDeviceAboutToStart (this);
    {
        const juce::ScopedLock sl (callbackLock);
        callback = newCallback;
    }
}

void Device::stop()
{
    juce::AudioIODeviceCallback* old;
    {
        const juce::ScopedLock sl (callbackLock);
        old = callback;
        callback = nullptr;
    }
    if (old != nullptr)
        old->audioDeviceStopped();
}

void Device::deliver (int frames)
{
    const auto first = framesDelivered.load();
    const int numIn = activeInputs.countNumberOfSetBits();
    for (int c = 0; c < numIn; ++c)
        for (int i = 0; i < frames; ++i)
            inputs.setSample (c, i, sample (c, first + i));
    for (int c = 0; c < 2; ++c)
        juce::FloatVectorOperations::fill (outputs.getWritePointer (c), 0.5f, frames);

    const juce::ScopedLock sl (callbackLock);
    if (callback == nullptr)
        return;
    callback->audioDeviceIOCallbackWithContext (inputs.getArrayOfReadPointers(), numIn,
                                                outputs.getArrayOfWritePointers(),
                                                activeOutputs.countNumberOfSetBits(), frames, {});
    outputPeak = outputs.getMagnitude (0, frames);
    framesDelivered = first + frames;
}

void Device::pump (juce::int64 frames)
{
    for (; frames > 0; frames -= blockSize)
        deliver ((int) juce::jmin (frames, (juce::int64) blockSize));
}

juce::AudioIODevice* Type::createDevice (const juce::String&, const juce::String& input)
{
    if (input.isNotEmpty() && ! inputNames().contains (input))
        return nullptr;
    return new Device (input, Pace::pumped);
}

void openDevice (juce::AudioDeviceManager& manager, const juce::String& inputName, Pace pace, double rate)
{
    // Before anything asks for the types, or the platform's come first.
    if (manager.getCurrentAudioDeviceType() != "Fake")
    {
        manager.addAudioDeviceType (std::make_unique<Type> (pace));
        manager.setCurrentAudioDeviceType ("Fake", true);
    }
    juce::AudioDeviceManager::AudioDeviceSetup setup;
    setup.outputDeviceName = outputName;
    setup.inputDeviceName = inputName;
    setup.sampleRate = rate > 0.0 ? rate : inputName.endsWith ("48000") ? 48000.0 : 44100.0;
    setup.bufferSize = blockSize;
    setup.inputChannels.setRange (0, 2, true);
    setup.outputChannels.setRange (0, 2, true);
    setup.useDefaultInputChannels = setup.useDefaultOutputChannels = false;
    manager.setAudioDeviceSetup (setup, true);
}

Device* current (juce::AudioDeviceManager& manager)
{
    return dynamic_cast<Device*> (manager.getCurrentAudioDevice());
}
} // namespace fakeaudio
