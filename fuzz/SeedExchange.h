#pragma once

// Real exchanges for the seed corpora of the two protocol harnesses: the
// client library's connector runs every command against the in-process key
// server (FuzzKeyServer), in the name of the fixture account where a command
// needs one, and each request text and answer text is kept. In the recorded
// requests the fixture's login id, password value and the mailed code are
// replaced by @user, @pass and @code, which the request harness fills in again.

#include <string>
#include <vector>

class FuzzKeyServer;

struct RecordedExchange
{
    std::string command;
    std::string request;
    std::string answer;
};

class SeedExchange
{
public:
    static std::vector<RecordedExchange> record(FuzzKeyServer& server);
};
