// The desktop's sharing services on stand-in programs: which are listed,
// what each program is handed, and what a program that fails says.
#include <gtest/gtest.h>

#include "ProgramLauncher.h"
#include "TestMessageLoop.h"
#include "SharingService.h"

#include <cstdlib>

using namespace clarivo::share;

namespace
{
juce::StringArray list (std::initializer_list<juce::String> items)
{
    juce::StringArray result;
    for (const auto& item : items)
        result.add (item);
    return result;
}

juce::StringArray names (const std::vector<Service>& services)
{
    juce::StringArray result;
    for (const auto& s : services)
        result.add (s.name);
    return result;
}
} // namespace

// PATH holds only a folder of stand-ins, each written as a script that
// records its arguments, one a line, and "end" once it is done.
class SharingServices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bin = juce::File::createTempFile ("-share-bin");
        ASSERT_TRUE (bin.createDirectory());
        savedPath = std::getenv ("PATH");
        ::setenv ("PATH", bin.getFullPathName().toRawUTF8(), 1);
        // Quotes, a comma and spaces: each must arrive as one argument.
        file = bin.getChildFile ("it's a \"song\", 1.mp3");
        file.replaceWithText ("sound");
    }
    void TearDown() override
    {
        ::setenv ("PATH", savedPath.toRawUTF8(), 1);
        setServiceFinder ({});
        bin.deleteRecursively();
    }

    void standIn (const juce::String& name, const juce::String& body = {})
    {
        const auto script = bin.getChildFile (name);
        script.replaceWithText ("#!/bin/sh\n" + body + "\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + record (name).getFullPathName()
                                + "\"\necho end >> \"" + record (name).getFullPathName() + "\"\n", false, false, "\n");
        script.setExecutePermission (true);
    }
    juce::File record (const juce::String& name) { return bin.getChildFile (name + ".args"); }
    juce::StringArray argumentsOf (const juce::String& name)
    {
        EXPECT_TRUE (pumpUntil ([&] { return record (name).loadFileAsString().endsWith ("end\n"); }, 5000)) << name;
        auto lines = juce::StringArray::fromLines (record (name).loadFileAsString().trimEnd());
        lines.removeString ("end");
        return lines;
    }

    juce::File bin, file;
    juce::String savedPath;
};

TEST_F (SharingServices, ListsWhatIsInstalledAndHandsEachTheWholeFile)
{
    EXPECT_TRUE (findServices().empty());

    // The mail helper alone is no mail program: Email waits for one the
    // desktop names as the handler of mailto: links, or for MAILER.
    standIn ("xdg-email");
    standIn ("xdg-mime");
    EXPECT_TRUE (findServices().empty());
    EXPECT_EQ (argumentsOf ("xdg-mime"), list ({ "query", "default", "x-scheme-handler/mailto" }));
    ::setenv ("MAILER", "mutt", 1);
    EXPECT_EQ (names (findServices()), juce::StringArray ("Email"));
    ::unsetenv ("MAILER");
    standIn ("xdg-mime", "echo thunderbird.desktop");

    standIn ("xdg-open");
    standIn ("bluetooth-sendto");
    auto services = findServices();
    ASSERT_EQ (names (services), juce::StringArray ({ "Email", "Show in Folder", "Bluetooth" }));
    for (auto& s : services)
        s.share (file, [] (const juce::String& why) { ADD_FAILURE() << why; });
    EXPECT_EQ (argumentsOf ("xdg-email"), list ({ "--attach", file.getFullPathName() }));
    EXPECT_EQ (argumentsOf ("bluetooth-sendto"), juce::StringArray (file.getFullPathName()));
    EXPECT_EQ (argumentsOf ("xdg-open"), juce::StringArray (bin.getFullPathName()));

    // A file manager on the session bus shows the file itself; the name
    // reaches the bus call's text percent-encoded, so it cannot end the string.
    bin.getChildFile ("xdg-open").deleteFile();
    bin.getChildFile ("xdg-open.args").deleteFile();
    standIn ("gdbus");
    services = findServices();
    ASSERT_EQ (names (services), juce::StringArray ({ "Email", "Show in Folder", "Bluetooth" }));
    services[1].share (file, [] (const juce::String& why) { ADD_FAILURE() << why; });
    const auto call = argumentsOf ("gdbus");
    ASSERT_EQ (call.size(), 12);
    EXPECT_EQ (call[9], "org.freedesktop.FileManager1.ShowItems");
    EXPECT_EQ (call[10], "['file://" + bin.getFullPathName() + "/it%27s%20a%20%22song%22%2C%201.mp3']");
    EXPECT_EQ (call[11], "");

    // No file manager answers (or no bus at all): the folder opens instead,
    // and only a failure of that reaches the user.
    standIn ("gdbus", "exit 1");
    standIn ("xdg-open");
    services = findServices();
    juce::StringArray heard;
    services[1].share (file, [&] (const juce::String& why) { heard.add (why); });
    EXPECT_EQ (argumentsOf ("xdg-open"), juce::StringArray (bin.getFullPathName()));
    EXPECT_TRUE (heard.isEmpty());

    // Tests may put their own list in the desktop's place.
    setServiceFinder ([] { return std::vector<Service> { { "Test", {} } }; });
    EXPECT_EQ (names (findServices()), juce::StringArray ("Test"));
}

TEST_F (SharingServices, AProgramThatCannotTakeTheFileSaysWhyOnce)
{
    juce::StringArray heard;
    const auto listen = [&] (const juce::String& why) { heard.add (why); };

    // The mail helper finds no mail program after all: what that means to
    // the user, and the helper's own last word on it.
    standIn ("xdg-mime", "echo thunderbird.desktop");
    standIn ("xdg-email", "echo 'looking for a mailer' >&2; printf 'xdg-email: no method available for opening mailto:\\n\\n' >&2; exit 3");
    auto email = emailService();
    ASSERT_TRUE (email.has_value());
    email->share (file, listen);
    EXPECT_TRUE (pumpUntil ([&] { return ! heard.isEmpty(); }, 5000));
    pumpUntil ([] { return false; }, 100);
    EXPECT_EQ (heard, juce::StringArray ({ "No mail program is set up. Choose one as your desktop's default mail program, then share "
                                           "again. xdg-email said: \"xdg-email: no method available for opening mailto:\"" }));

    // The folder opener's status 4 without a word of its own; Bluetooth's
    // failure, whatever its status.
    heard.clear();
    standIn ("xdg-open", "exit 4");
    standIn ("bluetooth-sendto", "exit 2");
    auto services = findServices();
    ASSERT_EQ (names (services), juce::StringArray ({ "Email", "Show in Folder", "Bluetooth" }));
    services[1].share (file, listen);
    services[2].share (file, listen);
    EXPECT_TRUE (pumpUntil ([&] { return heard.size() == 2; }, 5000));
    heard.sort (false);
    EXPECT_EQ (heard, juce::StringArray ({ "The Bluetooth dialog could not send the copy. Check that Bluetooth is on and the device is "
                                           "paired, then share again.",
                                           "The file manager could not open the copy's folder." }));

    // Gone between the listing and the choice: said at once.
    heard.clear();
    bin.getChildFile ("xdg-email").deleteFile();
    email->share (file, listen);
    EXPECT_EQ (heard, juce::StringArray ({ "xdg-email is not installed." }));

    EXPECT_EQ (file.loadFileAsString(), "sound");
}
