// Container reader: any bytes as an .avlt file. Opening, the share list, the
// signature check and reading all contents must end in result codes, never in
// a crash, a hang or an allocation the file does not justify. Reading is
// checked against itself: pieces read after a seek equal the same bytes of
// the sequential read, and nothing is delivered beyond the data size or the
// bytes the file holds. A container opened for update and closed without a
// change keeps every byte.

#include "ContainerSeeds.h"
#include "FuzzEnvironment.h"

#include "container/CCryptFile.h"
#include "container/CCryptFileCodes.h"

#include <algorithm>
#include <string>

namespace {

// Reads from the current position to the end of the data, in pieces of
// varying sizes so aligned, unaligned and multi-segment reads all occur.
std::string readToEnd(CCryptFile& container, std::uint64_t limit)
{
    static constexpr std::size_t pieceSizes[] = { 4096, 1, 5000, 16, 70000, 4095, 300000 };
    std::string plain;
    for (std::size_t turn = 0; plain.size() < limit; ++turn) {
        const std::size_t want =
            std::min<std::uint64_t>(pieceSizes[turn % std::size(pieceSizes)], limit - plain.size());
        std::string piece(want, '\0');
        std::size_t count = 0;
        const std::uint32_t code = container.Read(piece.data(), piece.size(), count);
        FUZZ_CHECK(count <= want);
        plain.append(piece, 0, count);
        if (count == 0 || CryptFileCode::lowBits(code) != 0)
            break;
    }
    return plain;
}

void readEverything(const std::string& path, std::size_t fileSize)
{
    std::uint32_t code = 0;
    CCryptFile container(path, CCryptFile::ReadOnly, 0, code);
    if (code != CryptFileCode::Ok)
        return;

    ShareNameList shares;
    container.GetShares(shares);
    for (std::size_t i = 0; i <= container.shareList().size(); ++i) {
        std::string name;
        container.ShareName(i, name);
    }
    std::string plainName;
    container.PlainName(plainName);
    container.CheckSignature();
    const bool canDecrypt = container.CanDecrypt() == CryptFileCode::Ok;

    std::uint64_t dataSize = 0;
    container.GetDataSize(dataSize);
    // The plain text can never be longer than the file that holds it.
    const std::uint64_t limit = std::min<std::uint64_t>(dataSize, fileSize);
    const std::string plain = readToEnd(container, limit + 1);
    FUZZ_CHECK(plain.size() <= limit);
    if (!plain.empty())
        FUZZ_CHECK(canDecrypt);

    // Random access agrees with the sequential read.
    for (const std::uint64_t at : { plain.size() / 2, plain.size() / 3 + 4090, std::uint64_t(plain.size()) }) {
        if (container.Seek(std::int64_t(at), CCryptFile::FromStart) != CryptFileCode::Ok)
            continue;
        std::string piece(4200, '\0');
        std::size_t count = 0;
        container.Read(piece.data(), piece.size(), count);
        if (at > plain.size()) {
            FUZZ_CHECK(count == 0); // a read-only container stops at the end
            continue;
        }
        FUZZ_CHECK(count <= plain.size() - at);
        FUZZ_CHECK(plain.compare(std::size_t(at), count, piece, 0, count) == 0);
    }
    container.Seek(-1, CCryptFile::FromEnd);
    container.Seek(std::int64_t(1) << 62, CCryptFile::FromCurrent);
}

void openForUpdateWithoutChange(const std::string& path, const std::string& before)
{
    {
        std::uint32_t code = 0;
        CCryptFile container(path, CCryptFile::Update, CCryptFile::QuietBrokenShares, code);
    }
    FUZZ_CHECK(FuzzEnvironment::readFile(path) == before);
}

} // namespace

void fuzzOneInput(FuzzInput input)
{
    const FuzzEnvironment& environment = FuzzEnvironment::instance();
    environment.resetKeyring();
    const std::string path = environment.writeFile("input.avlt", input);
    CCryptFile::CheckFileSignature(path);
    readEverything(path, input.size());
    environment.resetKeyring();
    openForUpdateWithoutChange(path, std::string(reinterpret_cast<const char*>(input.data()), input.size()));
}

void fuzzMakeSeeds(const std::string& folder)
{
    ContainerSeeds::write(folder);
}
