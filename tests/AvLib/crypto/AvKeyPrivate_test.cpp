#include "crypto/AvKeyPrivate.h"

#include "crypto/AvEncrypt.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AvKeyPrivate, RawFormRestoresTheKeyAndFillsThePublicHalf)
{
    CryptoPP::RSA::PrivateKey privateKey;
    CryptoPP::RSA::PublicKey publicKey;
    GenerateKeyPair(privateKey, publicKey);
    const AvKeyPrivate key(77, privateKey);

    std::vector<uint8_t> raw(1000);
    uint32_t length = 1000;
    ASSERT_TRUE(key.toRaw(raw.data(), length));

    AvKeyPrivate restored;
    restored.keyId = 77;
    AvKeyPublic publicHalf;
    publicHalf.userName = "dave@example.org";
    ASSERT_TRUE(restored.fromRaw(raw.data(), length, publicHalf));
    EXPECT_EQ(restored.privateKey.GetPrivateExponent(), privateKey.GetPrivateExponent());
    EXPECT_EQ(publicHalf.keyId, 77u);
    EXPECT_EQ(publicHalf.publicKey.GetModulus(), publicKey.GetModulus());
    EXPECT_EQ(publicHalf.userName, "dave@example.org");

    AvKeyPublic untouched;
    EXPECT_FALSE(restored.fromRaw(raw.data(), length / 2, untouched));
    EXPECT_EQ(restored.privateKey.GetPrivateExponent(), privateKey.GetPrivateExponent());
    EXPECT_EQ(untouched.keyId, 0u);
}
