#pragma once

// SharedKeyList: a container's shares in file order, each an owned SharedKey
// with its SharedKeyTags. The first entry is the owner's share, written in the
// header area; the others follow the data. Removed shares stay in the list as
// free slots (deleted) until a new share of the same length takes their place,
// so the file keeps its layout.

#include "container/SharedKey.h"
#include "container/SharedKeyTags.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// (user name, recipient key id) pairs exchanged with the file tools.
using ShareNameList = std::vector<std::pair<std::string, std::uint64_t>>;

class SharedKeyList
{
public:
    struct Entry
    {
        std::unique_ptr<SharedKey> key;
        SharedKeyTags tags;
    };

    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    Entry& operator[](std::size_t index) { return m_entries[index]; }
    const Entry& operator[](std::size_t index) const { return m_entries[index]; }
    auto begin() { return m_entries.begin(); }
    auto end() { return m_entries.end(); }
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

    void append(std::unique_ptr<SharedKey> key, std::uint64_t position);
    // The first entry with this key id, deleted or not.
    std::optional<std::size_t> find(std::uint64_t keyId) const;
    // The first entry with this key id that is not a free slot.
    std::optional<std::size_t> findLive(std::uint64_t keyId) const;
    // The first free slot a share of `length` bytes fits into exactly.
    std::optional<std::size_t> freeSlot(std::uint16_t length) const;
    // Puts a new share into a free slot: it takes the slot's place and position.
    void replace(std::size_t index, std::unique_ptr<SharedKey> key);
    // Clears the share and marks its entry as a free slot.
    void markDeleted(std::size_t index);

private:
    std::vector<Entry> m_entries;
};
