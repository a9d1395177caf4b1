#include "CertificateAuthority.h"
#include "HttpFrontend.h"
#include "KeyServerApp.h"
#include "KeyServerHarness.h"
#include "ServerLog.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>

namespace keyserver {
namespace {

class KeyServerStop : public AvTempHome
{
};

// The HTTP library ignores a stop until its accept loop runs. A signal that
// arrives while the serving thread is on its way into that loop must still
// end it, or the process never exits.
TEST_F(KeyServerStop, AFrontendStoppedBeforeItRunsReturnsAtOnce)
{
    KeyServerHarness harness(home());
    CertificateAuthority authority(home() + "/tls");
    std::string error;
    ASSERT_TRUE(authority.ensureServerCertificate("127.0.0.1", error)) << error;

    std::ostringstream output;
    ServerLog log(output);
    FrontendConfig config;
    config.certificateFile = authority.serverCertificatePath();
    config.keyFile = authority.serverKeyPath();
    HttpFrontend frontend(harness.dispatcher(), log, config);
    ASSERT_TRUE(frontend.bind(error)) << error;

    frontend.stop();
    auto serving = std::async(std::launch::async, [&] { frontend.run(); });
    const bool ended = serving.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!ended)
        frontend.stop(); // the loop runs by now: let the thread finish
    EXPECT_TRUE(ended) << "run() went on serving after stop()";
}

TEST_F(KeyServerStop, AnAppStoppedBeforeServingReturnsAtOnce)
{
    ServerOptions options;
    options.listenHost = "127.0.0.1";
    options.listenPort = 0;
    options.dataDir = home() + "/server";
    std::ostringstream output;
    KeyServerApp app(options, output, testPolicy());
    ASSERT_TRUE(app.start()) << output.str();
    app.stop();
    auto serving = std::async(std::launch::async, [&] { app.serve(); });
    EXPECT_EQ(serving.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

} // namespace
} // namespace keyserver
