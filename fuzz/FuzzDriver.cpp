// The shared entry point of every harness: libFuzzer's callback in a fuzzing
// build, else a replay program that runs each file named on the command line
// (folders are walked) through the harness and fails when none was found, or
// with --make-seeds FOLDER writes the harness's seed inputs.

#include "FuzzTarget.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(AV_LIBFUZZER)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzOneInput(FuzzInput(data, size));
    return 0;
}

#else

namespace {

bool replayFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    fuzzOneInput(FuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Absolute paths: the library changes the working directory.
    if (argc == 3 && std::string(argv[1]) == "--make-seeds") {
        const std::filesystem::path folder = std::filesystem::absolute(argv[2]);
        std::filesystem::create_directories(folder);
        fuzzMakeSeeds(folder.string() + "/");
        return 0;
    }
    std::size_t replayed = 0;
    bool allRead = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path target = std::filesystem::absolute(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(target, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(target, error)) {
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end()); // the same order on every run
            for (const auto& file : files)
                replayed += replayFile(file) ? 1 : (allRead = false, 0);
        } else {
            replayed += replayFile(target) ? 1 : (allRead = false, 0);
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed > 0 && allRead ? 0 : 1;
}

#endif
