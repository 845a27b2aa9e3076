#include <gtest/gtest.h>

#include "platform/media/MediaFileOutput.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

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

TEST (MediaFileOutput, WhereFilesMustHaveANameAKilledSaveLeavesItsHiddenPartialAndNoWriterLocksOne)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    Folder folder ("named");
    const auto target = folder.dir.getChildFile ("saved.wav");

    // Nothing can tell a dead writer's partial from a live one's without a
    // lock, so it stays: clutter, never lost work.
    EXPECT_EXIT (writeAndGetKilled (target, true), testing::KilledBySignal (SIGKILL), "");
    const auto left = folder.names();
    ASSERT_EQ (left.size(), 1);
    EXPECT_TRUE (left[0].matchesWildcard (".saved.wav-????????????????.partial", false)) << left[0];
    EXPECT_EQ (folder.dir.getChildFile (left[0]).getSize(), 1 << 20);

    // A writer at work holds no lock that another handle's writes (a
    // share's) would meet.
    PartialFile::useNamedFilesOnly (true);
    juce::String why;
    PartialFile live (folder.dir.getChildFile ("live.wav"), why);
    ASSERT_TRUE (live.isValid()) << why;
    const int other = ::open (live.getFile().getFullPathName().toRawUTF8(), O_RDWR | O_CLOEXEC);
    ASSERT_GE (other, 0);
    EXPECT_FALSE (clarivo::media::detail::isLockedElsewhere (other));
    ::close (other);

    {
        PartialFile next (target, why);
        ASSERT_TRUE (next.isValid()) << why;
    }
    EXPECT_EQ (folder.names().size(), 2);
    CheckedFileOutputStream out (live.getFile());
    out.writeString ("done");
    out.close();
    ASSERT_TRUE (live.moveInto (folder.dir.getChildFile ("live.wav"), why)) << why;
    EXPECT_TRUE (folder.dir.getChildFile ("live.wav").loadFileAsString().startsWith ("done"));
}

namespace
{
namespace files = clarivo::media::detail;

juce::File commitText (const juce::File& target, const char* text, files::IfTaken ifTaken, juce::String& why)
{
    PartialFile partial (target, why);
    if (! partial.isValid())
        return {};
    CheckedFileOutputStream out (partial.getFile());
    out.write (text, std::strlen (text));
    if (! out.close())
        return {};
    return partial.commit (target, ifTaken, why);
}

struct SeamReset
{
    ~SeamReset() { files::setFileCalls ({}); }
};

// What the seam saw, in order: "sync file", "sync folder", "rename", "rename noreplace", "link".
struct Recorder
{
    std::vector<std::string> calls;
    files::FileCalls seam()
    {
        files::FileCalls c;
        c.sync = [this] (int fd)
        {
            struct stat info {};
            ::fstat (fd, &info);
            calls.push_back (S_ISDIR (info.st_mode) ? "sync folder" : "sync file");
            return ::fsync (fd);
        };
        c.rename = [this] (int a, const char* from, int b, const char* to, unsigned int flags)
        {
            calls.push_back (flags != 0 ? "rename noreplace" : "rename");
            return (int) ::syscall (SYS_renameat2, a, from, b, to, flags);
        };
        c.link = [this] (int a, const char* from, int b, const char* to, int flags)
        {
            calls.push_back ("link");
            return ::linkat (a, from, b, to, flags);
        };
        return c;
    }
};
} // namespace

TEST (MediaFileOutput, TheDataIsFlushedBeforeTheNameAndTheFolderAfterOnEitherWay)
{
    SeamReset reset;
    for (const bool namedOnly : { false, true })
    {
        SCOPED_TRACE (namedOnly ? "hidden name" : "unnamed");
        Folder folder ("order");
        PartialFile::useNamedFilesOnly (namedOnly);
        Recorder recorder;
        files::setFileCalls (recorder.seam());
        const auto target = folder.dir.getChildFile ("take.wav");
        juce::String why;
        ASSERT_EQ (commitText (target, "new", files::IfTaken::fail, why), target) << why;
        EXPECT_EQ (recorder.calls, (std::vector<std::string> { "sync file", namedOnly ? "rename noreplace" : "link", "sync folder" }));

        // A replacement gets a name of its own first, then takes the old one's.
        recorder.calls.clear();
        ASSERT_EQ (commitText (target, "newer", files::IfTaken::replace, why), target) << why;
        const std::vector<std::string> replacing { "sync file", "rename", "sync folder" };
        const std::vector<std::string> linkedFirst { "sync file", "link", "rename", "sync folder" };
        EXPECT_EQ (recorder.calls, namedOnly ? replacing : linkedFirst);
        EXPECT_EQ (target.loadFileAsString(), "newer");
        EXPECT_EQ (folder.names(), juce::StringArray { "take.wav" });
    }
}

TEST (MediaFileOutput, ACrashBetweenTheFlushAndTheNameLeavesTheOldFileWhole)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    Folder folder ("crash");
    const auto target = folder.dir.getChildFile ("take.wav");
    ASSERT_TRUE (target.replaceWithText ("the old take"));
    const auto crash = [target]
    {
        PartialFile::useNamedFilesOnly (true);
        files::FileCalls calls;
        calls.rename = [] (int, const char*, int, const char*, unsigned int) -> int { std::_Exit (7); };
        files::setFileCalls (calls);
        juce::String why;
        commitText (target, "the new take", files::IfTaken::replace, why);
    };
    EXPECT_EXIT (crash(), testing::ExitedWithCode (7), "");
    EXPECT_EQ (target.loadFileAsString(), "the old take");
    // The new one is whole beside it, under a hidden name.
    const auto left = folder.names();
    ASSERT_EQ (left.size(), 2);
    EXPECT_EQ (folder.dir.getChildFile (left[0]).loadFileAsString(), "the new take");
}

TEST (MediaFileOutput, WithoutANoReplaceRenameOrHardLinksASaveStillLandsAndKeepsWhatIsThere)
{
    SeamReset reset;
    Folder folder ("nolinks");
    PartialFile::useNamedFilesOnly (true);
    // FAT, exFAT, SMB without UNIX extensions, some FUSE folders.
    files::FileCalls calls;
    calls.rename = [] (int a, const char* from, int b, const char* to, unsigned int flags)
    {
        if (flags != 0)
            return errno = EINVAL, -1;
        return ::renameat (a, from, b, to);
    };
    calls.link = [] (int, const char*, int, const char*, int) { return errno = EPERM, -1; };
    files::setFileCalls (calls);

    juce::String why;
    const auto target = folder.dir.getChildFile ("take.wav");
    ASSERT_EQ (commitText (target, "first", files::IfTaken::fail, why), target) << why;
    EXPECT_EQ (commitText (target, "second", files::IfTaken::fail, why), juce::File());
    EXPECT_EQ (why, "The output file already exists.");
    EXPECT_EQ (commitText (target, "third", files::IfTaken::keepBeside, why), folder.dir.getChildFile ("take (2).wav"));
    EXPECT_EQ (target.loadFileAsString(), "first");
    EXPECT_EQ (folder.names(), juce::StringArray ({ "take (2).wav", "take.wav" }));
}

TEST (MediaFileOutput, PlantedLinksAndLongNamesDoNotBlockASaveAndAReplacementKeepsTheMode)
{
    for (const bool namedOnly : { false, true })
    {
        SCOPED_TRACE (namedOnly ? "hidden name" : "unnamed");
        Folder folder ("names");
        PartialFile::useNamedFilesOnly (namedOnly);
        juce::String why;

        // A link leading nowhere under the name a partial once had.
        const auto target = folder.dir.getChildFile ("saved.wav");
        ASSERT_TRUE (folder.dir.getChildFile ("nowhere").createSymbolicLink (folder.dir.getChildFile (".saved.wav.partial"), false));
        EXPECT_EQ (commitText (target, "saved", files::IfTaken::fail, why), target) << why;

        // 250 bytes, two of them in one character: the limit is 255.
        const auto longName = folder.dir.getChildFile (juce::String::repeatedString ("a", 243) + juce::String::fromUTF8 ("\xc3\xa9") + ".wav");
        EXPECT_EQ (commitText (longName, "long", files::IfTaken::fail, why), longName) << why;

        // The replaced file's readers, and no more.
        ASSERT_EQ (::chmod (target.getFullPathName().toRawUTF8(), 0600), 0);
        ASSERT_EQ (commitText (target, "newer", files::IfTaken::replace, why), target) << why;
        struct stat info {};
        ASSERT_EQ (::stat (target.getFullPathName().toRawUTF8(), &info), 0);
        EXPECT_EQ (info.st_mode & 07777, 0600u);
        EXPECT_EQ (target.loadFileAsString(), "newer");
    }
}

TEST (MediaFileOutput, ASaveReplacesOnlyTheFileTheUserAgreedToAndKeepsItsWorkBesideAnother)
{
    Folder folder ("terms");
    const auto target = folder.dir.getChildFile ("copy.wav");
    ASSERT_TRUE (target.replaceWithText ("agreed"));
    juce::String why;
    {
        files::SaveTerms terms (target, true);
        EXPECT_TRUE (files::mayWriteTo (target));
        PartialFile partial (target, why);
        CheckedFileOutputStream out (partial.getFile());
        out.write ("processed", 9);
        out.close();
        ASSERT_TRUE (partial.moveInto (target, why)) << why;
        EXPECT_EQ (terms.placedAt(), target);
    }
    EXPECT_EQ (target.loadFileAsString(), "processed");
    EXPECT_FALSE (files::mayWriteTo (target));

    // Another program saves to the name while the copy is made.
    {
        files::SaveTerms terms (target, true);
        PartialFile partial (target, why);
        CheckedFileOutputStream out (partial.getFile());
        out.write ("minutes of work", 15);
        out.close();
        ASSERT_TRUE (folder.dir.getChildFile ("theirs").replaceWithText ("theirs"));
        ASSERT_TRUE (folder.dir.getChildFile ("theirs").moveFileTo (target));
        ASSERT_TRUE (partial.moveInto (target, why)) << why;
        EXPECT_EQ (terms.placedAt(), folder.dir.getChildFile ("copy (2).wav"));
    }
    EXPECT_EQ (target.loadFileAsString(), "theirs");
    EXPECT_EQ (folder.dir.getChildFile ("copy (2).wav").loadFileAsString(), "minutes of work");
}
