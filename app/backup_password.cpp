#include "app/backup_password.h"

#include "identity/crypto.h"

#include <QList>

#include <algorithm>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace velmor::app {

using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

QString backupPasswordEntry(const QString &erc20Address)
{
    const QString address = erc20Address.trimmed().toLower();
    if (address.isEmpty())
        return {};
    return QStringLiteral("backup_pwd_v2_") + address;
}

QByteArray deriveBackupHash(const QString &password, const QByteArray &salt, int iterations)
{
    if (salt.isEmpty() || iterations <= 0)
        return {};
    const QByteArray utf8 = password.toUtf8();
    QByteArray out(kBackupHashBytes, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(utf8.constData(), int(utf8.size()),
                                     reinterpret_cast<const unsigned char *>(salt.constData()),
                                     int(salt.size()), iterations, EVP_sha256(), int(out.size()),
                                     reinterpret_cast<unsigned char *>(out.data()));
    return ok == 1 ? out : QByteArray();
}

QByteArray makeBackupRecord(const QString &password)
{
    if (password.isEmpty())
        return {};
    const QByteArray salt = velmor::crypto::randomBytes(kBackupSaltBytes);
    if (salt.size() != kBackupSaltBytes)
        return {};
    const QByteArray hash = deriveBackupHash(password, salt, kBackupIterations);
    if (hash.size() != kBackupHashBytes)
        return {};
    return "v1|" + QByteArray::number(kBackupIterations) + '|' + base64UrlEncode(salt).toLatin1() + '|'
        + base64UrlEncode(hash).toLatin1();
}

bool verifyBackupRecord(const QByteArray &record, const QString &password)
{
    const QList<QByteArray> fields = record.split('|');
    if (fields.size() != 4 || fields.at(0) != "v1")
        return false;
    // Plain decimal digits only: no sign, no spaces, no leading "+".
    const QByteArray &count = fields.at(1);
    if (count.isEmpty() || count.size() > 9
        || !std::all_of(count.begin(), count.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int iterations = count.toInt();
    const QByteArray salt = base64UrlDecode(QString::fromLatin1(fields.at(2)));
    const QByteArray hash = base64UrlDecode(QString::fromLatin1(fields.at(3)));
    if (iterations <= 0 || iterations > kBackupMaxIterations || salt.isEmpty()
        || hash.size() != kBackupHashBytes)
        return false;
    const QByteArray derived = deriveBackupHash(password, salt, iterations);
    return derived.size() == hash.size()
        && CRYPTO_memcmp(derived.constData(), hash.constData(), size_t(hash.size())) == 0;
}

} // namespace velmor::app
