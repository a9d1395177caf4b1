#include "KeyList.h"

#include "util/AvStrings.h"

namespace keyserver {

const StoredKey* KeyList::find(const std::vector<StoredKey>& keys, std::uint64_t keyId)
{
    for (const StoredKey& key : keys) {
        if (key.keyId == keyId)
            return &key;
    }
    return nullptr;
}

void KeyList::keepKnownPublicKeys(std::vector<StoredKey>& uploaded, const std::vector<StoredKey>& stored)
{
    for (StoredKey& key : uploaded) {
        if (!key.publicKey.empty())
            continue;
        if (const StoredKey* known = find(stored, key.keyId))
            key.publicKey = known->publicKey;
    }
}

std::uint64_t KeyList::chooseActiveKey(
    const std::vector<StoredKey>& uploaded, std::uint64_t requested, const Account& stored)
{
    std::uint64_t active = 0;
    if (requested != 0) {
        active = requested;
    } else {
        int withPublicKey = 0;
        for (const StoredKey& key : uploaded) {
            if (!key.publicKey.empty()) {
                active = key.keyId;
                ++withPublicKey;
            }
        }
        if (withPublicKey > 1)
            return 0;
        if (withPublicKey == 0)
            active = stored.activeKey;
    }
    const StoredKey* entry = find(uploaded, active);
    if (!entry)
        return 0;
    if (entry->publicKey.empty()) {
        const StoredKey* known = find(stored.keys, active);
        if (!known || known->publicKey.empty())
            return 0;
    }
    return active;
}

Json::Value KeyList::toUserkeys(const std::vector<StoredKey>& keys, std::uint64_t activeKey)
{
    Json::Value list(Json::arrayValue);
    for (const StoredKey& key : keys) {
        Json::Value entry(Json::objectValue);
        entry["KeyID"] = keyIdToText(key.keyId);
        entry["PrivateKey"] = key.privateKey;
        if (key.keyId == activeKey)
            entry["PublicKey"] = key.publicKey;
        list.append(entry);
    }
    return list;
}

Json::Value KeyList::toKeylist(const std::vector<StoredKey>& keys)
{
    Json::Value list(Json::arrayValue);
    for (const StoredKey& key : keys)
        list.append(keyIdToText(key.keyId));
    return list;
}

} // namespace keyserver
