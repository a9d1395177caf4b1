#pragma once

// A mailer that keeps every mail for the test to read, and can be told to fail.

#include "Mailer.h"

#include <mutex>
#include <string>
#include <vector>

namespace keyserver {

class RecordingMailer : public Mailer
{
public:
    struct Mail
    {
        std::string to;
        std::string subject;
        std::string body;
    };

    bool send(const std::string& to, const std::string& subject, const std::string& body) override
    {
        std::lock_guard lock(m_mutex);
        if (failing)
            return false;
        mails.push_back({ to, subject, body });
        return true;
    }

    bool failing = false;
    std::vector<Mail> mails;

private:
    std::mutex m_mutex;
};

} // namespace keyserver
