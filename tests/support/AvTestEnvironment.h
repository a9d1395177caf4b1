#pragma once

// Small helpers shared by tests that talk to the key server: remembering and
// restoring environment variables, and reading the code out of a mail.

#include <optional>
#include <string>

// The variable's value, or nothing when it is not set.
std::optional<std::string> readVariable(const char* name);
// Sets the variable to the value, or unsets it when there is none.
void restoreVariable(const char* name, const std::optional<std::string>& value);

// The code in a mail: the one line (CRLF or LF) that holds 6 to 9 digits only;
// empty when there is none.
std::string codeInMail(const std::string& mail);
