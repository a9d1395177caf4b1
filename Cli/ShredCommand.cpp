#include "ShredCommand.h"

#include "CliReporter.h"

#include "files/FileTools.h"
#include "files/FileToolsCodes.h"

#include <filesystem>

namespace fs = std::filesystem;

int ShredCommand::run(const CliOptions& options)
{
    for (const std::string& path : options.paths) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(path, error);
        if (error || !fs::exists(status)) {
            m_context.reporter.problem("shred", path, "no such file");
            continue;
        }
        if (fs::is_symlink(status)) {
            m_context.reporter.problem("shred", path, "is a symbolic link (shred the file it points to instead)");
            continue;
        }
        if (!fs::is_regular_file(status)) {
            m_context.reporter.problem("shred", path, "is not a regular file");
            continue;
        }
        const std::uint32_t code = FileTools::ShredFile(path, options.passes);
        if (code != FileToolsCode::DoneRemoved)
            m_context.reporter.failure("shred", path, code);
    }
    return finalStatus();
}
