#include "identity/service_login.h"

#include <QUrl>

namespace velmor::identity {

namespace {

constexpr int kMinChallengeLength = 16;
constexpr int kMaxChallengeLength = 256;

void appendField(QByteArray &out, const QByteArray &value)
{
    out.append(QByteArray::number(value.size()));
    out.append(':');
    out.append(value);
}

} // namespace

QList<QByteArray> identitySigningTags()
{
    return {kEnvelopeSigningTag, kWalletCardSigningTag, kNoticeSigningTag, kGroupAdminSigningTag,
            kServiceLoginSigningTag};
}

QString serviceLoginUrl(const QString &baseUrl)
{
    const QUrl url(baseUrl.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment()
        || (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        return QString();
    QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    // The path as a request to the service would use it: "." and ".."
    // resolved, and the trailing "/" that the base URL may or may not carry
    // dropped, so one service has one text whichever way it is written.
    QString path = url.adjusted(QUrl::NormalizePathSegments).path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return scheme + QStringLiteral("://") + host + QLatin1Char(':') + QString::number(port) + path;
}

bool isWellFormedChallenge(const QString &challenge)
{
    if (challenge.size() < kMinChallengeLength || challenge.size() > kMaxChallengeLength)
        return false;
    for (const QChar c : challenge) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-'
            || u == '_' || u == '.' || u == ':' || u == '~';
        if (!ok)
            return false;
    }
    return true;
}

QByteArray serviceLoginSigningBytes(const QString &loginUrl, const QString &challenge)
{
    if (loginUrl.isEmpty() || !isWellFormedChallenge(challenge))
        return QByteArray();
    QByteArray out(kServiceLoginSigningTag);
    appendField(out, loginUrl.toUtf8());
    out.append('\n');
    appendField(out, challenge.toUtf8());
    return out;
}

} // namespace velmor::identity
