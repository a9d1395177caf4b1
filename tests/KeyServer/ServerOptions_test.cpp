// The command line of ardentvault-keyserver.

#include "ServerOptions.h"

#include <gtest/gtest.h>

using namespace keyserver;

namespace {

TEST(ServerOptions, ParsesTheDocumentedForms)
{
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(ServerOptions::parse(
        { "--listen", "127.0.0.1:8443", "--data-dir", "/srv/keys", "--cert", "c.pem", "--key=k.pem", "--smtp-url",
            "smtp://127.0.0.1:25", "--mail-from", "keys@example.org" },
        options, error))
        << error;
    EXPECT_EQ(options.listenHost, "127.0.0.1");
    EXPECT_EQ(options.listenPort, 8443);
    EXPECT_EQ(options.dataDir, "/srv/keys");
    EXPECT_EQ(options.certificateFile, "c.pem");
    EXPECT_EQ(options.keyFile, "k.pem");
    EXPECT_EQ(options.smtpUrl, "smtp://127.0.0.1:25");
    EXPECT_EQ(options.mailFrom, "keys@example.org");

    ServerOptions ipv6;
    ASSERT_TRUE(ServerOptions::parse({ "--listen=[::1]:0", "--data-dir", "d" }, ipv6, error)) << error;
    EXPECT_EQ(ipv6.listenHost, "::1");
    EXPECT_EQ(ipv6.listenPort, 0);
}

TEST(ServerOptions, RefusesIncompleteOrMalformedCommandLines)
{
    const std::vector<std::vector<std::string>> rows = {
        {},
        { "--listen", "127.0.0.1:8443" },
        { "--data-dir", "d" },
        { "--listen", "127.0.0.1", "--data-dir", "d" },
        { "--listen", "127.0.0.1:70000", "--data-dir", "d" },
        { "--listen", "127.0.0.1:84x", "--data-dir", "d" },
        { "--listen", "::1:8443", "--data-dir", "d" },
        { "--listen", "127.0.0.1:8443", "--data-dir" },
        { "--listen", "127.0.0.1:8443", "--data-dir", "d", "--cert", "c.pem" },
        { "--listen", "127.0.0.1:8443", "--data-dir", "d", "--mail-from", "x@y.org\r\nBcc: z@y.org" },
        { "--listen", "127.0.0.1:8443", "--data-dir", "d", "--verbose" },
    };
    for (const auto& arguments : rows) {
        ServerOptions options;
        std::string error;
        EXPECT_FALSE(ServerOptions::parse(arguments, options, error)) << testing::PrintToString(arguments);
        EXPECT_FALSE(error.empty());
    }
}

TEST(ServerOptions, HelpNeedsNothingElse)
{
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(ServerOptions::parse({ "--help" }, options, error));
    EXPECT_TRUE(options.showHelp);
    EXPECT_NE(ServerOptions::usage().find("--listen HOST:PORT --data-dir DIR"), std::string::npos);
}

} // namespace
