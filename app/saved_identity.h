// The signed-in identity's secrets in the credential vault: "private_key"
// (the private-key text) and "mnemonic" (the recovery phrase), plus the
// avatar choice that outlives a log-out. The two secrets are written as a
// pair: a failed write puts back what the vault held before, so the vault
// never pairs one identity's key with another's phrase.
#pragma once

#include "identity/identity.h"

#include <QString>

namespace velmor::app {

class SavedIdentity
{
public:
    static bool exists();           // "private_key" is not empty
    static QString privateKeyText();
    static QString mnemonic();      // empty when absent

    // Saves the key and the phrase (an empty phrase removes the entry).
    // False, with both entries as they were, when the vault refuses.
    static bool save(const velmor::identity::Identity &identity, const QString &mnemonic);
    static void forgetPrivateKey();
    static void forget();           // both secrets; the avatar stays

    static QString avatar();        // empty when none was chosen
    static bool saveAvatar(const QString &avatarId);
};

} // namespace velmor::app
