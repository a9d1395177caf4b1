#include "crypto/AvKeyPublic.h"

#include "crypto/AvEncrypt.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AvKeyPublic, CopyIsIndependentOfItsSource)
{
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::RSA::PublicKey publicKey;
    GenerateKeyPair(privateKey, publicKey);
    AvKeyPublic source(0x1234567890ABCDEFull, publicKey, "bob@example.org");

    AvKeyPublic copy(source);
    EXPECT_EQ(copy.keyId, source.keyId);
    EXPECT_EQ(copy.publicKey.GetModulus(), source.publicKey.GetModulus());
    EXPECT_EQ(copy.publicKey.GetPublicExponent(), source.publicKey.GetPublicExponent());
    EXPECT_EQ(copy.userName, "bob@example.org");

    copy.userName = "carol@example.org";
    EXPECT_EQ(source.userName, "bob@example.org");

    AvKeyPublic assigned;
    assigned = source;
    EXPECT_EQ(assigned.publicKey.GetModulus(), source.publicKey.GetModulus());
    EXPECT_EQ(assigned.userName, source.userName);

    std::vector<uint8_t> raw(132);
    uint32_t length = 132;
    ASSERT_TRUE(copy.toRaw(raw.data(), length));
    AvKeyPublic restored;
    ASSERT_TRUE(restored.fromRaw(raw.data(), length));
    EXPECT_EQ(restored.publicKey.GetModulus(), source.publicKey.GetModulus());
}
