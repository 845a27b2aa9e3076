#include <juce_gui_basics/juce_gui_basics.h>

#include "CVUIEditor.h"

// Until the application's own start-up arrives, Clarivo opens an empty window
// and quits cleanly when it is closed.
class ClarivoStubApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Clarivo+"; }
    const juce::String getApplicationVersion() override { return "5.0.0"; }

    void initialise (const juce::String&) override
    {
        CVUIEditor::installAsProcessorEditor();
        window = std::make_unique<Window>();
    }

    void shutdown() override { window = nullptr; }

private:
    struct Window : juce::DocumentWindow
    {
        Window() : juce::DocumentWindow ("Clarivo+", juce::Colours::darkgrey, juce::DocumentWindow::allButtons)
        {
            setUsingNativeTitleBar (true);
            centreWithSize (780, 490);
            setVisible (true);
        }
        void closeButtonPressed() override { juce::JUCEApplication::quit(); }
    };

    std::unique_ptr<Window> window;
};

START_JUCE_APPLICATION (ClarivoStubApplication)
