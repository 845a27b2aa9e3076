// "Email": the user's mail program opens a new message with the file
// attached, through the desktop's mail helper.
#include "SharingService.h"

#include <cstdlib>

namespace clarivo::share
{
namespace
{
// The places the mail helper looks for a mail program besides its KDE
// settings: a MAILER of the user's, a hook script, or the desktop's handler
// of mailto: links. Without any of them it can only say that none is set up.
bool mailProgramIsSetUp()
{
    if (const char* mailer = std::getenv ("MAILER"); mailer != nullptr && *mailer != 0)
        return true;
    if (findProgram ("xdg-email-hook.sh") != juce::File())
        return true;
    const auto handler = outputOf ("xdg-mime", { "query", "default", "x-scheme-handler/mailto" }, 3000);
    return handler && handler->trim().isNotEmpty();
}
} // namespace

std::optional<Service> emailService()
{
    if (findProgram ("xdg-email") == juce::File() || ! mailProgramIsSetUp())
        return std::nullopt;
    return Service { "Email", [] (const juce::File& file, FailureHandler failed)
    {
        launch ("xdg-email", { "--attach", file.getFullPathName() }, std::move (failed), 10000, [] (int status)
        {
            return xdgStatusMeaning (status,
                                     "No mail program is set up. Choose one as your desktop's default mail program, "
                                     "then share again.",
                                     "The mail program could not open a new message with the copy attached.");
        });
    } };
}
} // namespace clarivo::share
