#include "ServerClientTest.h"

#include "AvTestEnvironment.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"
#include "server/AvKeyServerClient.h"
#include "settings/AvGlobalLibSettings.h"

#include <cstdlib>

namespace {

void resetLibrary()
{
    removeKeyServerClient();
    AvKeyring::instance().Reset();
    AvCredentials::clearUserIdCache();
    AvGlobalLibSettings::instance().offlineMode = false;
    AvGlobalLibSettings::instance().language.clear();
}

} // namespace

void ServerClientTest::SetUp()
{
    AvTempHome::SetUp();
    m_dataFolder = dataFolder();
    m_savedUrl = readVariable(AVServerConnector::kServerUrlVariable);
    m_savedCaFile = readVariable(AVServerConnector::kCaFileVariable);
    resetLibrary();
    m_savedLogLevel = AvLog::level();
    AvLog::setLogPath(m_dataFolder + "Ardentvault.log");
    AvLog::setEnabled(true);
    AvLog::setLevel(AvLog::Info);
}

void ServerClientTest::TearDown()
{
    resetLibrary();
    restoreVariable(AVServerConnector::kServerUrlVariable, m_savedUrl);
    restoreVariable(AVServerConnector::kCaFileVariable, m_savedCaFile);
    AvLog::setEnabled(false);
    AvLog::setLogPath(std::string());
    AvLog::setLevel(m_savedLogLevel);
    AvTempHome::TearDown();
}

void ServerClientTest::pointClientAt(const std::string& url, const std::string& caFile)
{
    restoreVariable(AVServerConnector::kServerUrlVariable, url);
    restoreVariable(
        AVServerConnector::kCaFileVariable, caFile.empty() ? std::nullopt : std::optional<std::string>(caFile));
}

std::string ServerClientTest::logText() const
{
    return readWholeFile(m_dataFolder + "Ardentvault.log");
}

void ServerClientTest::clearLog() const
{
    writeWholeFile(m_dataFolder + "Ardentvault.log", std::string());
}
