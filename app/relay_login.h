// The sign-in worker: find a relay node through the node-address service and
// log in to it with the identity (signed challenge). Blocking; runs on a pool
// thread and touches only the process-wide relay session.
#pragma once

#include "identity/identity.h"

#include <QString>

namespace velmor::app {

struct LoginOutcome
{
    bool ok = false;
    QString errorText; // user-facing; empty when ok
    QString node;      // base URL of the chosen relay node; empty when none answered
    // The store step, after a relay login that succeeded: why the store did
    // not open ("busy", "diskFull", "damaged", "foreign", "newer"; empty
    // for any other reason or when it opened), the damaged file kept aside
    // on the way, and the file that was refused (a link or another user's,
    // or a newer build's).
    QString storeProblem;
    QString storeSetAside;
    int storeSalvaged = 0; // messages read back from the file kept aside
    QString storeForeign;
    bool relayDone = false; // the relay login step succeeded
    bool saved = false;     // the identity is in the vault
};

LoginOutcome runRelayLogin(const velmor::identity::Identity &identity, const QString &nodeDirectoryUrl);

} // namespace velmor::app
