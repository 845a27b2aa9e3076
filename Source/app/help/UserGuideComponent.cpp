#include "app/help/UserGuideComponent.h"

#include "app/help/CVWebBrowserComponent.h"

#ifndef CLARIVO_INSTALLED_MANUAL
 #define CLARIVO_INSTALLED_MANUAL "../share/clarivo/manual"
#endif

namespace
{
juce::File& manualFolderOverride()
{
    static juce::File folder;
    return folder;
}
} // namespace

UserGuideComponent::UserGuideComponent()
{
    setVisible (true);
    backButton.setBounds (4, 4, 70, 28);
    backButton.setColour (juce::TextButton::buttonColourId, juce::Colours::white);
    backButton.setColour (juce::TextButton::textColourOffId, juce::Colours::black);
    backButton.addListener (this);
    addAndMakeVisible (backButton);
    updateBackButton();
    pageURL = mainPageURL();
    startTimer (100);
}

UserGuideComponent::~UserGuideComponent()
{
    backButton.removeListener (this);
}

juce::File UserGuideComponent::findManualFolder (const juce::File& executable)
{
    const auto folder = executable.getParentDirectory();
    const juce::File places[] { folder.getChildFile ("manual"), folder.getChildFile (CLARIVO_INSTALLED_MANUAL) };
    for (const auto& place : places)
        if (place.getChildFile ("index.html").existsAsFile())
            return place;
    return places[0];
}

juce::File UserGuideComponent::getManualFolder()
{
    if (manualFolderOverride() != juce::File())
        return manualFolderOverride();
    // From the system, not from the name the program was started by, which
    // is relative to whatever folder it was started in.
    static const auto found = findManualFolder (juce::File ("/proc/self/exe").getLinkedTarget());
    return found;
}

void UserGuideComponent::setManualFolder (const juce::File& folder) { manualFolderOverride() = folder; }

juce::File UserGuideComponent::pageFile (const juce::String& path)
{
    if (path == "/manuals/clarivo5")
        return getManualFolder().getChildFile ("index.html");
    if (path == "/manuals/clarivo5/quickstart")
        return getManualFolder().getChildFile ("quickstart.html");
    return {};
}

juce::String UserGuideComponent::mainPageURL() { return juce::URL (pageFile ("/manuals/clarivo5")).toString (false); }
juce::String UserGuideComponent::quickStartURL() { return juce::URL (pageFile ("/manuals/clarivo5/quickstart")).toString (false); }

void UserGuideComponent::showQuickStart()
{
    pageURL = quickStartURL();
    startTimer (100);
}

void UserGuideComponent::paint (juce::Graphics& g) { g.fillAll (juce::Colours::white); }

void UserGuideComponent::resized()
{
    if (browser != nullptr)
        browser->setBounds (getLocalBounds().translated (0, 36));
}

void UserGuideComponent::timerCallback()
{
    stopTimer();
    if (browser == nullptr)
    {
        browser = std::make_unique<CVWebBrowserComponent> (getManualFolder());
        browser->pagesLoaded = 0;
        browser->onPageShown = [this] { updateBackButton(); };
        addAndMakeVisible (*browser);
        resized();
    }
    // WebKit's own answer to a missing file says nothing a user could act on.
    const juce::URL url (pageURL);
    if (url.isLocalFile() && ! url.getLocalFile().existsAsFile())
        browser->showMessagePage (
            "This page of the guide is missing",
            "Clarivo looked for it at " + url.getLocalFile().getFullPathName()
                + ". The guide's pages are installed with Clarivo: installing Clarivo again puts them back.");
    else
        browser->goToURL (pageURL);
}

bool UserGuideComponent::firstPageIsNotMain() const
{
    return browser != nullptr && ! browser->canGoBackAPage() && browser->getCurrentPage().isNotEmpty()
           && browser->getCurrentPage() != mainPageURL();
}

void UserGuideComponent::updateBackButton()
{
    backButton.setEnabled (browser != nullptr && (browser->canGoBackAPage() || firstPageIsNotMain()));
}

void UserGuideComponent::buttonClicked (juce::Button* button)
{
    if (button != &backButton || browser == nullptr)
        return;
    // Back from the first page shown (the QuickStart from the welcome box)
    // leads to the guide's main page, never to the blank page the view
    // started on; before the first page is in, nothing.
    if (browser->canGoBackAPage())
        browser->goBackAPage();
    else if (firstPageIsNotMain())
    {
        pageURL = mainPageURL();
        startTimer (100);
    }
}
