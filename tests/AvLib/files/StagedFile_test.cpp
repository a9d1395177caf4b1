// Staging files: a process killed while writing may leave a hidden staging
// file behind; the next staging in the same folder removes it, while staging
// files a live writer holds and files with other names stay. Committing moves
// the complete file into place, or (if absent only) never over an existing one.

#include "files/StagedFile.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class StagedFileTest : public AvTempHome
{
protected:
    std::string path(const std::string& name) const { return home() + "/" + name; }
    void touch(const std::string& name) const { ASSERT_TRUE(writeWholeFile(path(name), "left over")); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
};

TEST_F(StagedFileTest, AbandonedStagingFilesInTheFolderAreRemovedByTheNextStaging)
{
    touch(".report.txt.avlt.avtmp-abcd1234");
    touch(".report.txt.avlt.avtmp-00000000");
    touch(".other.txt.avlt.avtmp-abcd1234"); // another target's
    touch(".report.txt.avlt.avtmp-ABCD1234"); // not a name the program makes
    touch(".report.txt.avlt.avtmp-abc"); // too short
    touch("report.txt.avlt.avtmp-abcd1234"); // not hidden

    StagedFile staged;
    ASSERT_TRUE(staged.create(path("report.txt.avlt")));

    EXPECT_FALSE(exists(".report.txt.avlt.avtmp-abcd1234"));
    EXPECT_FALSE(exists(".report.txt.avlt.avtmp-00000000"));
    EXPECT_FALSE(exists(".other.txt.avlt.avtmp-abcd1234"));
    EXPECT_TRUE(exists(".report.txt.avlt.avtmp-ABCD1234"));
    EXPECT_TRUE(exists(".report.txt.avlt.avtmp-abc"));
    EXPECT_TRUE(exists("report.txt.avlt.avtmp-abcd1234"));
    EXPECT_TRUE(std::filesystem::exists(staged.path()));
}

TEST_F(StagedFileTest, AWriterKilledMidWayLeavesNothingAfterTheNextStaging)
{
    ASSERT_TRUE(writeWholeFile(path("photo.jpg.avlt"), "old container"));
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        StagedFile staged;
        if (!staged.create(path("photo.jpg.avlt")) || !writeWholeFile(staged.path(), std::string(100000, 'x')))
            ::_exit(1);
        ::_exit(0); // dies without cleaning up, as a killed process would
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    StagedFile next;
    ASSERT_TRUE(next.create(path("photo.jpg.avlt")));
    ASSERT_TRUE(next.discard());
    EXPECT_EQ(readWholeFile(path("photo.jpg.avlt")), "old container");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home()), std::filesystem::directory_iterator()), 1);
}

TEST_F(StagedFileTest, CommitReplacesTheTargetKeepingItsMode)
{
    ASSERT_TRUE(writeWholeFile(path("notes.txt"), "old"));
    ASSERT_EQ(::chmod(path("notes.txt").c_str(), 0640), 0);
    StagedFile staged;
    ASSERT_TRUE(staged.create(path("notes.txt")));
    ASSERT_TRUE(writeWholeFile(staged.path(), "new"));
    EXPECT_EQ(readWholeFile(path("notes.txt")), "old"); // untouched until the commit
    ASSERT_TRUE(staged.commit());

    EXPECT_EQ(readWholeFile(path("notes.txt")), "new");
    struct stat info = {};
    ASSERT_EQ(::stat(path("notes.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home()), std::filesystem::directory_iterator()), 1);
}

TEST_F(StagedFileTest, CommitIfAbsentNeverReplacesAnExistingTarget)
{
    struct Case
    {
        bool targetExists;
        bool committed;
        const char* afterwards;
    };
    for (const Case& c : { Case{ false, true, "partial" }, Case{ true, false, "complete" } }) {
        SCOPED_TRACE(c.targetExists);
        std::filesystem::remove(path("movie.mp4"));
        if (c.targetExists) {
            ASSERT_TRUE(writeWholeFile(path("movie.mp4"), "complete"));
        }
        StagedFile staged;
        ASSERT_TRUE(staged.create(path("movie.mp4")));
        ASSERT_TRUE(writeWholeFile(staged.path(), "partial"));
        EXPECT_EQ(staged.commitIfAbsent(), c.committed);
        ASSERT_TRUE(staged.discard());
        EXPECT_EQ(readWholeFile(path("movie.mp4")), c.afterwards);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home()), std::filesystem::directory_iterator()), 1);
    }
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
