#include "app/saved_identity.h"

#include "identity/vault.h"

#include <QDebug>

namespace velmor::app {

namespace {

const QString kPrivateKey = QStringLiteral("private_key");
const QString kMnemonic = QStringLiteral("mnemonic");
const QString kAvatar = QStringLiteral("avatar");

// Writes the entry, or removes it for an empty value; true when the vault
// then holds exactly that value. An entry that already holds it is not
// written again: a sign-in from the vault needs no free disk space.
bool store(const QString &entry, const QByteArray &value)
{
    if (CredentialVault::read(entry) == value)
        return true;
    if (value.isEmpty()) {
        CredentialVault::remove(entry);
        return CredentialVault::read(entry).isEmpty();
    }
    return CredentialVault::write(entry, value) && CredentialVault::read(entry) == value;
}

} // namespace

SavedIdentity::Restored SavedIdentity::restore()
{
    using State = CredentialVault::EntryState;
    using velmor::identity::Identity;
    Restored out;
    State keyState = State::Absent;
    State phraseState = State::Absent;
    const QString keyText = QString::fromUtf8(CredentialVault::read(kPrivateKey, &keyState));
    const QString phraseText = QString::fromUtf8(CredentialVault::read(kMnemonic, &phraseState));
    out.keyDamaged = keyState == State::Damaged;
    out.phraseDamaged = phraseState == State::Damaged;
    out.anything = keyState != State::Absent || phraseState != State::Absent;

    const Identity fromKey = Identity::fromPrivateKeyText(keyText);
    Identity fromPhrase;
    if (!phraseText.isEmpty() && velmor::identity::isValidMnemonic(phraseText))
        fromPhrase = Identity(velmor::identity::privateKeyFromMnemonic(phraseText));
    if (fromPhrase.isValid()) {
        out.identity = fromPhrase;
        out.mnemonic = phraseText;
        // A key entry that the phrase does not derive (another key, or no
        // key at all) was not written with it (the two are saved as a pair):
        // planted, or left by a write cut short. Kept where the user can look
        // at it; the phrase's key takes the name at the sign-in's save.
        // A damaged key entry is kept aside here too, so the user hears of it
        // (the vault would otherwise move it quietly at the next save).
        const bool keyUnreadable = keyState == State::Damaged;
        if (keyUnreadable
            || (!keyText.isEmpty() && (!fromKey.isValid() || fromKey.privateKey != fromPhrase.privateKey))) {
            out.keptKey = CredentialVault::setAside(kPrivateKey);
            out.keptKeyDamaged = keyUnreadable;
            qWarning().noquote() << "[IDENTITY] the saved key is"
                                 << (keyUnreadable ? "damaged" : "not the phrase's")
                                 << "; signing in from the phrase, the key"
                                 << (out.keptKey.isEmpty() ? QStringLiteral("could not be moved aside")
                                                           : QStringLiteral("kept as ") + out.keptKey);
            // A key that cannot be moved aside is not written over either.
            if (out.keptKey.isEmpty())
                out.identity = {};
        }
    } else if (fromKey.isValid()) {
        out.identity = fromKey;
    }
    return out;
}

bool SavedIdentity::exists()
{
    using State = CredentialVault::EntryState;
    State keyState = State::Absent;
    if (!CredentialVault::read(kPrivateKey, &keyState).isEmpty() || keyState == State::Damaged)
        return true;
    State phraseState = State::Absent;
    CredentialVault::read(kMnemonic, &phraseState);
    return phraseState != State::Absent;
}

QString SavedIdentity::privateKeyText()
{
    return QString::fromUtf8(CredentialVault::read(kPrivateKey));
}

QString SavedIdentity::mnemonic()
{
    return QString::fromUtf8(CredentialVault::read(kMnemonic));
}

bool SavedIdentity::save(const velmor::identity::Identity &identity, const QString &mnemonic)
{
    const QByteArray key = identity.privateKeyText().toUtf8();
    if (key.isEmpty())
        return false;
    const QByteArray oldKey = CredentialVault::read(kPrivateKey);
    const QByteArray oldMnemonic = CredentialVault::read(kMnemonic);
    // The phrase first: a write cut short between the two leaves the new
    // phrase beside the old key, and the phrase is what a sign-in trusts.
    if (store(kMnemonic, mnemonic.toUtf8()) && store(kPrivateKey, key))
        return true;
    store(kPrivateKey, oldKey);
    store(kMnemonic, oldMnemonic);
    return false;
}

void SavedIdentity::forgetPrivateKey()
{
    CredentialVault::remove(kPrivateKey);
}

void SavedIdentity::forget()
{
    CredentialVault::remove(kPrivateKey);
    CredentialVault::remove(kMnemonic);
}

QString SavedIdentity::avatar()
{
    return QString::fromUtf8(CredentialVault::read(kAvatar));
}

bool SavedIdentity::saveAvatar(const QString &avatarId)
{
    return CredentialVault::write(kAvatar, avatarId.toUtf8());
}

} // namespace velmor::app
