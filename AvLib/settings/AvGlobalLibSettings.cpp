#include "settings/AvGlobalLibSettings.h"

#include "util/AvStrings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

void reportIoError(const char* what, int error)
{
    std::fprintf(stderr, "IO Exception in %s: %s\n", what, std::strerror(error));
    std::fflush(stderr);
}

// Reads up to three leading decimal numbers of a release text such as
// "6.1.0-18-amd64"; missing parts stay 0.
void parseVersion(const char* release, unsigned (&parts)[3])
{
    const char* p = release;
    for (unsigned& part : parts) {
        part = 0;
        if (*p < '0' || *p > '9')
            break;
        while (*p >= '0' && *p <= '9') {
            part = part * 10 + unsigned(*p - '0');
            ++p;
        }
        if (*p != '.')
            break;
        ++p;
    }
}

} // namespace

AvGlobalLibSettings& AvGlobalLibSettings::instance()
{
    static AvGlobalLibSettings settings;
    return settings;
}

std::string AvGlobalLibSettings::dataFolderPath()
{
    const char* home = std::getenv("HOME");
    std::string path = std::string(home ? home : "") + "/Documents" + "/Ardentvault/";

    if (::chdir(path.c_str()) == 0)
        return path;
    reportIoError("chdir", errno);
    if (::mkdir(path.c_str(), 0700) != 0)
        reportIoError("mkdir", errno);
    return path;
}

std::string AvGlobalLibSettings::platformName()
{
    unsigned version[3] = { 0, 0, 0 };
    struct utsname info;
    if (::uname(&info) == 0)
        parseVersion(info.release, version);
#ifdef __APPLE__
    const char* system = "OSX";
#else
    const char* system = "Linux";
#endif
    platform = std::string(system) + " " + std::to_string(version[0]) + "." + std::to_string(version[1]) + "."
        + std::to_string(version[2]);
    return platform;
}

std::string AvGlobalLibSettings::keyRingFilePath(const std::string& userName)
{
    return dataFolderPath() + "Keys" + "/" + underscoreName(userName) + ".avltkey";
}
