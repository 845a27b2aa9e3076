#include "SharingService.h"

namespace clarivo::share
{
namespace
{
std::function<std::vector<Service>()> finder;
} // namespace

std::vector<Service> findServices()
{
    if (finder)
        return finder();
    std::vector<Service> found;
    for (auto service : { emailService(), folderService(), bluetoothService() })
        if (service)
            found.push_back (std::move (*service));
    return found;
}

juce::String xdgStatusMeaning (int status, const juce::String& whatIsMissing, const juce::String& whatFailed)
{
    switch (status)
    {
        case 1: return "The desktop's helper did not understand the request.";
        case 2: return "The copy could not be found.";
        case 3: return whatIsMissing;
        case 4: return whatFailed;
        default: return {};
    }
}

void setServiceFinder (std::function<std::vector<Service>()> f) { finder = std::move (f); }
} // namespace clarivo::share
