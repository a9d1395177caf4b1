#pragma once

// The key server's command handling in-process, as the fuzz harnesses and the
// seed recording use it: a real SQLite account store in the fuzz folder, the
// real dispatcher with cheap verifier hashing and rate limits high enough
// never to hide a code path, a clock that moves a minute per step and a mailer
// that keeps the newest mailed code. One verified fixture account exists, so
// requests can get past authentication.

#include "CommandDispatcher.h"
#include "Mailer.h"
#include "SqliteAccountStore.h"

#include <json/value.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FuzzKeyServer
{
public:
    static constexpr const char* kClientAddress = "192.0.2.1";

    FuzzKeyServer();

    keyserver::CommandDispatcher::Outcome dispatch(const Json::Value& request);
    // Moves the clock on by one minute.
    void step() { m_clock.step(); }
    // Gives the fixture account its password value, keys and recovery half
    // back after a request may have changed them.
    void restoreFixture();
    // The newest code mailed by the server.
    std::string lastCode() const { return m_mailer.code(); }

    // In `text`, @user, @pass, @mail and @code become the fixture account's
    // login id, password value, address and the newest code.
    std::string withPlaceholders(std::string text) const;

    const std::string email = "fixture@example.com";
    const std::string password; // the value a client sends as "Password"
    std::string loginId;

private:
    class SteppingClock : public keyserver::Clock
    {
    public:
        TimePoint now() const override { return TimePoint(std::chrono::minutes(m_minutes.load())); }
        void step() { m_minutes += 1; }

    private:
        std::atomic<long long> m_minutes{ 29000000 }; // the mid-2020s
    };

    class LastCodeMailer : public keyserver::Mailer
    {
    public:
        bool send(const std::string& to, const std::string& subject, const std::string& body) override;
        std::string code() const;

    private:
        mutable std::mutex m_mutex;
        std::string m_code = "000000";
    };

    Json::Value send(const Json::Value& request);
    void createFixtureAccount();
    static std::vector<keyserver::StoredKey> fixtureKeys();

    SteppingClock m_clock;
    LastCodeMailer m_mailer;
    std::unique_ptr<keyserver::SqliteAccountStore> m_store;
    std::unique_ptr<keyserver::CommandDispatcher> m_dispatcher;
};
