#include "server/AvKeyServerClient.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"
#include "server/AVServerConnector.h"

#include <memory>

void installKeyServerClient()
{
    AvKeyring& ring = AvKeyring::instance();
    ring.setConnectorFactory([](AvKeyring& keyring) -> std::unique_ptr<AvKeyringConnector> {
        return std::make_unique<AVServerConnector>(&keyring, true);
    });
    AvCredentials::setServerUserIdLookup([](const std::string& userName) {
        std::string loginId;
        AVServerConnector(&AvKeyring::instance(), false).GetLoginID(userName, loginId);
        return loginId;
    });
}

void removeKeyServerClient()
{
    AvKeyring::instance().setConnectorFactory({});
    AvCredentials::setServerUserIdLookup({});
}
