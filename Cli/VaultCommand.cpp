#include "VaultCommand.h"

#include "AccountSession.h"
#include "CancelSignal.h"
#include "CliReporter.h"
#include "ProgressBar.h"
#include "TargetDiagnosis.h"

#include "container/CCryptFileCodes.h"
#include "files/FileTools.h"
#include "files/FileToolsCodes.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

const char* VaultCommand::operation() const
{
    return m_direction == FileWalker::Direction::Vault ? "vault" : "unvault";
}

std::string VaultCommand::likelyCause(const FileWalker::Job& job, std::uint32_t code)
{
    // Only the codes of a target that could not be created or written; the
    // others say precisely enough.
    constexpr std::uint32_t kTargetCodes[] = { CryptFileCode::OpenFailed, CryptFileCode::StreamFailedBeforeWrite,
        CryptFileCode::HeaderWrite, CryptFileCode::SegmentWrite, FileToolsCode::WriteFailed, FileToolsCode::NoAccess };
    if (std::find(std::begin(kTargetCodes), std::end(kTargetCodes), code) == std::end(kTargetCodes))
        return {};
    std::error_code error;
    const std::uintmax_t sourceSize = fs::file_size(job.source, error);
    return TargetDiagnosis::explain(job.target, error ? 0 : std::uint64_t(sourceSize));
}

bool VaultCommand::prepareTarget(const FileWalker::Job& job, const CliOptions& options)
{
    std::error_code error;
    const fs::path target(job.target);
    if (fs::exists(fs::symlink_status(target, error))) {
        if (!options.overwrite) {
            m_context.reporter.problem(operation(), job.source, job.target + " exists (use --overwrite to replace it)");
            return false;
        }
        if (fs::is_directory(target, error)) {
            m_context.reporter.problem(operation(), job.source, job.target + " is a folder");
            return false;
        }
    }
    if (!options.toFolder.empty() && !fs::is_directory(target.parent_path(), error)) {
        fs::create_directories(target.parent_path(), error);
        if (error) {
            m_context.reporter.problem(
                operation(), job.source, "cannot create the folder " + target.parent_path().string());
            return false;
        }
    }
    return true;
}

int VaultCommand::run(const CliOptions& options)
{
    const bool vaulting = m_direction == FileWalker::Direction::Vault;
    const FileWalker::Result collected = FileWalker::collect(options.paths, m_direction, options.toFolder);
    for (const auto& path : collected.missing)
        m_context.reporter.problem(operation(), path, "no such file or folder, or it cannot be read");
    for (const auto& path : collected.skipped)
        m_context.reporter.note(std::string("skipping ") + path
            + (vaulting ? ": already vaulted" : ": not a vaulted file (no .avlt ending)"));
    if (collected.jobs.empty())
        return finalStatus();

    AccountSession session;
    if (!session.signIn(options.user, options.passwordFile, m_context.reporter))
        return Failed;

    ProgressBar bar(m_context.showProgress);
    CancelSignal cancelGuard;
    CancelSignal::reset();
    for (const FileWalker::Job& job : collected.jobs) {
        if (!prepareTarget(job, options))
            continue;
        FileTools::Progress progress{ 0 };
        bar.start(fs::path(job.source).filename().string(), progress);
        const std::uint32_t code = vaulting
            ? FileTools::EncryptFile(job.source, job.target, &progress, &CancelSignal::flag(), options.removeSource)
            : FileTools::DecryptFile(job.source, job.target, &progress, &CancelSignal::flag(), options.removeSource);
        bar.finish();
        if (CancelSignal::cancelled()) {
            m_context.reporter.error(
                std::string(operation()) + " cancelled at " + job.source + "; its target was not written");
            return Cancelled;
        }
        if (FileToolsCode::isFailure(code))
            m_context.reporter.failure(operation(), job.source, code, likelyCause(job, code));
    }
    return finalStatus();
}
