// "Email": the user's mail program opens a new message with the file
// attached, through the desktop's mail helper.
#include "SharingService.h"

namespace clarivo::share
{
std::optional<Service> emailService()
{
    if (findProgram ("xdg-email") == juce::File())
        return std::nullopt;
    return Service { "Email", [] (const juce::File& file, FailureHandler failed)
    {
        launch ("xdg-email", { "--attach", file.getFullPathName() }, std::move (failed));
    } };
}
} // namespace clarivo::share
