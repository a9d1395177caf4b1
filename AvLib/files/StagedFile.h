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
// While a staging file is in use its writer holds an exclusive lock on it
// (flock). A process killed while writing leaves its staging file behind
// unlocked; the next StagedFile for the same target removes such leftovers, so
// interrupted runs do not pile up hidden files.

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

    // The leftover staging files of `target` (".NAME.avtmp-XXXXXXXX" beside it)
    // that no live writer holds, which create() removes.
    static std::vector<std::string> abandonedStagingFiles(const std::string& target);

private:
    static void removeAbandoned(const std::string& target);
    bool syncStaging() const;
    void syncFolder() const;

    std::string m_target;
    std::string m_path;
    bool m_pending = false;
    FileHandle m_lock; // the staging file, locked for as long as this object has it
};
