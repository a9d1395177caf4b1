#pragma once

// Runs the real avlt for the robustness tests: a child process in its own
// session with standard input from /dev/null, an environment of HOME, PATH,
// the password and a key server address that refuses connections, output and
// errors captured, optionally under another user id (to meet permission
// checks that root would bypass), and killed when it runs past a time limit
// (a hang is a failure, not a stuck test).

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct AvltOutcome
{
    int status = -1; // exit status; -1 when killed or not exited normally
    bool timedOut = false;
    std::string out;
    std::string err;
};

class AvltProcess
{
public:
    AvltProcess(std::string home, std::string password);

    // Runs as `uid`/`gid` from now on (the caller must be root).
    void runAs(uid_t uid, gid_t gid);
    void setTimeLimit(std::chrono::seconds limit) { m_limit = limit; }

    // avlt --offline ARGS... in `folder`.
    AvltOutcome run(const std::vector<std::string>& args, const std::string& folder) const;

private:
    std::string m_home;
    std::string m_password;
    std::optional<std::pair<uid_t, gid_t>> m_user;
    std::chrono::seconds m_limit{ 300 };
};
