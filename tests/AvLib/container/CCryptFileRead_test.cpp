// Opening and reading containers: damaged files with their result codes and
// log lines, shares that cannot be opened, reading in pieces, recognition.

#include "CryptFileTest.h"

#include "container/CCryptFileCodes.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class CCryptFileRead : public CryptFileTest
{
};

// ---- damaged files ---------------------------------------------------------------

struct DamageCase
{
    const char* name;
    std::function<void(std::string&)> damage;
    std::uint32_t code;
    const char* logLine; // "%s" stands for the path; empty: nothing is logged
};

void cut(std::string& bytes, std::size_t length)
{
    bytes.resize(length);
}

const DamageCase damageCases[] = {
    { "EmptyFile", [](std::string& b) { b.clear(); }, CryptFileCode::UnexpectedEnd, "" },
    { "OnlyInfoTag", [](std::string& b) { b = "\x20"; }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at info(1,0)." },
    { "BannerCut", [](std::string& b) { cut(b, 20); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at info(1,10)." },
    { "InfoLengthTwo", [](std::string& b) { b[1] = 2; }, CryptFileCode::InfoCorrupt,
        "ERROR   Info header is corrupt in file %s" },
    { "HeaderCutInKeyId", [](std::string& b) { cut(b, 45); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at header(1,4)." },
    { "EndsAfterHeader", [](std::string& b) { cut(b, 59); }, CryptFileCode::UnexpectedEnd,
        "ERROR   Unexpected end of file while reading packets from %s. This may come from a truncated or corrupted "
        "avlt file." },
    { "UnknownTagAt59", [](std::string& b) { b[59] = 0x07; }, CryptFileCode::UnknownPacket,
        "ERROR   Unexpected packet 0x7 at position 0x3b in file %s" },
    { "OwnerShareCutInName", [](std::string& b) { cut(b, 200); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at share(1,5)." },
    { "OwnerShareCutInKey", [](std::string& b) { cut(b, 300); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at share(1,6)." },
    { "EndsAfterOwnerShare", [](std::string& b) { cut(b, 329); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at share(1,0)." },
    { "NameFieldLengthZero", [](std::string& b) { b[71] = 0; }, CryptFileCode::CorruptSize,
        "ERROR   The file %s could not be read because it is corrupted at share(1,4)" },
    { "ShareShorterThanItsName", [](std::string& b) { b[60] = 100, b[61] = 0; }, CryptFileCode::CorruptSize,
        "ERROR   The file %s could not be read because it is corrupted at share(1,4)" },
    { "DataLengthCut", [](std::string& b) { cut(b, 333); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at data(1,1)." },
    { "MultiplicandOne", [](std::string& b) { b[338] = 1; }, CryptFileCode::BadMultiplicand,
        "ERROR   The segment multiplicand of the file %s is invalid. Position: 0x153" },
    { "Multiplicand129", [](std::string& b) { b[338] = char(129); }, CryptFileCode::BadMultiplicand,
        "ERROR   The segment multiplicand of the file %s is invalid. Position: 0x153" },
    { "DataLengthBelowPad", [](std::string& b) { b[330] = 20, b[339] = 15; }, CryptFileCode::CorruptSize,
        "ERROR   Corrupt data header (size) detected. Size: 14 - f" },
    // The end of such data would lie beyond 2^64: refused instead of wrapping around.
    { "DataLengthBeyondAnyFile", [](std::string& b) { put64(b, 330, ~std::uint64_t(0)); }, CryptFileCode::CorruptSize,
        "ERROR   Corrupt data header (size) detected. Size: ffffffffffffffff - b" },
    { "NoShareBeforeData", [](std::string& b) { b.erase(59, 270); }, CryptFileCode::MissingPackets,
        "ERROR   Could not read all necessary data. The Ardentvault file may be corrupted." },
    { "SecondHeader", [](std::string& b) { b.insert(59, b.substr(37, 22)); }, CryptFileCode::UnknownPacket,
        "ERROR   Unexpected packet 0x16 at position 0x3c in file %s" },
};

class CCryptFileDamage : public CryptFileTest, public ::testing::WithParamInterface<DamageCase>
{
};

TEST_P(CCryptFileDamage, OpeningFailsWithItsCodeAndExactlyItsLogLine)
{
    const DamageCase& c = GetParam();
    const std::string file = path("damaged.avlt");
    std::string bytes = makeContainer(file, "hello");
    c.damage(bytes);
    ASSERT_TRUE(writeWholeFile(file, bytes));
    clearLog();

    for (const int kind : { CCryptFile::ReadOnly, CCryptFile::Update }) {
        SCOPED_TRACE(kind);
        {
            std::uint32_t code = 0;
            CCryptFile container(file, kind, 0, code);
            EXPECT_EQ(code, c.code);
        }
        const std::vector<std::string> lines = logLines();
        if (*c.logLine == '\0') {
            EXPECT_TRUE(lines.empty());
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], withPath(c.logLine, file));
        }
        clearLog();
        EXPECT_EQ(readWholeFile(file), bytes); // a failed open never writes
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CCryptFileDamage, ::testing::ValuesIn(damageCases),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CCryptFileRead, MissingFileCannotBeOpened)
{
    std::uint32_t code = 0;
    CCryptFile container(path("missing.avlt"), CCryptFile::ReadOnly, 0, code);
    EXPECT_EQ(code, CryptFileCode::OpenFailed);
}

TEST_F(CCryptFileRead, CutTrailingSharesStillOpenWithTheBrokenSharesLine)
{
    const std::uint64_t bob = newAccount();
    const std::uint64_t carol = newAccount();
    const std::string file = path("cut.avlt");
    std::string bytes = makeContainer(file, pattern(100), { { bob, "bob" }, { carol, "carol" } });
    bytes.resize(bytes.size() - 100); // into carol's wrapped key
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    clearLog();
    {
        std::uint32_t code = 1;
        CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
        EXPECT_EQ(code, 0u);
        ShareNameList names;
        EXPECT_EQ(container.GetShares(names), 0u);
        EXPECT_EQ(names, (ShareNameList{ { OwnerName, m_ownerKey }, { "bob", bob } }));
    }
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ERROR   The file " + file + " could not be read because of unexpected ending at share(1,6).");
    EXPECT_EQ(lines[1],
        "ERROR   It seems the file " + file
            + " has some broken shares or unrecorded data. This can be solved by copying the file "
              "when autovaulting is active.");
    EXPECT_EQ(readContents(file), pattern(100));

    // Callers that expect damage can ask for silence.
    clearLog();
    {
        std::uint32_t code = 1;
        CCryptFile container(file, CCryptFile::ReadOnly, CCryptFile::QuietBrokenShares, code);
        EXPECT_EQ(code, 0u);
    }
    EXPECT_EQ(logText(), "");
}

TEST_F(CCryptFileRead, FileSharedOnlyWithAnotherAccountOpensButCannotBeRead)
{
    const std::uint64_t bob = foreignAccount();
    const std::string file = path("bobs.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(container.AddShare(bob, "bob"), 0u);
        std::size_t written = 0;
        ASSERT_EQ(container.Write("secret", 6, written), 0u);
    }
    forgetFileKeys();

    std::uint32_t code = 1;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(container.accessState(), CCryptFile::AccessNoKey);
    char buffer[6] = {};
    std::size_t count = 9;
    EXPECT_EQ(container.Read(buffer, sizeof buffer, count), CryptFileCode::NoFileKeyAccess);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(container.CanDecrypt(), CryptFileCode::NoFileKeyAccess);
}

TEST_F(CCryptFileRead, ShareThatDoesNotOpenFallsThroughToTheNextOfTheAccount)
{
    const std::uint64_t second = newAccount();
    const std::string file = path("fallthrough.avlt");
    std::string bytes = makeContainer(file, "contents", { { second, "second" } });
    bytes[OwnerShareOffset + WrappedKeyOffset + 5] ^= 0x55;
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    clearLog();

    EXPECT_EQ(readContents(file), "contents");
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string("Warning Could not decrypt AES Key for ") + OwnerName);
}

TEST_F(CCryptFileRead, OnlyTheFirstOpeningShareProvidesTheKey)
{
    const std::uint64_t second = newAccount();
    const std::string file = path("two.avlt");
    std::string bytes = makeContainer(file, "contents", { { second, "second" } });
    bytes[bytes.size() - 7] ^= 0x55; // the second share would not open
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    clearLog();

    EXPECT_EQ(readContents(file), "contents");
    EXPECT_EQ(logText(), ""); // the second share was never tried
}

TEST_F(CCryptFileRead, PiecesAtAnyOffsetMatchThePlainText)
{
    const std::string plain = pattern(10000);
    const std::string file = path("pieces.avlt");
    makeContainer(file, plain);
    forgetFileKeys();

    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    ASSERT_EQ(code, 0u);
    struct Piece
    {
        std::int64_t offset;
        std::size_t length;
    };
    for (const Piece piece : { Piece{ 0, 16 }, Piece{ 3, 5 }, Piece{ 4000, 200 }, Piece{ 4096, 4096 },
             Piece{ 8190, 1810 }, Piece{ 9999, 1 }, Piece{ 17, 9983 } }) {
        SCOPED_TRACE(piece.offset);
        ASSERT_EQ(container.Seek(piece.offset, CCryptFile::FromStart), 0u);
        std::string buffer(piece.length, '\0');
        std::size_t count = 0;
        const std::uint32_t last = container.Read(buffer.data(), buffer.size(), count);
        EXPECT_EQ(count, piece.length);
        EXPECT_EQ(buffer, plain.substr(std::size_t(piece.offset), piece.length));
        const bool reachesEnd = std::size_t(piece.offset) + piece.length == plain.size();
        EXPECT_EQ(last, reachesEnd ? CryptFileCode::EndOfData : 0u);
        std::uint64_t position = 0;
        EXPECT_EQ(container.Tell(position), 0u);
        EXPECT_EQ(position, std::uint64_t(piece.offset) + piece.length);
    }
    std::size_t count = 1;
    char byte = 0;
    EXPECT_EQ(container.Read(&byte, 1, count), CryptFileCode::EndOfData);
    EXPECT_EQ(count, 0u);
}

TEST_F(CCryptFileRead, DataHeaderClaimingMoreThanTheFileHoldsEndsEarly)
{
    const std::string file = path("short.avlt");
    std::string bytes = makeContainer(file, pattern(5000));
    put64(bytes, 330, 11 + 9000); // 9000 bytes claimed, 5008 stored
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();

    std::uint32_t last = 0;
    const std::string plain = readContents(file, &last);
    EXPECT_EQ(last, CryptFileCode::EndOfData);
    ASSERT_GE(plain.size(), 5000u);
    EXPECT_LT(plain.size(), 9000u);
    EXPECT_EQ(plain.substr(0, 5000), pattern(5000));
}

TEST_F(CCryptFileRead, PlainNameDropsTheLastFiveCharacters)
{
    const std::string file = path("report.pdf.avlt");
    makeContainer(file, "");
    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    std::string plainName;
    EXPECT_EQ(container.PlainName(plainName), 0u);
    EXPECT_EQ(plainName, path("report.pdf"));
    EXPECT_EQ(container.CanDecrypt(), 0u);
}

// ---- recognition -------------------------------------------------------------------

TEST_F(CCryptFileRead, RecognisedByName)
{
    struct NameCase
    {
        const char* path;
        bool expected;
    };
    for (const NameCase c : { NameCase{ "a.avlt", true }, NameCase{ "/x/B.AVLT", true }, NameCase{ ".avlt", true },
             NameCase{ "a.avlt.txt", false }, NameCase{ "avlt", false }, NameCase{ "a_avlt", false } }) {
        EXPECT_EQ(CCryptFile::IsCryptFileName(c.path), c.expected) << c.path;
    }
}

struct SignatureCase
{
    const char* name;
    std::function<void(std::string&)> change;
    std::uint32_t code;
    const char* logLine;
};

const SignatureCase signatureCases[] = {
    { "Container", [](std::string&) {}, 0, "" },
    { "ShorterBannerPrefix", [](std::string& b) { b = std::string("\x20\x0a") + "File enc"; }, 0, "" },
    { "Empty", [](std::string& b) { b.clear(); }, CryptFileCode::UnexpectedEnd,
        "ERROR   The file %s could not be read because the file info header is incomplete." },
    { "OtherFirstByte", [](std::string& b) { b = "%PDF-1.4"; }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because the file header is invalid. Position: 0x0" },
    { "NoLength", [](std::string& b) { b = "\x20"; }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at info(1,1)." },
    { "BannerCut", [](std::string& b) { b.resize(10); }, CryptFileCode::PacketTruncated,
        "ERROR   The file %s could not be read because of unexpected ending at info(1,2)." },
    { "OtherBanner", [](std::string& b) { b[10] = 'X'; }, CryptFileCode::UnknownPacket, "" },
    { "BannerTooLong", [](std::string& b) { b[1] = 40; }, CryptFileCode::UnknownPacket, "" },
    { "LengthWithoutBanner", [](std::string& b) { b[1] = 1; }, CryptFileCode::UnknownPacket, "" },
};

class CCryptFileSignature : public CryptFileTest, public ::testing::WithParamInterface<SignatureCase>
{
};

TEST_P(CCryptFileSignature, ContentCheck)
{
    const SignatureCase& c = GetParam();
    const std::string file = path("probe.bin");
    std::string bytes = makeContainer(file, "abc");
    c.change(bytes);
    ASSERT_TRUE(writeWholeFile(file, bytes));
    clearLog();

    EXPECT_EQ(CCryptFile::CheckFileSignature(file), c.code);
    const std::vector<std::string> lines = logLines();
    if (*c.logLine == '\0') {
        EXPECT_TRUE(lines.empty());
    } else {
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], withPath(c.logLine, file));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CCryptFileSignature, ::testing::ValuesIn(signatureCases),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CCryptFileRead, SignatureCheckKeepsThePosition)
{
    const std::string file = path("sig.avlt");
    makeContainer(file, pattern(300));
    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    ASSERT_EQ(container.Seek(100, CCryptFile::FromStart), 0u);
    EXPECT_EQ(container.CheckSignature(), 0u);
    std::string buffer(10, '\0');
    std::size_t count = 0;
    container.Read(buffer.data(), buffer.size(), count);
    EXPECT_EQ(buffer, pattern(300).substr(100, 10));
}

} // namespace
