#pragma once

// TargetDiagnosis: after the library reports that a target could not be
// opened or written, looks at the target's folder for the usual reasons (a
// name the file system cannot hold, a folder without write permission, too
// little free space), so avlt can say which one it was instead of only "the
// file could not be written". The library's result codes cannot tell them apart.

#include <cstdint>
#include <string>

class TargetDiagnosis
{
public:
    // The most likely reason a target of about `bytesNeeded` bytes could not
    // be written, or "" when none of the known ones applies.
    static std::string explain(const std::string& target, std::uint64_t bytesNeeded);
};
