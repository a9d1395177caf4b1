#pragma once

// SharedKeyTags: the bookkeeping kept beside each share of a container's
// share list: where its packet starts in the file and whether it is a free
// slot left by a removed share.

#include <cstdint>

struct SharedKeyTags
{
    static constexpr std::uint64_t Unplaced = ~std::uint64_t(0);
    static constexpr int Deleted = 1;

    std::uint64_t position = Unplaced; // file offset of the share's tag byte
    int flags = 0;

    bool isDeleted() const { return (flags & Deleted) != 0; }
};
