#pragma once

// Shared set-up for the key server client tests: a temporary HOME with its
// data folder, the log written there at Info level, offline mode off, the
// key ring reset and without key server seams, the user id cache empty, and
// the server URL and CA variables restored afterwards. ScriptedConnector
// replaces the HTTPS exchange by a queue of answer texts and records every
// request text it was given.

#include "AvTempHome.h"

#include "server/AVServerConnector.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

class ServerClientTest : public AvTempHome
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Points the client at a server URL and an extra CA (empty: none).
    static void pointClientAt(const std::string& url, const std::string& caFile);
    std::string logText() const;
    void clearLog() const;

    std::string m_dataFolder;

private:
    std::optional<std::string> m_savedUrl;
    std::optional<std::string> m_savedCaFile;
    int m_savedLogLevel = 0;
};

class ScriptedConnector : public AVServerConnector
{
public:
    using AVServerConnector::AVServerConnector;

    std::string PostRequest(const std::string& requestText) override
    {
        sent.push_back(requestText);
        if (answers.empty())
            return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<std::string> answers;
    std::vector<std::string> sent;
};
