// Leftover staging files: a process killed while writing leaves its hidden
// staging file behind; the next staging of the same target removes it, while
// staging files a live writer holds and files of other targets or names stay.

#include "files/StagedFile.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class StagedFileTest : public AvTempHome
{
protected:
    std::string path(const std::string& name) const { return home() + "/" + name; }
    void touch(const std::string& name) const { ASSERT_TRUE(writeWholeFile(path(name), "left over")); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
};

TEST_F(StagedFileTest, AbandonedStagingFilesOfTheTargetAreRemovedByTheNextStaging)
{
    touch(".report.txt.avlt.avtmp-abcd1234");
    touch(".report.txt.avlt.avtmp-00000000");
    touch(".other.txt.avlt.avtmp-abcd1234"); // another target
    touch(".report.txt.avlt.avtmp-ABCD1234"); // not a name the program makes
    touch(".report.txt.avlt.avtmp-abc"); // too short

    StagedFile staged;
    ASSERT_TRUE(staged.create(path("report.txt.avlt")));

    EXPECT_FALSE(exists(".report.txt.avlt.avtmp-abcd1234"));
    EXPECT_FALSE(exists(".report.txt.avlt.avtmp-00000000"));
    EXPECT_TRUE(exists(".other.txt.avlt.avtmp-abcd1234"));
    EXPECT_TRUE(exists(".report.txt.avlt.avtmp-ABCD1234"));
    EXPECT_TRUE(exists(".report.txt.avlt.avtmp-abc"));
    EXPECT_TRUE(std::filesystem::exists(staged.path()));
}

TEST_F(StagedFileTest, StagingFileOfALiveWriterIsLeftAlone)
{
    StagedFile first;
    ASSERT_TRUE(first.create(path("report.txt.avlt")));
    EXPECT_TRUE(StagedFile::abandonedStagingFiles(path("report.txt.avlt")).empty());

    StagedFile second;
    ASSERT_TRUE(second.create(path("report.txt.avlt")));
    EXPECT_TRUE(std::filesystem::exists(first.path()));
    EXPECT_TRUE(first.commit());
    EXPECT_TRUE(second.discard());
    EXPECT_TRUE(exists("report.txt.avlt"));
}

TEST_F(StagedFileTest, DiscardedStagingLeavesNothingBehind)
{
    {
        StagedFile staged;
        ASSERT_TRUE(staged.create(path("notes.txt")));
    }
    EXPECT_TRUE(StagedFile::abandonedStagingFiles(path("notes.txt")).empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home()), std::filesystem::directory_iterator()), 0);
}

} // namespace
