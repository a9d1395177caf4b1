#include "AvltProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

namespace {

std::string takeFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ::unlink(path.c_str());
    return text;
}

} // namespace

AvltProcess::AvltProcess(std::string home, std::string password)
    : m_home(std::move(home))
    , m_password(std::move(password))
{
}

void AvltProcess::runAs(uid_t uid, gid_t gid)
{
    m_user = std::make_pair(uid, gid);
}

AvltOutcome AvltProcess::run(const std::vector<std::string>& args, const std::string& folder) const
{
    std::vector<std::string> argStrings{ AVLT_BINARY, "--offline" };
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings{ "HOME=" + m_home, "PATH=/usr/bin:/bin", "AVLT_PASSWORD=" + m_password,
        "ARDENTVAULT_SERVER_URL=https://127.0.0.1:9" };
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // Output goes to files of the test process (not in HOME, which the child may not own).
    char outTemplate[] = "/tmp/avlt-out-XXXXXX";
    char errTemplate[] = "/tmp/avlt-err-XXXXXX";
    const int out = ::mkstemp(outTemplate);
    const int err = ::mkstemp(errTemplate);

    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        const int in = ::open("/dev/null", O_RDONLY);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (m_user) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(m_user->second) != 0 || ::setuid(m_user->first) != 0)
                ::_exit(126);
        }
        if (::chdir(folder.c_str()) != 0)
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);

    AvltOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + m_limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child || done < 0)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            outcome.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!outcome.timedOut && WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    outcome.out = takeFile(outTemplate);
    outcome.err = takeFile(errTemplate);
    return outcome;
}
