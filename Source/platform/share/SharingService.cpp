#include "SharingService.h"

#include <cstdlib>
#include <unistd.h>

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

void setServiceFinder (std::function<std::vector<Service>()> f) { finder = std::move (f); }

juce::File findProgram (const juce::String& name)
{
    const char* path = std::getenv ("PATH");
    if (path == nullptr || name.isEmpty() || name.containsChar ('/'))
        return {};
    for (const auto& folder : juce::StringArray::fromTokens (juce::String::fromUTF8 (path), ":", {}))
    {
        // An empty or relative entry would find whatever lies in the
        // current folder: only absolute folders count.
        if (! juce::File::isAbsolutePath (folder))
            continue;
        const auto candidate = juce::File (folder).getChildFile (name);
        if (candidate.existsAsFile() && ::access (candidate.getFullPathName().toRawUTF8(), X_OK) == 0)
            return candidate;
    }
    return {};
}
} // namespace clarivo::share
