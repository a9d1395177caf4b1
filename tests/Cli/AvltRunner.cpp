#include "AvltRunner.h"

#include "AvTempHome.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

AvltRunner::AvltRunner(std::string home, std::string workingDirectory)
    : m_home(std::move(home))
    , m_cwd(std::move(workingDirectory))
{
    m_env["HOME"] = m_home;
    m_env["PATH"] = "/usr/bin:/bin";
    // A key server address that refuses at once: no test reaches the network.
    m_env["ARDENTVAULT_SERVER_URL"] = "https://127.0.0.1:9";
}

AvltResult AvltRunner::run(const std::vector<std::string>& args) const
{
    const std::string outPath = m_home + "/.avlt-stdout";
    const std::string errPath = m_home + "/.avlt-stderr";

    std::vector<std::string> argStrings{ AVLT_BINARY };
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : m_env)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::chdir(m_cwd.c_str()) != 0)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    AvltResult result;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = readWholeFile(outPath);
    result.err = readWholeFile(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return result;
}
