#include <gtest/gtest.h>
#include "app/document/ClarivoTempFolder.h"

#include <cstdlib>
#include <set>
#include <sys/stat.h>
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
    const auto copy = ClarivoTempFolder::createSharedFile ("song-1.mp3");
    EXPECT_EQ (copy, folder.getChildFile ("song-1.mp3"));
    EXPECT_EQ (copy.getSize(), 0);
    EXPECT_EQ (modeOf (copy), 0600);
    EXPECT_EQ (ClarivoTempFolder::createSharedFile ("song-1.mp3"), juce::File());
    const auto victim = temp.getChildFile ("victim");
    victim.replaceWithText ("keep");
    ASSERT_TRUE (victim.createSymbolicLink (folder.getChildFile ("song-2.mp3"), false));
    EXPECT_EQ (ClarivoTempFolder::createSharedFile ("song-2.mp3"), juce::File());
    EXPECT_EQ (victim.loadFileAsString(), "keep");
    EXPECT_EQ (ClarivoTempFolder::createSharedFile ("../song-3.mp3"), juce::File());

    // At start-up, copies older than a day go; newer ones and what a link
    // points at stay.
    const auto old = ClarivoTempFolder::createSharedFile ("song-4.mp3");
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
        EXPECT_EQ (ClarivoTempFolder::createSharedFile (asLink ? "y.wav" : "x.wav").getParentDirectory(), fallback);
        EXPECT_EQ (theirs.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
        usual.deleteFile();
        theirs.deleteRecursively();
    }

    ::setenv ("TMPDIR", saved.toRawUTF8(), 1);
    if (savedTemp == nullptr)
        ::unsetenv ("TMPDIR");
    temp.deleteRecursively();
}
