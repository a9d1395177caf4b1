#pragma once

// StagedFile: a new version of a file, written beside it under a hidden
// temporary name and moved over it only when it is complete. Until commit()
// the target stays exactly as it was, whatever happens to the staging file;
// the staging file is removed when the object goes away uncommitted. commit()
// makes the contents durable before the rename, so a crash leaves either the
// old file or the complete new one, never a half-written target. A target
// that is a symbolic link is resolved first, so the link keeps pointing at the
// replaced file.
//
// Where the file system allows it the staging file has no name until
// commit() (O_TMPFILE), so a process killed while writing leaves nothing
// behind and the space is freed at once; path() then names the open file
// through /proc. Elsewhere it is a hidden file beside the target,
// ".NAME.avtmp-XXXXXXXX". Its writer holds an exclusive lock on it (flock) for
// as long as it lives. A killed writer's named file stays behind unlocked; the
// next staging in the same folder removes such leftovers, so interrupted runs
// do not pile up hidden files. A folder is looked through at most once every
// few seconds, which keeps vaulting thousands of files into one folder linear.

#include "files/FileHandle.h"

#include <string>
#include <vector>

class StagedFile
{
public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates an empty staging file in the target's folder, with the target's
    // permission bits when the target exists (otherwise the usual ones for a
    // new file). False when the folder does not take new files.
    bool create(const std::string& target);

    // Whether the target may be replaced: it is absent, or a regular file the
    // caller could open for writing.
    static bool canReplace(const std::string& target);

    // The staging file's path for opening it again (not for display).
    const std::string& path() const { return m_path; }
    const std::string& target() const { return m_target; }

    // Fills the staging file with a copy of `source` (the kernel copies; file
    // systems that share blocks share them).
    bool copyFrom(const std::string& source);

    // Flushes the staging file to disk and renames it over the target.
    bool commit();
    // The same, but only when no target exists; false (nothing moved) otherwise.
    bool commitIfAbsent();
    // Removes the staging file; true when it is gone.
    bool discard();

    // The leftover staging files in the folder of `target` (of any target
    // there) that no live writer holds, which create() removes.
    static std::vector<std::string> abandonedStagingFiles(const std::string& target);

private:
    static void removeAbandonedOnceInAWhile(const std::string& folder);
    static void removeAbandoned(const std::string& folder);
    bool createUnnamed(const std::string& folder);
    bool createNamed();
    void adopt(FileHandle file, const std::string& path, bool unnamed);
    bool nameUnnamed();
    void syncFolder() const;

    std::string m_target;
    std::string m_path;
    bool m_pending = false;
    bool m_unnamed = false; // no name in the folder yet; m_path is under /proc
    FileHandle m_lock; // the staging file, locked for as long as this object has it
};
