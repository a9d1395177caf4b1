#pragma once

// FileTools: the file-level operations on top of the container: vault a
// plain file into a new .avlt container shared with the signed-in account,
// unvault a container into a plain file, tell whether the signed-in account
// can open a container, list and replace the users a container is shared
// with, and shred files. Every operation opens its files, does its work,
// closes them and returns one 32-bit result code (FileToolsCode, or a
// container code passed through); nothing is kept between calls.
//
// Files are never changed in place: vaulting, unvaulting and share changes
// write a temporary file beside the target and rename it over the target only
// once it is complete, so a failure, a cancel or a crash leaves the old target
// exactly as it was. Long operations publish their progress (0 to 100, per
// 512 KiB chunk) and stop after the current chunk once bit 0 of the cancel
// flag is set; both pointers may be null, and the caller may read and set them
// from another thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class FileTools
{
public:
    using Progress = std::atomic<int>;
    using CancelFlag = std::atomic<std::uint8_t>;
    // Called after each overwrite pass of ShredFile with the pass number (from 1).
    using ShredPassObserver = std::function<void(int pass)>;

    static constexpr std::size_t ChunkSize = 512 * 1024;
    static constexpr int MaxShredPasses = 32;

    // Vaults `plainPath` into a container at `containerPath`, shared with the
    // signed-in account. 0x20050BBB when done and kept; with `removeSource`
    // the plain file is shredded once and the result is 0x20050BBA.
    static std::uint32_t EncryptFile(const std::string& plainPath, const std::string& containerPath, Progress* progress,
        const CancelFlag* cancel, bool removeSource);

    // Unvaults `containerPath` into `targetPath` (empty: the container path
    // without its last 5 characters). With `removeSource` the container is
    // removed after success (0x20050BBA).
    static std::uint32_t DecryptFile(const std::string& containerPath, const std::string& targetPath,
        Progress* progress, const CancelFlag* cancel, bool removeSource);

    // Whether the signed-in account can open the container; `code` receives
    // the container's answer.
    static bool CanDecryptFile(const std::string& path, std::uint32_t& code);

    // The path without its last 5 characters when the file can be opened for
    // reading, else empty.
    static std::string UnvaultedName(const std::string& path);

    // The user names the container is shared with, in share order; empty
    // when it cannot be read.
    static std::vector<std::string> GetFileShares(const std::string& path);

    // Replaces the users the container is shared with. Every user's public
    // key must be found (key ring, else the key ring's key-server look-up)
    // before anything changes.
    static std::uint32_t SetFileShares(const std::string& path, const std::vector<std::string>& userNames);
    // SetFileShares for each path; the result of the last one.
    static std::uint32_t SetSharesOfFiles(
        const std::vector<std::string>& paths, const std::vector<std::string>& userNames);

    // Overwrites the file min(passes, 32) times with random bytes, then
    // deletes it (0 passes: only deletes). 0x20050BBA when it is gone.
    static std::uint32_t ShredFile(const std::string& path, int passes, const ShredPassObserver& observer = {});
    static std::uint32_t ShredFileOnce(const std::string& path);
    // ShredFileOnce for each path; the result of the last one.
    static std::uint32_t ShredFiles(const std::vector<std::string>& paths);
};
