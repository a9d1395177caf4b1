#pragma once

// Seed containers for the container harnesses, made by the real writer with
// the test account as owner (FuzzEnvironment): empty, short and multi-segment
// contents, a trailing share for a second account, a removed share, a file
// whose only openable share comes after the data, one that the test account
// cannot open, and a few patched variants (a file name packet, format
// version 1, another segment size) that the writer does not produce itself.

#include <string>

class ContainerSeeds
{
public:
    // Writes the seeds as files into `folder` (which ends with "/").
    static void write(const std::string& folder);
};
