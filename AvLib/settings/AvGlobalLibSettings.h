#pragma once

// The library's own settings: one process-wide object that every layer can
// reach without knowing the desktop application. It answers where the user's
// data folder is and which system the program runs on, and carries the two
// values the application pushes down (offline mode, user-interface language).
// Not synchronised: only the application shell writes it.

#include <string>

class AvGlobalLibSettings
{
public:
    static AvGlobalLibSettings& instance();

    // $HOME/Documents/Ardentvault/ (always ending in '/'). Changes the working
    // directory into the folder, creating it (mode 0700, one level) when it is
    // missing; failures are reported on standard error only. Never cached:
    // call it whenever a path is needed.
    std::string dataFolderPath();

    // "Linux 6.1.0" (or "OSX 10.8.2" on macOS); also stored in `platform`.
    std::string platformName();

    // Data folder + "Keys/" + the user name with '.' and '@' replaced by '_'
    // + ".avltkey": the key-ring file of one account.
    std::string keyRingFilePath(const std::string& userName);

    bool offlineMode = false;
    std::string platform;
    std::string language;

private:
    AvGlobalLibSettings() = default;
};
