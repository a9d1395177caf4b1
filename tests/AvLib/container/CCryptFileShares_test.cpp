// The share list: adding, removing, renaming and replacing shares, free
// slots, and what reaches the file.

#include "CryptFileTest.h"

#include "container/CCryptFileCodes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class CCryptFileShares : public CryptFileTest
{
protected:
    std::unique_ptr<CCryptFile> open(const std::string& file, int kind)
    {
        std::uint32_t code = 1;
        auto container = std::make_unique<CCryptFile>(file, kind, 0, code);
        EXPECT_EQ(code, 0u);
        return container;
    }

    static ShareNameList sharesOf(const CCryptFile& container)
    {
        ShareNameList names;
        EXPECT_EQ(container.GetShares(names), 0u);
        return names;
    }
};

TEST_F(CCryptFileShares, AddShareFailures)
{
    const std::uint64_t unknown = 0x1234;
    std::uint32_t code = 0;
    CCryptFile container(path("add.avlt"), CCryptFile::Create, 0, code);
    ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);

    struct Case
    {
        std::uint64_t keyId;
        std::uint32_t code;
        const char* logLine;
    };
    for (const Case c : { Case{ m_ownerKey, CryptFileCode::AlreadyShared, "" },
             Case{ 0, CryptFileCode::InvalidKey, "ERROR   The given key for Bob is invalid" },
             Case{ ~std::uint64_t(0), CryptFileCode::InvalidKey, "ERROR   The given key for Bob is invalid" },
             Case{ unknown, CryptFileCode::NoPublicKey, "" } }) {
        SCOPED_TRACE(c.keyId);
        clearLog();
        const std::uint32_t dirtyBefore = container.dirtyFlags();
        EXPECT_EQ(container.AddShare(c.keyId, "Bob"), c.code);
        EXPECT_EQ(container.shareList().size(), 1u);
        EXPECT_EQ(container.dirtyFlags(), dirtyBefore);
        const std::vector<std::string> lines = logLines();
        if (*c.logLine == '\0')
            EXPECT_TRUE(lines.empty());
        else
            EXPECT_EQ(lines, std::vector<std::string>{ c.logLine });
    }
}

TEST_F(CCryptFileShares, AddShareWithoutTheFileKey)
{
    const std::string file = path("nokey.avlt");
    makeContainer(file, "abc");
    ring().privateKeys.erase(m_ownerKey);
    forgetFileKeys();
    const std::uint64_t bob = newAccount();
    auto container = open(file, CCryptFile::Update);
    clearLog();
    EXPECT_EQ(container->AddShare(bob, "bob"), CryptFileCode::NoFileKeyAccess);
    EXPECT_EQ(logLines(), std::vector<std::string>{ "ERROR   An AES private key could not be retrieved for the user" });
}

TEST_F(CCryptFileShares, ReadOnlyAndEmptyListRefusals)
{
    const std::string file = path("refuse.avlt");
    makeContainer(file, "abc");
    {
        auto container = open(file, CCryptFile::ReadOnly);
        EXPECT_EQ(container->AddShare(newAccount(), "x"), CryptFileCode::ReadOnly);
        EXPECT_EQ(container->RemoveShare(m_ownerKey), CryptFileCode::ReadOnly);
        EXPECT_EQ(container->SetShareName(m_ownerKey, "x"), CryptFileCode::ReadOnly);
        EXPECT_EQ(container->SetShares({ { "x", m_ownerKey } }), CryptFileCode::ReadOnly);
        std::string name = "left over";
        EXPECT_EQ(container->ShareName(1, name), CryptFileCode::NoSuchEntry);
        EXPECT_EQ(name, "");
    }
    std::uint32_t code = 0;
    CCryptFile fresh(path("fresh.avlt"), CCryptFile::Create, 0, code);
    EXPECT_EQ(fresh.RemoveShare(m_ownerKey), CryptFileCode::RemoveFromEmptyList);
    EXPECT_EQ(fresh.SetShares({}), CryptFileCode::EmptyShareList);
    ASSERT_EQ(fresh.AddShare(m_ownerKey, OwnerName), 0u);
    EXPECT_EQ(fresh.RemoveShare(0x999), CryptFileCode::NoSuchShare);
    EXPECT_EQ(fresh.SetShareName(0x999, "x"), CryptFileCode::NoSuchShare);
}

TEST_F(CCryptFileShares, FirstShareIsTheOwnersAndLaterOnesTrail)
{
    const std::string file = path("dirty.avlt");
    makeContainer(file, "abc");
    auto container = open(file, CCryptFile::Update);
    EXPECT_EQ(container->dirtyFlags(), 0u);
    EXPECT_EQ(container->AddShare(newAccount(), "bob"), 0u);
    EXPECT_EQ(container->dirtyFlags(), CCryptFile::DirtyTrailingShares);
    EXPECT_EQ(container->RemoveShare(m_ownerKey), 0u);
    EXPECT_EQ(container->dirtyFlags(), CCryptFile::DirtyTrailingShares | CCryptFile::DirtyHeaderArea);
}

TEST_F(CCryptFileShares, DeletedShareKeepsItsPlaceWithIdAllOnesAndZeros)
{
    const std::uint64_t bob = newAccount();
    const std::uint64_t carol = newAccount();
    const std::string file = path("deleted.avlt");
    const std::string before = makeContainer(file, pattern(20), { { bob, "bob" }, { carol, "carol" } });
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        ASSERT_EQ(container->RemoveShare(bob), 0u);
        EXPECT_EQ(sharesOf(*container), (ShareNameList{ { OwnerName, m_ownerKey }, { "carol", carol } }));
    }
    const std::string after = readWholeFile(file);
    ASSERT_EQ(after.size(), before.size());
    const std::size_t bobShare = DataStart + 32;
    EXPECT_EQ(after[bobShare], 0x03);
    EXPECT_EQ(read16(after, bobShare + 1), ShareLength);
    EXPECT_EQ(after.substr(bobShare + 4, 8), std::string(8, '\xFF'));
    EXPECT_EQ(static_cast<unsigned char>(after[bobShare + 12]), 130u);
    EXPECT_EQ(after.substr(bobShare + NameFieldOffset, ShareLength - NameFieldOffset), std::string(257, '\0'));
    EXPECT_EQ(after.substr(bobShare + ShareLength), before.substr(bobShare + ShareLength)); // carol untouched
    EXPECT_EQ(after.substr(0, bobShare), before.substr(0, bobShare));

    forgetFileKeys();
    auto reread = open(file, CCryptFile::ReadOnly);
    ASSERT_EQ(reread->shareList().size(), 3u);
    EXPECT_TRUE(reread->shareList()[1].tags.isDeleted());
    EXPECT_EQ(reread->shareList()[1].tags.position, bobShare);
    EXPECT_EQ(sharesOf(*reread), (ShareNameList{ { OwnerName, m_ownerKey }, { "carol", carol } }));
}

TEST_F(CCryptFileShares, RemovedOwnerSlotIsReusedInTheHeaderArea)
{
    const std::uint64_t bob = newAccount();
    const std::uint64_t carol = newAccount();
    const std::uint64_t dave = newAccount();
    const std::string file = path("owner.avlt");
    const std::string plain = pattern(4500);
    const std::string before = makeContainer(file, plain, { { bob, "bob" }, { carol, "carol" } });
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        ASSERT_EQ(container->RemoveShare(m_ownerKey), 0u);
        ASSERT_EQ(container->AddShare(dave, "Dave"), 0u);
        EXPECT_EQ(container->shareList()[0].key->keyId, dave);
        EXPECT_EQ(container->shareList()[0].tags.position, OwnerShareOffset);
    }
    const std::string after = readWholeFile(file);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(read64(after, OwnerShareOffset + 4), dave);
    EXPECT_EQ(after.substr(DataHeaderOffset), before.substr(DataHeaderOffset)); // data and trailing shares

    forgetFileKeys();
    ring().privateKeys.erase(m_ownerKey);
    ring().privateKeys.erase(bob);
    ring().privateKeys.erase(carol);
    auto reread = open(file, CCryptFile::ReadOnly);
    EXPECT_EQ(sharesOf(*reread), (ShareNameList{ { "dave", dave }, { "bob", bob }, { "carol", carol } }));
    std::string contents(plain.size(), '\0');
    std::size_t count = 0;
    EXPECT_EQ(reread->Read(contents.data(), contents.size(), count), CryptFileCode::EndOfData);
    EXPECT_EQ(contents, plain);
}

TEST_F(CCryptFileShares, SetSharesInAnotherOrderChangesNothing)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("same.avlt");
    const std::string before = makeContainer(file, "abc", { { bob, "bob" } });
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        ASSERT_EQ(container->SetShares({ { "Bob", bob }, { OwnerName, m_ownerKey } }), 0u);
        EXPECT_EQ(container->dirtyFlags(), 0u);
    }
    EXPECT_EQ(readWholeFile(file), before);
}

TEST_F(CCryptFileShares, SetSharesRemovesFirstThenReusesSlotsAndSkipsUnknownKeys)
{
    const std::uint64_t bob = newAccount();
    const std::uint64_t carol = newAccount();
    const std::uint64_t dave = newAccount();
    const std::uint64_t noKey = 0x5151;
    const std::string file = path("replace.avlt");
    const std::string before = makeContainer(file, "abc", { { bob, "bob" } });
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        ASSERT_EQ(container->SetShares(
                      { { OwnerName, m_ownerKey }, { "carol", carol }, { "nobody", noKey }, { "dave", dave } }),
            0u);
        EXPECT_EQ(
            sharesOf(*container), (ShareNameList{ { OwnerName, m_ownerKey }, { "carol", carol }, { "dave", dave } }));
    }
    const std::string after = readWholeFile(file);
    EXPECT_EQ(after.size(), before.size() + ShareLength); // carol took bob's slot, dave was appended
    EXPECT_EQ(read64(after, DataStart + 16 + 4), carol);
    EXPECT_EQ(read64(after, DataStart + 16 + ShareLength + 4), dave);
}

TEST_F(CCryptFileShares, RenameReachesTheFile)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("rename.avlt");
    makeContainer(file, "abc", { { bob, "123456789" } });
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        ASSERT_EQ(container->SetShares({ { OwnerName, m_ownerKey }, { " Bob@Example.com", bob } }), 0u);
        EXPECT_EQ(container->dirtyFlags(), CCryptFile::DirtyTrailingShares);
    }
    forgetFileKeys();
    auto reread = open(file, CCryptFile::ReadOnly);
    EXPECT_EQ(sharesOf(*reread), (ShareNameList{ { OwnerName, m_ownerKey }, { "bob@example.com", bob } }));
}

TEST_F(CCryptFileShares, SharesCanBeAddedBeforeTheHeaderIsWritten)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("early.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        ASSERT_EQ(container.AddShare(bob, "bob"), 0u);
        ASSERT_EQ(container.RemoveShare(m_ownerKey), 0u);
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u); // back into the owner's slot
        std::size_t written = 0;
        ASSERT_EQ(container.Write("abc", 3, written), 0u);
    }
    forgetFileKeys();
    auto reread = open(file, CCryptFile::ReadOnly);
    EXPECT_EQ(sharesOf(*reread), (ShareNameList{ { OwnerName, m_ownerKey }, { "bob", bob } }));
}

TEST_F(CCryptFileShares, RewrittenTrailingSharesEndTheFileSoStaleBytesNeverBecomeShares)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("stale.avlt");
    std::string bytes = makeContainer(file, "stale bytes follow");
    const std::size_t end = bytes.size();
    // Unrecorded bytes after the data: filler the reader stops at, then a copy
    // of the owner's share that it never reaches.
    const std::string ownerShare = bytes.substr(OwnerShareOffset, ShareLength);
    bytes += std::string(ShareLength, '\xfa') + ownerShare;
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        EXPECT_EQ(sharesOf(*container), (ShareNameList{ { OwnerName, m_ownerKey } }));
        ASSERT_EQ(container->AddShare(bob, "bob"), 0u);
    }
    EXPECT_EQ(readWholeFile(file).size(), end + ShareLength);
    forgetFileKeys();
    auto reread = open(file, CCryptFile::ReadOnly);
    EXPECT_EQ(sharesOf(*reread), (ShareNameList{ { OwnerName, m_ownerKey }, { "bob", bob } }));
}

TEST_F(CCryptFileShares, FlagsAnnouncingAMissingFileNameDoNotStopAShareChange)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("flags.avlt");
    std::string bytes = makeContainer(file, "named in the flags only");
    bytes[HeaderOffset + 21] = 0x11; // bit 0: a file name packet follows, but none does
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    {
        auto container = open(file, CCryptFile::Update);
        ASSERT_EQ(container->AddShare(bob, "bob"), 0u);
        EXPECT_EQ(container->Close(false), 0u);
    }
    const std::string rewritten = readWholeFile(file);
    EXPECT_EQ(rewritten.size(), bytes.size() + ShareLength);
    EXPECT_EQ(rewritten[HeaderOffset + 21], 0x11); // kept as read
    forgetFileKeys();
    auto reread = open(file, CCryptFile::ReadOnly);
    EXPECT_EQ(sharesOf(*reread), (ShareNameList{ { OwnerName, m_ownerKey }, { "bob", bob } }));
    EXPECT_EQ(readContents(file), "named in the flags only");
}

} // namespace
