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
        launch ("bluetooth-sendto", { file.getFullPathName() }, std::move (failed));
    } };
}
} // namespace clarivo::share
