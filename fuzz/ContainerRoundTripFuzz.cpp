// Container round trip: a container the reader accepts completely (it opens,
// the test account can decrypt it and every byte of its data can be read) is
// opened for update, given a share change (a second account's share added, or
// removed when it is there) and closed. Read again, it must open with the
// same shares, changed by exactly that one share, and the same contents. The
// only refusal allowed is a header area the writer cannot rebuild at its old
// length, and then the file must be untouched.

#include "FuzzEnvironment.h"

#include "ContainerSeeds.h"
#include "container/CCryptFile.h"
#include "container/CCryptFileCodes.h"
#include "util/AvStrings.h"

#include <algorithm>
#include <optional>
#include <string>

namespace {

constexpr std::uint64_t kOtherKeyId = FuzzEnvironment::kOtherKeyId;
constexpr const char* kOtherUser = FuzzEnvironment::kOtherUser;

struct Snapshot
{
    ShareNameList shares;
    std::string plain;
};

// Everything a reader sees, or nothing when the container is not fully readable.
std::optional<Snapshot> readCompletely(const std::string& path, std::size_t fileSize)
{
    std::uint32_t code = 0;
    CCryptFile container(path, CCryptFile::ReadOnly, 0, code);
    if (code != CryptFileCode::Ok || container.CanDecrypt() != CryptFileCode::Ok)
        return std::nullopt;
    std::uint64_t dataSize = 0;
    if (container.GetDataSize(dataSize) != CryptFileCode::Ok || dataSize > fileSize)
        return std::nullopt;
    Snapshot snapshot;
    snapshot.plain.assign(std::size_t(dataSize), '\0');
    std::size_t count = 0;
    container.Read(snapshot.plain.data(), snapshot.plain.size(), count);
    if (count != dataSize || container.GetShares(snapshot.shares) != CryptFileCode::Ok)
        return std::nullopt;
    return snapshot;
}

bool hasShare(const ShareNameList& shares, std::uint64_t keyId)
{
    return std::any_of(shares.begin(), shares.end(), [&](const auto& share) { return share.second == keyId; });
}

// The shares as a sorted list, for comparing without regard to slot order.
ShareNameList sorted(ShareNameList shares)
{
    std::sort(shares.begin(), shares.end());
    return shares;
}

} // namespace

void fuzzOneInput(FuzzInput input)
{
    const FuzzEnvironment& environment = FuzzEnvironment::instance();
    environment.resetKeyring();
    FuzzEnvironment::addOtherAccount();
    const std::string path = environment.writeFile("roundtrip.avlt", input);
    const std::optional<Snapshot> before = readCompletely(path, input.size());
    if (!before)
        return;

    ShareNameList expected = before->shares;
    const bool removing = hasShare(expected, kOtherKeyId);
    {
        std::uint32_t code = 0;
        CCryptFile container(path, CCryptFile::Update, 0, code);
        FUZZ_CHECK_CODE(code, CryptFileCode::Ok);
        if (removing) {
            FUZZ_CHECK_CODE(container.RemoveShare(kOtherKeyId), CryptFileCode::Ok);
            // The first live share of the id goes; a second one of the same id stays.
            expected.erase(std::find_if(
                expected.begin(), expected.end(), [](const auto& share) { return share.second == kOtherKeyId; }));
        } else {
            const std::uint32_t added = container.AddShare(kOtherKeyId, kOtherUser);
            if (added != CryptFileCode::Ok)
                return; // e.g. an id that is already in the file as a deleted slot
            expected.emplace_back(normalizeUserName(kOtherUser), kOtherKeyId);
        }
        const std::uint32_t closed = container.Close(false);
        if (closed == CryptFileCode::HeaderAssembly) {
            // A header area the writer cannot rebuild at its length (an info
            // packet of another length, say) is refused, and the file stays as it was.
            FUZZ_CHECK(FuzzEnvironment::readFile(path)
                == std::string(reinterpret_cast<const char*>(input.data()), input.size()));
            return;
        }
        FUZZ_CHECK_CODE(closed, CryptFileCode::Ok);
    }

    environment.resetKeyring();
    const std::string rewritten = FuzzEnvironment::readFile(path);
    const std::optional<Snapshot> after = readCompletely(path, rewritten.size());
    FUZZ_CHECK(after.has_value());
    FUZZ_CHECK(after->plain == before->plain);
    FUZZ_CHECK(sorted(after->shares) == sorted(expected));
}

void fuzzMakeSeeds(const std::string& folder)
{
    ContainerSeeds::write(folder);
}
