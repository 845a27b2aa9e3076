#include <gtest/gtest.h>
#include "app/document/ClarivoTempFolder.h"
#include "platform/media/MediaFileOutput.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
int modeOf (const juce::File& file)
{
    struct stat info {};
    return ::stat (file.getFullPathName().toRawUTF8(), &info) == 0 ? (int) (info.st_mode & 07777) : -1;
}
} // namespace

TEST (ClarivoTempFolder, APrivateFolderOfNewFilesThatRemoveAllClears)
{
    ClarivoTempFolder::removeAll();
    const auto folder = ClarivoTempFolder::get();
    ASSERT_TRUE (folder.isDirectory());
    EXPECT_EQ (folder.getParentDirectory(), juce::File::getSpecialLocation (juce::File::tempDirectory));
    EXPECT_TRUE (folder.getFileName().startsWith ("clarivo-"));
    EXPECT_EQ (modeOf (folder), 0700);
    EXPECT_EQ (ClarivoTempFolder::get(), folder);

    // Each file is new and empty even after the ones before were written.
    std::set<juce::String> names;
    for (int i = 0; i < 200; ++i)
    {
        const auto file = ClarivoTempFolder::createTempFile ("TempCleanAudioP.wav");
        ASSERT_EQ (file.getParentDirectory(), folder);
        EXPECT_TRUE (file.getFileName().endsWith ("TempCleanAudioP.wav"));
        EXPECT_EQ (file.getSize(), 0);
        EXPECT_EQ (modeOf (file), 0600);
        EXPECT_TRUE (names.insert (file.getFileName()).second) << file.getFileName();
        file.replaceWithText ("used");
    }
    EXPECT_EQ (ClarivoTempFolder::createTempFile ("/../escape.wav"), juce::File());
    folder.getChildFile ("sub").getChildFile ("deep.wav").create();

    ClarivoTempFolder::removeAll();
    EXPECT_FALSE (folder.exists());
    const auto next = ClarivoTempFolder::get();
    EXPECT_TRUE (next.isDirectory());
    EXPECT_NE (next, folder);

    // A folder that anyone may enter is no longer taken for ours.
    ASSERT_EQ (::chmod (next.getFullPathName().toRawUTF8(), 0755), 0);
    const auto third = ClarivoTempFolder::get();
    EXPECT_NE (third, next);
    EXPECT_EQ (modeOf (third), 0700);
    next.deleteRecursively();
    ClarivoTempFolder::removeAll();
    EXPECT_FALSE (third.exists());
}

TEST (ClarivoTempFolder, SharedCopiesGoIntoAFolderOfOursThatOutlivesTheRunForADay)
{
    const char* savedTemp = std::getenv ("TMPDIR");
    const juce::String saved = savedTemp != nullptr ? savedTemp : "";
    const auto temp = juce::File::createTempFile ("-share-temp");
    ASSERT_TRUE (temp.createDirectory());
    ::setenv ("TMPDIR", temp.getFullPathName().toRawUTF8(), 1);
    const auto usual = temp.getChildFile ("clarivo.share." + juce::String ((int) ::geteuid()));

    // A name the per-run clean-up never takes for one of its folders.
    const auto folder = ClarivoTempFolder::shareFolder();
    EXPECT_EQ (folder, usual);
    EXPECT_FALSE (folder.getFileName().matchesWildcard ("clarivo-*-??????", false));
    EXPECT_EQ (modeOf (folder), 0700);
    ClarivoTempFolder::removeAll();
    EXPECT_TRUE (folder.isDirectory());

    // Each name once, never through a link planted under it.
    const auto createSharedFile = [] (const juce::String& name)
    {
        const auto file = ClarivoTempFolder::shareFolder().getChildFile (name);
        juce::String why;
        namespace files = clarivo::media::detail;
        return files::writeWholeFile (file, "copy", 4, files::IfTaken::fail, why) == 0 ? file : juce::File();
    };
    const auto copy = createSharedFile ("song-1.mp3");
    EXPECT_EQ (copy, folder.getChildFile ("song-1.mp3"));
    EXPECT_EQ (createSharedFile ("song-1.mp3"), juce::File());
    const auto victim = temp.getChildFile ("victim");
    victim.replaceWithText ("keep");
    ASSERT_TRUE (victim.createSymbolicLink (folder.getChildFile ("song-2.mp3"), false));
    EXPECT_EQ (createSharedFile ("song-2.mp3"), juce::File());
    EXPECT_EQ (victim.loadFileAsString(), "keep");

    // At start-up, copies older than a day go; newer ones and what a link
    // points at stay.
    const auto old = createSharedFile ("song-4.mp3");
    const auto now = juce::Time::getCurrentTime();
    old.setLastModificationTime (now - juce::RelativeTime::hours (25));
    copy.setLastModificationTime (now - juce::RelativeTime::hours (23));
    ClarivoTempFolder::removeSharedCopiesOlderThan (now - juce::RelativeTime::days (1));
    EXPECT_FALSE (old.exists());
    EXPECT_TRUE (copy.existsAsFile());
    EXPECT_TRUE (victim.existsAsFile());

    // Somebody else's folder (or link) under our name is never used: a
    // fresh folder of ours takes its place.
    folder.deleteRecursively();
    for (const bool asLink : { false, true })
    {
        SCOPED_TRACE (asLink ? "a link" : "an open folder");
        const auto theirs = temp.getChildFile ("theirs");
        theirs.createDirectory();
        if (asLink)
            ASSERT_TRUE (theirs.createSymbolicLink (usual, false));
        else
            ASSERT_EQ (::mkdir (usual.getFullPathName().toRawUTF8(), 0755), 0);
        ASSERT_EQ (::chmod (asLink ? theirs.getFullPathName().toRawUTF8() : usual.getFullPathName().toRawUTF8(), asLink ? 0700 : 0755), 0);
        const auto fallback = ClarivoTempFolder::shareFolder();
        EXPECT_NE (fallback, usual);
        EXPECT_EQ (fallback.getParentDirectory(), temp);
        EXPECT_TRUE (fallback.getFileName().startsWith (usual.getFileName() + "."));
        EXPECT_EQ (modeOf (fallback), 0700);
        EXPECT_EQ (createSharedFile (asLink ? "y.wav" : "x.wav").getParentDirectory(), fallback);
        EXPECT_EQ (theirs.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
        usual.deleteFile();
        theirs.deleteRecursively();
    }

    ::setenv ("TMPDIR", saved.toRawUTF8(), 1);
    if (savedTemp == nullptr)
        ::unsetenv ("TMPDIR");
    temp.deleteRecursively();
}

namespace
{
// Another run of ours that is alive though its pid means nothing here (one
// in another PID namespace): a process holding the folder's marker locked.
struct LiveRunElsewhere
{
    pid_t pid = -1;
    explicit LiveRunElsewhere (const juce::File& marker)
    {
        const auto path = marker.getFullPathName().toStdString();
        int ready[2];
        if (::pipe (ready) != 0)
            return;
        pid = ::fork();
        if (pid == 0)
        {
            // Only system calls between fork and exit.
            const int fd = ::open (path.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char held = fd >= 0 && ::fcntl (fd, F_OFD_SETLK, &lock) == 0 ? 'y' : 'n';
            [[maybe_unused]] const auto written = ::write (ready[1], &held, 1);
            for (;;)
                ::pause();
        }
        char held = 'n';
        ::close (ready[1]);
        if (pid < 0 || ::read (ready[0], &held, 1) != 1 || held != 'y')
            ADD_FAILURE() << "no child holds the marker";
        ::close (ready[0]);
    }
    ~LiveRunElsewhere()
    {
        if (pid > 0)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }
    }
};
} // namespace

TEST (ClarivoTempFolder, ACleanUpTakesOnlyRunFoldersWhoseRunIsGoneAndNeverFollowsALink)
{
    const char* savedTemp = std::getenv ("TMPDIR");
    const juce::String saved = savedTemp != nullptr ? savedTemp : "";
    const auto temp = juce::File::createTempFile ("-run-temp");
    const auto outside = juce::File::createTempFile ("-outside");
    ASSERT_TRUE (temp.createDirectory() && outside.createDirectory());
    ::setenv ("TMPDIR", temp.getFullPathName().toRawUTF8(), 1);
    ClarivoTempFolder::removeAll();
    const auto ours = ClarivoTempFolder::get();
    ASSERT_EQ (ours.getParentDirectory(), temp);

    const auto privateFolder = [&] (const juce::String& name, bool marked)
    {
        const auto folder = temp.getChildFile (name);
        EXPECT_TRUE (folder.createDirectory());
        ::chmod (folder.getFullPathName().toRawUTF8(), 0700);
        if (marked)
            folder.getChildFile (ClarivoTempFolder::runMarkerName).replaceWithText ("");
        return folder;
    };
    // The user's own folders, named like ours by chance; one even holds a
    // file called like our marker.
    const auto export2023 = privateFolder ("clarivo-2023-export", false), backup = privateFolder ("clarivo-31337-backup", false);
    const auto notAPid = privateFolder ("clarivo-123abc-a1B2c3", true);
    ASSERT_TRUE (export2023.getChildFile ("mixes/final.txt").create());
    ASSERT_TRUE (backup.getChildFile ("notes.txt").replaceWithText ("mine"));
    // A run folder of an older Clarivo without a marker is not provably ours either.
    const auto unmarked = privateFolder ("clarivo-999999997-a1B2c3", false);
    // A run alive elsewhere, whose pid is not alive here.
    const auto alive = privateFolder ("clarivo-999999998-a1B2c3", false);
    LiveRunElsewhere elsewhere (alive.getChildFile (ClarivoTempFolder::runMarkerName));

    // A dead run's folder, with links out and a folder that is swapped for
    // a link while the clean-up walks it.
    const auto dead = privateFolder ("clarivo-999999999-a1B2c3", true);
    const auto victim = outside.getChildFile ("victim.wav"), victimFolder = outside.getChildFile ("folder");
    victim.replaceWithText ("the user's");
    ASSERT_TRUE (victimFolder.createDirectory() && victimFolder.getChildFile ("inside.wav").replaceWithText ("the user's"));
    ASSERT_TRUE (victim.createSymbolicLink (dead.getChildFile ("link.wav"), false));
    ASSERT_TRUE (victimFolder.createSymbolicLink (dead.getChildFile ("linked"), false));
    ASSERT_TRUE (dead.getChildFile ("swapped/deep/x.partial").create());
    ASSERT_TRUE (dead.getChildFile ("tmp-x1TempCleanAudio.wav").replaceWithText ("left"));
    const auto moved = outside.getChildFile ("moved");
    int swaps = 0;
    clarivo::media::detail::setTreeWalkHook ([&] (int dirFd, const char* name)
    {
        if (juce::String (name) == "swapped" && swaps++ == 0)
        {
            EXPECT_EQ (::renameat (dirFd, name, AT_FDCWD, moved.getFullPathName().toRawUTF8()), 0);
            EXPECT_EQ (::symlinkat (moved.getFullPathName().toRawUTF8(), dirFd, name), 0);
        }
    });

    EXPECT_EQ (ClarivoTempFolder::ownFolders(), juce::Array<juce::File> ({ ours, dead }));
    ClarivoTempFolder::removeDeadFolders();
    clarivo::media::detail::setTreeWalkHook ({});

    EXPECT_EQ (swaps, 1);
    EXPECT_FALSE (dead.exists());
    EXPECT_TRUE (export2023.getChildFile ("mixes/final.txt").existsAsFile());
    EXPECT_EQ (backup.getChildFile ("notes.txt").loadFileAsString(), "mine");
    EXPECT_TRUE (notAPid.getChildFile (ClarivoTempFolder::runMarkerName).existsAsFile());
    EXPECT_TRUE (unmarked.isDirectory());
    EXPECT_TRUE (alive.getChildFile (ClarivoTempFolder::runMarkerName).existsAsFile());
    EXPECT_TRUE (ours.isDirectory());
    EXPECT_EQ (victim.loadFileAsString(), "the user's");
    EXPECT_EQ (victimFolder.getChildFile ("inside.wav").loadFileAsString(), "the user's");
    EXPECT_TRUE (moved.getChildFile ("deep/x.partial").existsAsFile());

    ClarivoTempFolder::removeAll();
    EXPECT_FALSE (ours.exists());
    ::setenv ("TMPDIR", saved.toRawUTF8(), 1);
    if (savedTemp == nullptr)
        ::unsetenv ("TMPDIR");
    temp.deleteRecursively();
    outside.deleteRecursively();
}
