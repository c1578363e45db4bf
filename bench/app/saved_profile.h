#pragma once
// A profile folder holding a saved identity, as a previous sign-in leaves it,
// so that a started program signs in by itself.
#include "identity/identity.h"
#include "identity/vault.h"

#include <QFile>
#include <QString>

inline bool saveNewIdentityIn(const QString &dataHome)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const auto identity = velmor::identity::Identity::generate();
    const bool ok = CredentialVault::write(QStringLiteral("private_key"), identity.privateKeyText().toUtf8());
    qunsetenv("XDG_DATA_HOME");
    return ok;
}
