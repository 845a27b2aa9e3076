#include <gtest/gtest.h>
#include "ClarivoTempFolder.h"

#include <set>
#include <sys/stat.h>

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
