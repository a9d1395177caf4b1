#include "ContainerSeeds.h"

#include "FuzzEnvironment.h"

#include "container/CCryptFile.h"
#include "container/CCryptFileCodes.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kVersionOffset = 40;
constexpr std::size_t kFlagsOffset = 58;
constexpr std::size_t kOwnerShareOffset = 59;
constexpr std::size_t kMultiplicandOffset = 338;

std::string pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    return bytes;
}

// A container with the given shares in order (the first is the owner's).
std::string makeContainer(const std::string& path, const std::string& plain, const std::vector<std::uint64_t>& keyIds)
{
    FuzzEnvironment::instance().resetKeyring();
    FuzzEnvironment::addOtherAccount();
    {
        std::uint32_t code = 0;
        CCryptFile container(path, CCryptFile::Create, 0, code);
        FUZZ_CHECK(code == CryptFileCode::Ok);
        for (const std::uint64_t keyId : keyIds) {
            const char* name =
                keyId == FuzzEnvironment::kTestKeyId ? FuzzEnvironment::kTestUser : FuzzEnvironment::kOtherUser;
            FUZZ_CHECK(container.AddShare(keyId, name) == CryptFileCode::Ok);
        }
        std::size_t written = 0;
        FUZZ_CHECK(container.Write(plain.data(), plain.size(), written) == CryptFileCode::Ok);
    }
    return FuzzEnvironment::readFile(path);
}

} // namespace

void ContainerSeeds::write(const std::string& folder)
{
    const std::uint64_t me = FuzzEnvironment::kTestKeyId;
    const std::uint64_t other = FuzzEnvironment::kOtherKeyId;
    const std::string scratch = FuzzEnvironment::instance().folder() + "seed.avlt";
    const auto seed = [&](const std::string& name, const std::string& bytes) {
        std::ofstream file(folder + name, std::ios::binary | std::ios::trunc);
        file << bytes;
        FUZZ_CHECK(file.good());
    };

    seed("empty.avlt", makeContainer(scratch, "", { me }));
    seed("one-byte.avlt", makeContainer(scratch, "x", { me }));
    seed("two-segments.avlt", makeContainer(scratch, pattern(5000), { me }));
    seed("five-segments.avlt", makeContainer(scratch, pattern(20000), { me }));
    seed("shared.avlt", makeContainer(scratch, pattern(300), { me, other }));
    seed("share-after-data.avlt", makeContainer(scratch, pattern(100), { other, me }));
    seed("not-mine.avlt", makeContainer(scratch, pattern(100), { other }));

    makeContainer(scratch, pattern(300), { me, other });
    {
        std::uint32_t code = 0;
        CCryptFile container(scratch, CCryptFile::Update, 0, code);
        FUZZ_CHECK(code == CryptFileCode::Ok);
        FUZZ_CHECK(container.RemoveShare(other) == CryptFileCode::Ok);
    }
    seed("removed-share.avlt", FuzzEnvironment::readFile(scratch));

    std::string named = makeContainer(scratch, pattern(700), { me });
    named[kFlagsOffset] = 1;
    const std::string name = "report.txt";
    named.insert(kOwnerShareOffset, std::string("\x02", 1) + char(3 + name.size()) + '\0' + name);
    seed("file-name.avlt", named);

    std::string version1 = makeContainer(scratch, pattern(5000), { me, other });
    version1[kVersionOffset] = 1;
    seed("version1.avlt", version1);

    std::string smallSegments = makeContainer(scratch, pattern(1000), { me });
    smallSegments[kMultiplicandOffset] = 2;
    seed("segments-512.avlt", smallSegments);
    std::filesystem::remove(scratch);
}
