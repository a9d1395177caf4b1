#include "util/AvBase64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// RFC 4648, section 10.
TEST(AvBase64, Rfc4648Vectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        { "", "" },
        { "f", "Zg==" },
        { "fo", "Zm8=" },
        { "foo", "Zm9v" },
        { "foob", "Zm9vYg==" },
        { "fooba", "Zm9vYmE=" },
        { "foobar", "Zm9vYmFy" },
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(plain), encoded);
        EXPECT_EQ(base64Decode(encoded), plain);
    }
}

TEST(AvBase64, AllByteValuesRoundTrip)
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    const std::string text = base64Encode(bytes);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(base64Decode(text), bytes);
}

TEST(AvBase64, DecodingStopsAtPaddingOrForeignByte)
{
    EXPECT_EQ(base64Decode("Zm9v=Zm9v"), "foo");
    EXPECT_EQ(base64Decode("Zm9v\nZm9v"), "foo");
    EXPECT_EQ(base64Decode("Zm9v'; DROP"), "foo");
    EXPECT_EQ(base64Decode("Z"), ""); // six bits make no byte
}

} // namespace
