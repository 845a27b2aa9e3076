#include "app/document/FileTypeChooser.h"

namespace
{
void styleLabel (juce::Label& label, const juce::String& text)
{
    label.setText (text, juce::dontSendNotification);
    label.setFont (juce::Font ("Arial", 15.0f, juce::Font::bold));
    label.setJustificationType (juce::Justification::centredLeft);
    label.setEditable (false, false, false);
    label.setColour (juce::TextEditor::textColourId, juce::Colours::black);
    label.setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
}

void styleBox (juce::ComboBox& box, const juce::StringArray& items, juce::ComboBox::Listener* listener)
{
    box.setEditableText (false);
    box.setJustificationType (juce::Justification::centredLeft);
    box.setTextWhenNothingSelected ({});
    box.setTextWhenNoChoicesAvailable ("(no choices)");
    box.addItemList (items, 1);
    box.addListener (listener);
}
} // namespace

FileTypeChooser::FileTypeChooser (int formatIndex, int qualityIndex)
    : formatLabel ("new label"), okButton ("new button"), formatBox ("new combo box"), qualityBox ("new combo box"),
      qualityLabel ("new label")
{
    setLookAndFeel (&lookAndFeel);

    styleLabel (formatLabel, "Select an output file format:");
    addAndMakeVisible (formatLabel);

    okButton.setButtonText ("OK");
    okButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff808080));
    okButton.setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff464646));
    okButton.addListener (this);
    const juce::KeyPress returnKey (juce::KeyPress::returnKey);
    if (! okButton.isRegisteredForShortcut (returnKey))
        okButton.addShortcut (returnKey);
    addAndMakeVisible (okButton);

    styleBox (formatBox,
              { "QuickTime", "MPEG-4", "M4V", "M4A (Audio Only)", "CoreAudio (Audio Only)", "WAVE (Audio Only)",
                "AIFF (Audio Only)", "FLAC (Audio Only)", "MP3 (Audio Only)" },
              this);
    addAndMakeVisible (formatBox);

    styleBox (qualityBox, { "1 (low/fast)", "2", "3", "4", "5", "6", "7", "8", "9", "10 (high/slow)" }, this);
    addAndMakeVisible (qualityBox);

    styleLabel (qualityLabel, "Quality:");
    addAndMakeVisible (qualityLabel);

    formatBox.setSelectedItemIndex (formatIndex, juce::sendNotificationAsync);
    qualityBox.setSelectedItemIndex (qualityIndex, juce::sendNotificationAsync);
    updateQualityVisibility();
    setWantsKeyboardFocus (true);
    setSize (300, 240);
}

FileTypeChooser::~FileTypeChooser()
{
    setLookAndFeel (nullptr);
}

void FileTypeChooser::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffeeeeee));
}

void FileTypeChooser::resized()
{
    formatLabel.setBounds (32, 24, 232, 24);
    formatBox.setBounds (56, 64, 192, 24);
    qualityLabel.setBounds (32, 104, 232, 24);
    qualityBox.setBounds (56, 144, 192, 24);
    okButton.setBounds (168, 200, 112, 24);
}

void FileTypeChooser::updateQualityVisibility()
{
    const int format = formatBox.getSelectedItemIndex();
    const bool usesQuality = format == 7 || format == 8;
    qualityLabel.setVisible (usesQuality);
    qualityBox.setVisible (usesQuality);
}

void FileTypeChooser::comboBoxChanged (juce::ComboBox* box)
{
    if (box == &formatBox)
        updateQualityVisibility();
}

void FileTypeChooser::buttonClicked (juce::Button* button)
{
    if (button == &okButton)
        accept();
}

bool FileTypeChooser::keyPressed (const juce::KeyPress& key)
{
    if (key == juce::KeyPress::returnKey)
    {
        accept();
        return true;
    }
    return false;
}

void FileTypeChooser::accept()
{
    if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
        dialog->exitModalState (1);
    if (isCurrentlyModal (false))
        exitModalState (1);
}

int FileTypeChooser::runModal()
{
    juce::DialogWindow::LaunchOptions options;
    options.dialogTitle = "Select File Format for Save";
    options.dialogBackgroundColour = juce::Colours::black;
    options.content.setNonOwned (this);
    options.componentToCentreAround = nullptr;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = false;
    options.useBottomRightCornerResizer = false;
    return options.runModal();
}
