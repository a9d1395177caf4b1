#include "InfoCommand.h"

#include "CliReporter.h"

#include "container/CCryptFile.h"
#include "container/CCryptFileCodes.h"

#include <sstream>

std::string InfoCommand::describe(const CCryptFile& container)
{
    std::uint64_t dataSize = 0;
    container.GetDataSize(dataSize);
    std::ostringstream text;
    text << container.filePath() << "\n"
         << "  format version: " << int(container.formatVersion()) << "\n"
         << "  file key id:    " << container.fileKeyIdentifier() << "\n"
         << "  data size:      " << dataSize << " bytes\n"
         << "  segment size:   " << container.segmentSize() << " bytes\n"
         << "  pad count:      " << int(container.padCount()) << "\n"
         << "  shares:\n";
    std::size_t slot = 0;
    for (const auto& entry : container.shareList()) {
        ++slot;
        text << "    " << slot << ". ";
        if (entry.tags.isDeleted() || !entry.key || entry.key->isDeleted())
            text << "(deleted slot)";
        else
            text << entry.key->name() << "  key id " << entry.key->keyId;
        if (slot == 1)
            text << "  [owner slot]";
        text << "\n";
    }
    if (slot == 0)
        text << "    (none)\n";
    return text.str();
}

int InfoCommand::run(const CliOptions& options)
{
    bool first = true;
    for (const std::string& path : options.paths) {
        std::uint32_t code = 0;
        // Damaged trailing shares still show what is there.
        const CCryptFile container(path, CCryptFile::ReadOnly, CCryptFile::QuietBrokenShares, code);
        if (CryptFileCode::isFailure(code)) {
            m_context.reporter.failure("info", path, code);
            continue;
        }
        if (!first)
            m_context.out << "\n";
        first = false;
        m_context.out << describe(container);
    }
    m_context.out.flush();
    return finalStatus();
}
