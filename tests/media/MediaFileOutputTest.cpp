#include <gtest/gtest.h>

#include "platform/media/MediaFileOutput.h"

#include <csignal>
#include <cstdlib>
#include <sys/xattr.h>

using clarivo::media::detail::CheckedFileOutputStream;
using clarivo::media::detail::PartialFile;

namespace
{
// The death tests' child runs the test again up to its statement: the
// folder's name is the parent's, so that both write into the same one.
juce::File folderFor (const char* test)
{
    if (std::getenv ("CLARIVO_PARTIALS_PARENT") == nullptr)
        ::setenv ("CLARIVO_PARTIALS_PARENT", juce::String ((int) ::getpid()).toRawUTF8(), 1);
    return juce::File::getSpecialLocation (juce::File::tempDirectory)
        .getChildFile ("partials-" + juce::String (std::getenv ("CLARIVO_PARTIALS_PARENT")) + "-" + test);
}

struct Folder
{
    juce::File dir;
    explicit Folder (const char* test) : dir (folderFor (test))
    {
        dir.deleteRecursively();
        dir.createDirectory();
    }
    ~Folder()
    {
        PartialFile::useNamedFilesOnly (false);
        dir.deleteRecursively();
    }
    juce::StringArray names() const
    {
        juce::StringArray found;
        for (const auto& f : dir.findChildFiles (juce::File::findFilesAndDirectories, false, "*", juce::File::FollowSymlinks::no))
            found.add (f.getFileName());
        found.sort (false);
        return found;
    }
};

// A save that dies during its final write: half of the file is on the disk
// when the kill comes.
void writeAndGetKilled (const juce::File& target, bool namedOnly)
{
    PartialFile::useNamedFilesOnly (namedOnly);
    juce::String why;
    PartialFile partial (target, why);
    if (! partial.isValid())
        std::_Exit (3);
    CheckedFileOutputStream out (partial.getFile());
    std::vector<char> bytes (1 << 20, 'x');
    out.write (bytes.data(), bytes.size());
    out.close();
    ::raise (SIGKILL);
}
} // namespace

TEST (MediaFileOutput, AKilledSaveLeavesNothingAndAFinishedOneNeverReplaces)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    Folder folder ("unnamed");
    const auto target = folder.dir.getChildFile ("saved.wav");

    EXPECT_EXIT (writeAndGetKilled (target, false), testing::KilledBySignal (SIGKILL), "");
    EXPECT_TRUE (folder.names().isEmpty()) << folder.names().joinIntoString (", ");

    // Nothing has the name until the file is whole, and then only a free name.
    juce::String why;
    {
        PartialFile partial (target, why);
        ASSERT_TRUE (partial.isValid()) << why;
        CheckedFileOutputStream out (partial.getFile());
        out.writeString ("whole");
        ASSERT_TRUE (out.close());
        EXPECT_TRUE (folder.names().isEmpty());
        ASSERT_TRUE (partial.moveInto (target, why)) << why;
    }
    EXPECT_EQ (target.loadFileAsString(), juce::String ("whole") + juce::String::charToString (0));
    {
        PartialFile partial (target, why);
        CheckedFileOutputStream out (partial.getFile());
        out.writeString ("second");
        out.close();
        EXPECT_FALSE (partial.moveInto (target, why));
        EXPECT_EQ (why, "The output file already exists.");
    }
    EXPECT_EQ (folder.names(), juce::StringArray { "saved.wav" });
    EXPECT_TRUE (target.loadFileAsString().startsWith ("whole"));
}

TEST (MediaFileOutput, WhereFilesMustHaveANameTheNextSaveRemovesOnlyOurPartialsWhoseWriterIsGone)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    Folder folder ("named");
    const auto target = folder.dir.getChildFile ("saved.wav");

    EXPECT_EXIT (writeAndGetKilled (target, true), testing::KilledBySignal (SIGKILL), "");
    const auto left = folder.names();
    ASSERT_EQ (left.size(), 1);
    EXPECT_EQ (left[0], ".saved.wav.partial");

    // Named like ours but not ours: the user's file, and a link to another.
    const auto foreign = folder.dir.getChildFile (".other.wav.partial");
    foreign.replaceWithText ("the user's");
    ASSERT_TRUE (folder.dir.getChildFile ("victim.wav").replaceWithText ("kept"));
    ASSERT_TRUE (folder.dir.getChildFile ("victim.wav").createSymbolicLink (folder.dir.getChildFile (".link.wav.partial"), false));

    // A writer still at work (its lock held) keeps its partial.
    PartialFile::useNamedFilesOnly (true);
    juce::String why;
    PartialFile live (folder.dir.getChildFile ("live.wav"), why);
    ASSERT_TRUE (live.isValid()) << why;
    EXPECT_TRUE (live.getFile().existsAsFile());

    PartialFile::useNamedFilesOnly (false);
    {
        PartialFile next (target, why);
        ASSERT_TRUE (next.isValid()) << why;
    }
    EXPECT_EQ (folder.names(), juce::StringArray ({ ".link.wav.partial", ".live.wav.partial", ".other.wav.partial", "victim.wav" }));
    EXPECT_EQ (foreign.loadFileAsString(), "the user's");
    EXPECT_EQ (folder.dir.getChildFile ("victim.wav").loadFileAsString(), "kept");

    // The finished file is the user's: it carries no mark of ours.
    CheckedFileOutputStream out (live.getFile());
    out.writeString ("done");
    out.close();
    ASSERT_TRUE (live.moveInto (folder.dir.getChildFile ("live.wav"), why)) << why;
    char mark[16] {};
    EXPECT_LT (::getxattr (folder.dir.getChildFile ("live.wav").getFullPathName().toRawUTF8(), "user.clarivo.partial", mark, sizeof (mark)), 0);
}
