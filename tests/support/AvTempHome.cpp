#include "AvTempHome.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

void AvTempHome::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "avtest-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_home = pattern;

    const char* home = std::getenv("HOME");
    m_hadHome = home != nullptr;
    if (home)
        m_savedHome = home;
    m_savedCwd = fs::current_path().string();
    ::setenv("HOME", m_home.c_str(), 1);
}

void AvTempHome::TearDown()
{
    std::error_code ignored;
    fs::current_path(m_savedCwd, ignored);
    if (m_hadHome)
        ::setenv("HOME", m_savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
    // Folders a test made read-only must become removable again.
    for (auto it = fs::recursive_directory_iterator(m_home, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(m_home, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_home, ignored);
}

void AvTempHome::createDocumentsFolder() const
{
    fs::create_directories(m_home + "/Documents");
}

std::string AvTempHome::dataFolder() const
{
    const std::string path = m_home + "/Documents/Ardentvault/";
    fs::create_directories(path);
    ::chmod(path.c_str(), 0700);
    return path;
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
