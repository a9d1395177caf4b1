#pragma once

// Runs the real avlt program as a child process: its own session (so it has
// no terminal to prompt on), a chosen working directory, an environment made
// only of HOME, PATH, a key server address that refuses connections and the
// variables a test sets, standard input from
// /dev/null, and standard output and error captured.

#include <map>
#include <string>
#include <vector>

struct AvltResult
{
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

class AvltRunner
{
public:
    AvltRunner(std::string home, std::string workingDirectory);

    void setEnv(const std::string& name, const std::string& value) { m_env[name] = value; }
    void unsetEnv(const std::string& name) { m_env.erase(name); }
    void setWorkingDirectory(std::string folder) { m_cwd = std::move(folder); }

    AvltResult run(const std::vector<std::string>& args) const;

private:
    std::string m_home;
    std::string m_cwd;
    std::map<std::string, std::string> m_env;
};
