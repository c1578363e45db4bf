// The backup password that guards the display of the recovery phrase and the
// private key. Kept per identity as the text record
//   "v1|<iterations>|<base64url salt>|<base64url PBKDF2-HMAC-SHA-256>"
// in the credential vault; the password itself is never stored.
#pragma once

#include <QByteArray>
#include <QString>

namespace velmor::app {

constexpr int kBackupIterations = 600000;
constexpr int kBackupSaltBytes = 16;
constexpr int kBackupHashBytes = 32;
// A record asking for more work than this is refused rather than run: an
// altered record must not be able to hold the window for minutes.
constexpr int kBackupMaxIterations = 10000000;

// The vault entry of the identity with this ERC-20 address; empty without one.
QString backupPasswordEntry(const QString &erc20Address);

// PBKDF2-HMAC-SHA-256 of the password's UTF-8 bytes; empty on failure.
QByteArray deriveBackupHash(const QString &password, const QByteArray &salt, int iterations);

// A new record for the password with a fresh salt; empty for an empty
// password or when randomness or hashing fails.
QByteArray makeBackupRecord(const QString &password);

// True exactly when the record is well formed and the password matches it
// (compared in constant time).
bool verifyBackupRecord(const QByteArray &record, const QString &password);

} // namespace velmor::app
