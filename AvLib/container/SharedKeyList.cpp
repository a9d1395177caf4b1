#include "container/SharedKeyList.h"

void SharedKeyList::append(std::unique_ptr<SharedKey> key, std::uint64_t position)
{
    SharedKeyTags tags;
    tags.position = position;
    if (key->isDeleted())
        tags.flags |= SharedKeyTags::Deleted;
    m_entries.push_back(Entry{ std::move(key), tags });
}

std::optional<std::size_t> SharedKeyList::find(std::uint64_t keyId) const
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].key->keyId == keyId)
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> SharedKeyList::findLive(std::uint64_t keyId) const
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (!m_entries[i].tags.isDeleted() && m_entries[i].key->keyId == keyId)
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> SharedKeyList::freeSlot(std::uint16_t length) const
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].tags.isDeleted() && m_entries[i].key->length == length)
            return i;
    }
    return std::nullopt;
}

void SharedKeyList::replace(std::size_t index, std::unique_ptr<SharedKey> key)
{
    Entry& entry = m_entries[index];
    entry.key = std::move(key); // the old share wipes its wrapped key as it goes
    entry.tags.flags &= ~SharedKeyTags::Deleted;
}

void SharedKeyList::markDeleted(std::size_t index)
{
    Entry& entry = m_entries[index];
    entry.key->markDeleted();
    entry.tags.flags |= SharedKeyTags::Deleted;
}
