// Helpers shared by the super-group client tests: JSON written with single
// quotes, and a signed-in user with no cached server tokens.
#pragma once

#include "identity/identity.h"
#include "net/relay_session.h"
#include "net/supergroup_client.h"

#include <QByteArray>
#include <QString>

namespace sgtest {

// JSON text written with single quotes, for readability.
inline QByteArray quoted(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// Makes the identity the signed-in user. The relay address is never
// contacted: the super-group calls take only the keys from the session.
inline void signIn(const velmor::identity::Identity &identity)
{
    velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:9"), identity);
}

// Forgets every server token and signs the identity in.
inline void signInAfresh(const velmor::identity::Identity &identity)
{
    velmor::sg::SuperGroupServiceClient::instance().clearTokens();
    signIn(identity);
}

} // namespace sgtest
