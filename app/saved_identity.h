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
    // What a sign-in from the vault can use. The phrase is the user's root:
    // an intact phrase signs in, and a key entry of another identity beside
    // it is moved aside (kept whole, never deleted) rather than trusted; so
    // is a damaged key entry beside it, which is told the same way.
    // Without a phrase the key entry signs in. A phrase is only ever handed
    // out when it derives the identity's key.
    struct Restored
    {
        velmor::identity::Identity identity; // invalid: nothing to sign in with
        QString mnemonic;
        bool keyDamaged = false;    // the key entry is there but unreadable
        bool phraseDamaged = false; // the phrase entry is there but unreadable
        bool anything = false;      // either entry is there at all
        // The key entry that did not belong to the phrase, or was damaged
        // (keptKeyDamaged), kept as this file.
        QString keptKey;
        bool keptKeyDamaged = false;
    };
    static Restored restore();

    static bool exists();           // "private_key" or "mnemonic" is there, readable or not
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
