// "Bluetooth": the desktop's send-to-device dialog, with the file chosen.
#include "SharingService.h"

namespace clarivo::share
{
std::optional<Service> bluetoothService()
{
    if (findProgram ("bluetooth-sendto") == juce::File())
        return std::nullopt;
    return Service { "Bluetooth", [] (const juce::File& file, FailureHandler failed)
    {
        // It says nothing particular by its status; its own words, when it
        // printed any, go with this.
        launch ("bluetooth-sendto", { file.getFullPathName() }, std::move (failed), 10000, [] (int)
        {
            return juce::String ("The Bluetooth dialog could not send the copy. Check that Bluetooth is on and the "
                                 "device is paired, then share again.");
        });
    } };
}
} // namespace clarivo::share
