#include "files/FileTools.h"

#include "container/CCryptFile.h"
#include "container/CCryptFileCodes.h"
#include "crypto/AvEncrypt.h"
#include "files/ChunkPipeline.h"
#include "files/FileHandle.h"
#include "files/FileToolsCodes.h"
#include "files/StagedFile.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"

#include <algorithm>
#include <cryptopp/secblock.h>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kEndOfDataLow = 0x0065;

bool isFailure(std::uint32_t code)
{
    return FileToolsCode::isFailure(code);
}

bool cancelRequested(const FileTools::CancelFlag* cancel)
{
    return cancel && (cancel->load(std::memory_order_relaxed) & 1) != 0;
}

void setProgress(FileTools::Progress* progress, int value)
{
    if (progress)
        progress->store(value, std::memory_order_relaxed);
}

// Bytes done × (100 ÷ total), truncated; an empty file is done at once.
void reportProgress(FileTools::Progress* progress, std::uint64_t done, std::uint64_t total)
{
    if (!progress)
        return;
    const double percent = total == 0 ? 100.0 : double(done) * (100.0 / double(total));
    setProgress(progress, std::clamp(static_cast<int>(percent), 0, 100));
}

std::string hexCode(std::uint32_t code)
{
    std::ostringstream text;
    text << std::hex << code;
    return text.str();
}

bool canOpenForReading(const std::string& path)
{
    return FileHandle::open(path, O_RDONLY).isOpen();
}

bool sameFile(const struct stat& a, const std::string& path)
{
    struct stat b = {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file of at most one chunk needs no second thread and no full-size buffer
// (many small files are vaulted one after the other).
std::size_t chunkSizeFor(std::uint64_t size)
{
    return std::size_t(std::clamp<std::uint64_t>(size, 1, FileTools::ChunkSize));
}

// Finds the public key of every user, asking the key ring's key-server look-up
// for users it does not hold yet. Stops at the first user that cannot be
// found; `wanted` then holds the users found so far.
std::uint32_t collectShareKeys(const std::vector<std::string>& userNames, ShareNameList& wanted)
{
    AvKeyring& keyring = AvKeyring::instance();
    for (const std::string& user : userNames) {
        const AvKeyPublic* key = keyring.FindPublicKeyByUser(user);
        if (!key) {
            const std::string answer = keyring.LookupPublicKey(user);
            if (answer == "OK" || answer == "OK_FromCache") {
                key = keyring.FindPublicKeyByUser(user);
                if (!key) {
                    AV_LOG(AvLog::Error) << "AvFileTools - - Keyserver Key missing.";
                    return FileToolsCode::KeyMissing;
                }
            } else if (answer == "Denied") {
                AV_LOG(AvLog::Info) << "AvFileTools - - Keyserver Access Denied.";
                return FileToolsCode::ServerDenied;
            } else if (answer == "Error") {
                AV_LOG(AvLog::Error) << "AvFileTools - - Keyserver Error.";
                return FileToolsCode::ServerError;
            } else if (answer == "Err_NOID") {
                AV_LOG(AvLog::Error) << "AvFileTools - - Keyserver ID not found.";
                return FileToolsCode::UnknownUser;
            } else {
                AV_LOG(AvLog::Error) << "AvFileTools - - Keyserver Unknown Error: " << answer;
                return FileToolsCode::KeyMissing;
            }
        }
        wanted.emplace_back(user, key->keyId);
    }
    return 0;
}

// SetShares does not report a share it could not add; a share list that
// silently lacks a wanted user must not be written.
std::uint32_t checkSharesApplied(const CCryptFile& container, const ShareNameList& wanted)
{
    ShareNameList present;
    const std::uint32_t code = container.GetShares(present);
    if (isFailure(code))
        return code;
    for (const auto& [user, keyId] : wanted) {
        const bool found = std::any_of(
            present.begin(), present.end(), [keyId = keyId](const auto& share) { return share.second == keyId; });
        if (!found)
            return container.accessState() < CCryptFile::AccessFromShare ? CryptFileCode::NoFileKeyAccess
                                                                         : FileToolsCode::KeyMissing;
    }
    return 0;
}

} // namespace

std::uint32_t FileTools::EncryptFile(const std::string& plainPath, const std::string& containerPath, Progress* progress,
    const CancelFlag* cancel, bool removeSource)
{
    setProgress(progress, 0);
    FileHandle plain = FileHandle::open(plainPath, O_RDONLY);
    if (!plain.isOpen()) {
        AV_LOG(AvLog::Warning) << "AvFileTools - - No FileAccess on File: " << plainPath
                               << "ErrorCode: " << FileToolsCode::NoAccess;
        return FileToolsCode::NoAccess;
    }
    struct stat plainInfo = {};
    ::fstat(plain.fd(), &plainInfo);
    // Vaulting a file onto itself leaves no source to remove afterwards.
    const bool ontoItself = sameFile(plainInfo, containerPath);

    // The container is built under a staging name and only replaces an
    // existing file at the target once it is complete.
    StagedFile staged;
    if (!StagedFile::canReplace(containerPath) || !staged.create(containerPath)) {
        AV_LOG(AvLog::Warning) << "AvFileTools - - Problem during Creation of crypted File: "
                               << CryptFileCode::OpenFailed;
        return CryptFileCode::OpenFailed;
    }

    std::uint32_t code = 0;
    auto container = std::make_unique<CCryptFile>(staged.path(), CCryptFile::Create, 0, code);
    if (isFailure(code)) {
        AV_LOG(AvLog::Warning) << "AvFileTools - - Problem during Creation of crypted File: " << code;
        return code;
    }

    AvKeyring& keyring = AvKeyring::instance();
    code = container->AddShare(keyring.activeCryptKeyID, keyring.userName());
    if (isFailure(code)) {
        AV_LOG(AvLog::Error) << "AvFileTools - ERROR creating CryptFile: " << code;
        container.reset();
        return code;
    }

    const std::uint64_t total = plainInfo.st_size > 0 ? std::uint64_t(plainInfo.st_size) : 0;
    const std::size_t chunkSize = chunkSizeFor(total);
    // Reading (helper thread) runs ahead of encrypting (here), and the
    // container writes each run behind while the next one is encrypted: a
    // failure it meets is reported by the next Write or the Close, and the
    // staged container is then discarded. These three threads keep two CPUs
    // busy; splitting the encryption as well measured slower.
    container->setWriteBehind(true);
    container->setSplitRuns(false);
    std::uint64_t offered = 0; // read so far, on the reading side
    const auto readChunk = [&](ChunkPipeline::Chunk& chunk) {
        chunk.wanted = std::size_t(std::min<std::uint64_t>(chunkSize, total - offered));
        const ssize_t count = plain.readAll(chunk.bytes.data(), chunk.wanted);
        chunk.failed = count < 0;
        chunk.length = count > 0 ? std::size_t(count) : 0;
        offered += chunk.length;
        return !chunk.failed && chunk.length != 0 && chunk.length == chunk.wanted && offered < total;
    };
    std::uint64_t done = 0;
    bool cancelled = false;
    const auto vaultChunk = [&](ChunkPipeline::Chunk& chunk) {
        if (chunk.failed) {
            code = FileToolsCode::ReadFailed;
            return false;
        }
        std::size_t written = 0;
        code = container->Write(chunk.bytes.data(), chunk.length, written);
        if (isFailure(code))
            return false;
        done += chunk.length;
        reportProgress(progress, done, total);
        cancelled = cancelRequested(cancel);
        // A short or empty chunk is the end of the plain file (or of the
        // size it had when vaulting began).
        return !(chunk.length == 0 || chunk.length < chunk.wanted || done >= total || cancelled);
    };
    if (!ChunkPipeline::run(chunkSize, total > ChunkSize, ChunkPipeline::CallerRuns::Sink, readChunk, vaultChunk))
        code = CryptFileCode::OutOfMemory;

    if (!isFailure(code) && !cancelled) {
        const std::uint32_t closeCode = container->Close(false);
        if (isFailure(closeCode))
            code = closeCode;
    }
    container.reset();
    plain.close();

    if (cancelled)
        return code;
    if (isFailure(code))
        return code;
    if (!staged.commit()) {
        AV_LOG(AvLog::Error) << "AvFileTools - ERROR creating CryptFile: " << CryptFileCode::SegmentWrite;
        return CryptFileCode::SegmentWrite;
    }
    reportProgress(progress, total, total);
    if (!removeSource)
        return FileToolsCode::DoneKept;
    if (!ontoItself)
        ShredFileOnce(plainPath);
    return FileToolsCode::DoneRemoved;
}

std::uint32_t FileTools::DecryptFile(const std::string& containerPath, const std::string& targetPath,
    Progress* progress, const CancelFlag* cancel, bool removeSource)
{
    setProgress(progress, 0);
    std::uint32_t code = 0;
    auto container = std::make_unique<CCryptFile>(containerPath, CCryptFile::ReadOnly, 0, code);
    if (isFailure(code)) {
        AV_LOG(AvLog::Error) << "AvFileTools - - FileDecryption failed on " << containerPath
                             << "ErrorCode: " << hexCode(code);
        return code;
    }
    code = container->CanDecrypt();
    if (isFailure(code)) {
        AV_LOG(AvLog::Warning) << "AvFileTools - - FileDecryption failed on " << containerPath
                               << "with CryptID: " << AvKeyring::instance().activeCryptKeyID
                               << " ErrorCode: " << hexCode(code);
        return code;
    }
    std::uint64_t dataSize = 0;
    code = container->GetDataSize(dataSize);
    if (isFailure(code))
        return code;

    std::string target = targetPath;
    if (target.empty())
        container->PlainName(target);
    struct stat containerInfo = {};
    const bool ontoItself = ::stat(containerPath.c_str(), &containerInfo) == 0 && sameFile(containerInfo, target);

    StagedFile staged;
    if (!StagedFile::canReplace(target) || !staged.create(target))
        return FileToolsCode::NoAccess;
    FileHandle output = FileHandle::open(staged.path(), O_WRONLY | O_TRUNC);
    if (!output.isOpen())
        return FileToolsCode::NoAccess;

    // Decrypting (here) runs ahead of writing the plain file (helper thread).
    // With the copying in the kernel that keeps two CPUs busy, so the
    // container does not split its runs as well (that measured slower).
    container->setSplitRuns(false);
    // One byte more than the data lets a small file end with its first read.
    const std::size_t chunkSize = dataSize < ChunkSize ? chunkSizeFor(dataSize + 1) : ChunkSize;
    std::uint64_t total = 0;
    bool cancelled = false;
    const auto decryptChunk = [&](ChunkPipeline::Chunk& chunk) {
        std::size_t count = 0;
        code = container->Read(chunk.bytes.data(), chunkSize, count);
        total += count;
        chunk.wanted = chunkSize;
        if (isFailure(code))
            return false; // nothing of this chunk is written
        chunk.length = count;
        reportProgress(progress, total, dataSize);
        cancelled = cancelRequested(cancel);
        return count == chunkSize && !cancelled;
    };
    bool writeFailed = false;
    const auto writeChunk = [&](ChunkPipeline::Chunk& chunk) {
        if (chunk.length > 0 && !output.writeAll(chunk.bytes.data(), chunk.length)) {
            writeFailed = true;
            return false;
        }
        return true;
    };
    if (!ChunkPipeline::run(
            chunkSize, dataSize > ChunkSize, ChunkPipeline::CallerRuns::Source, decryptChunk, writeChunk))
        code = CryptFileCode::OutOfMemory;
    // Reading never gets ahead of a failed write by more than the chunks in
    // flight, and a failed read is never written: a write failure came first.
    if (writeFailed)
        code = FileToolsCode::WriteFailed;
    container.reset();
    if (!output.close() && !isFailure(code))
        code = FileToolsCode::WriteFailed;

    // The data ended early: either the container said so, or a read came
    // back short without saying anything.
    const bool endOfData = CryptFileCode::lowBits(code) == kEndOfDataLow;
    if (!isFailure(code) && total < dataSize && (endOfData || !cancelled)) {
        AV_LOG(AvLog::Error) << "AvFileTools - There was an unexpected end of file while decrypting the file "
                             << containerPath;
        // What could be read is kept, but never in place of an existing file.
        if (!staged.commitIfAbsent())
            staged.discard();
        return FileToolsCode::UnexpectedEnd;
    }
    if (isFailure(code)) {
        AV_LOG(AvLog::Error) << "AvFileTools - FileDecryption failed on " << containerPath
                             << "ErrorCode: " << hexCode(code);
        staged.discard();
        return code;
    }
    if (cancelled)
        return staged.discard() ? FileToolsCode::DoneRemoved : FileToolsCode::DoneKept;

    if (!staged.commit()) {
        code = FileToolsCode::WriteFailed;
        AV_LOG(AvLog::Error) << "AvFileTools - FileDecryption failed on " << containerPath
                             << "ErrorCode: " << hexCode(code);
        return code;
    }
    if (!removeSource || ontoItself)
        return FileToolsCode::DoneKept;
    return ShredFile(containerPath, 0) == FileToolsCode::DoneRemoved ? FileToolsCode::DoneRemoved
                                                                     : FileToolsCode::DoneKept;
}

bool FileTools::CanDecryptFile(const std::string& path, std::uint32_t& code)
{
    if (!canOpenForReading(path))
        return false;
    CCryptFile container(path, CCryptFile::ReadOnly, 0, code);
    if (isFailure(code))
        return false;
    code = container.CanDecrypt();
    return !isFailure(code);
}

std::string FileTools::UnvaultedName(const std::string& path)
{
    if (path.size() < 5 || !canOpenForReading(path))
        return {};
    return path.substr(0, path.size() - 5);
}

std::vector<std::string> FileTools::GetFileShares(const std::string& path)
{
    std::vector<std::string> users;
    if (!canOpenForReading(path))
        return users;
    std::uint32_t code = 0;
    CCryptFile container(path, CCryptFile::ReadOnly, 0, code);
    if (isFailure(code)) {
        AV_LOG(AvLog::Error) << "AvFileTools - - Error getting Shares of file: " << path
                             << " ErrorCode: " << hexCode(code);
        return users;
    }
    ShareNameList shares;
    container.GetShares(shares);
    for (auto& share : shares)
        users.push_back(std::move(share.first));
    return users;
}

std::uint32_t FileTools::SetFileShares(const std::string& path, const std::vector<std::string>& userNames)
{
    // A file that cannot be read is a failure, not "nothing to do".
    if (!canOpenForReading(path))
        return FileToolsCode::NoAccess;

    std::uint32_t code = 0;
    {
        // Checked before any key is looked up, as opening for update would:
        // the file must be a container this account may change.
        if (!StagedFile::canReplace(path))
            return CryptFileCode::OpenFailed;
        CCryptFile original(path, CCryptFile::ReadOnly, 0, code);
        if (isFailure(code))
            return code;
    }

    ShareNameList wanted;
    code = collectShareKeys(userNames, wanted);
    if (isFailure(code))
        return code;

    // The new share list is written into a copy, which replaces the container
    // only when complete: an interruption leaves the old list readable.
    StagedFile staged;
    if (!staged.create(path) || !staged.copyFrom(path))
        return CryptFileCode::OpenFailed;
    auto container = std::make_unique<CCryptFile>(staged.path(), CCryptFile::Update, 0, code);
    if (isFailure(code))
        return code;
    const std::uint32_t result = container->SetShares(wanted);
    if (isFailure(result))
        return result;
    code = checkSharesApplied(*container, wanted);
    if (isFailure(code))
        return code;
    // The same users in any order change nothing: the container stays untouched.
    if (container->dirtyFlags() == 0)
        return result;
    code = container->Close(false);
    if (isFailure(code))
        return code;
    container.reset();
    if (!staged.commit())
        return CryptFileCode::HeaderWrite;
    return result;
}

std::uint32_t FileTools::SetSharesOfFiles(
    const std::vector<std::string>& paths, const std::vector<std::string>& userNames)
{
    std::uint32_t result = 0;
    for (const std::string& path : paths)
        result = SetFileShares(path, userNames);
    return result;
}

std::uint32_t FileTools::ShredFile(const std::string& path, int passes, const ShredPassObserver& observer)
{
    FileHandle file = FileHandle::open(path, O_RDWR);
    if (!file.isOpen())
        return FileToolsCode::NoAccess;

    struct stat info = {};
    const std::uint64_t size = ::fstat(file.fd(), &info) == 0 && info.st_size > 0 ? std::uint64_t(info.st_size) : 0;
    const int passCount = std::clamp(passes, 0, MaxShredPasses);
    if (size > 0 && passCount > 0) {
        CryptoPP::SecByteBlock buffer(ChunkSize);
        for (int pass = 1; pass <= passCount; ++pass) {
            try {
                sharedRandom().GenerateBlock(buffer.data(), buffer.size());
            } catch (const CryptoPP::Exception&) {
                // Without fresh random bytes the pass repeats the last ones.
            }
            for (std::uint64_t offset = 0; offset < size; offset += ChunkSize) {
                const std::size_t piece = std::size_t(std::min<std::uint64_t>(ChunkSize, size - offset));
                if (!file.writeAllAt(buffer.data(), piece, off_t(offset)))
                    break;
            }
            // Each pass must reach the disk, or the cache folds them into one.
            ::fdatasync(file.fd());
            if (observer)
                observer(pass);
        }
    }
    file.close();
    if (::unlink(path.c_str()) != 0)
        return FileToolsCode::RemoveFailed;
    return FileToolsCode::DoneRemoved;
}

std::uint32_t FileTools::ShredFileOnce(const std::string& path)
{
    return ShredFile(path, 1);
}

std::uint32_t FileTools::ShredFiles(const std::vector<std::string>& paths)
{
    std::uint32_t result = 0;
    for (const std::string& path : paths)
        result = ShredFileOnce(path);
    return result;
}
