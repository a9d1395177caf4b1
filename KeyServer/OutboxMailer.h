#pragma once

// Mail delivery into a folder: every mail becomes one RFC 5322 file
// "<UTC time>-<sequence>-<random>.eml" (readable by the owner only), written
// under a temporary name and renamed, so a reader never sees half a mail. A
// local installation needs no mail server this way: the codes are read from
// the files. Each delivery is logged with the file's path.

#include "Mailer.h"

#include <atomic>
#include <string>

namespace keyserver {

class ServerLog;

class OutboxMailer : public Mailer
{
public:
    // `folder` is created (mode 0700) when missing; `log` may be null.
    OutboxMailer(std::string folder, std::string fromAddress, ServerLog* log);

    bool send(const std::string& to, const std::string& subject, const std::string& body) override;

    const std::string& folder() const { return m_folder; }

private:
    std::string m_folder;
    std::string m_from;
    ServerLog* m_log;
    std::atomic<unsigned> m_sequence{ 0 };
};

} // namespace keyserver
