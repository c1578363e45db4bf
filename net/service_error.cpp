#include "net/service_error.h"

#include <QStringList>

namespace velmor::net {

namespace {

struct Rule
{
    QStringList needles;
    int kind;
    const char *messageKey;
};

// Order matters: the first rule with a matching substring wins, so the more
// specific words come before the broad ones ("invalid_signature" must not
// fall into "invalid", "send_http_403" must not fall into "http").
const QList<Rule> &rules()
{
    static const QList<Rule> table = {
        {{QStringLiteral("no_identity"), QStringLiteral("invalid_identity"), QStringLiteral("not_logged")},
         ErrorNotAuthenticated,
         "error.auth.required"},
        {{QStringLiteral("invalid_signature"), QStringLiteral("sign_failed")}, ErrorInvalidSignature,
         "error.signature.invalid"},
        {{QStringLiteral("address_mismatch")}, ErrorAddressMismatch, "error.address.mismatch"},
        {{QStringLiteral("recipientneveronline"), QStringLiteral("address_not_found")},
         ErrorAddressNotFound, "error.address.notFound"},
        {{QStringLiteral("muted")}, ErrorMuted, "error.group.muted"},
        {{QStringLiteral("group_full")}, ErrorGroupFull, "error.group.full"},
        {{QStringLiteral("pending")}, ErrorJoinPending, "error.group.joinPending"},
        {{QStringLiteral("too_large")}, ErrorFileTooLarge, "error.file.tooLarge"},
        {{QStringLiteral("timeout")}, ErrorTimeout, "error.timeout"},
        {{QStringLiteral("http_403"), QStringLiteral("not_owner"), QStringLiteral("permission")},
         ErrorPermissionDenied, "error.permission.denied"},
        {{QStringLiteral("network"), QStringLiteral("http_0")}, ErrorNetwork, "error.network"},
        {{QStringLiteral("invalid"), QStringLiteral("empty")}, ErrorInvalidPayload,
         "error.payload.invalid"},
    };
    return table;
}

bool isRetryableKind(int kind)
{
    return kind == ErrorTimeout || kind == ErrorNetwork;
}

} // namespace

ServiceError classifyError(const QString &text)
{
    ServiceError error;
    error.detail = text;
    error.httpStatus = 0;
    const QString lower = text.toLower();
    for (const Rule &rule : rules()) {
        for (const QString &needle : rule.needles) {
            if (lower.contains(needle)) {
                error.code = rule.kind;
                error.messageKey = QString::fromLatin1(rule.messageKey);
                error.retryable = isRetryableKind(rule.kind);
                return error;
            }
        }
    }
    error.code = ErrorUnknown;
    error.messageKey = QStringLiteral("error.unknown");
    error.retryable = false;
    return error;
}

ServiceError errorFromHttp(int httpStatus, const QString &detail)
{
    ServiceError error;
    error.httpStatus = httpStatus;
    error.detail = detail;
    switch (httpStatus) {
    case 401:
        error.code = ErrorTokenExpired;
        error.messageKey = QStringLiteral("error.auth.expired");
        break;
    case 403:
        error.code = ErrorPermissionDenied;
        error.messageKey = QStringLiteral("error.permission.denied");
        break;
    case 408:
        error.code = ErrorTimeout;
        error.messageKey = QStringLiteral("error.timeout");
        break;
    case 0:
        error.code = ErrorNetwork;
        error.messageKey = QStringLiteral("error.network");
        break;
    default:
        error.code = ErrorHttp;
        error.messageKey = QStringLiteral("error.http");
        break;
    }
    error.retryable = isRetryableKind(error.code);
    return error;
}

QString errorKindName(int kind)
{
    static const char *const names[] = {
        "none",          "not_authenticated", "token_expired",  "invalid_signature",
        "address_mismatch", "address_not_found", "permission_denied", "muted",
        "group_full",    "join_pending",      "file_too_large", "timeout",
        "network",       "invalid_payload",   "storage",        "http",
        "unknown",
    };
    if (kind < 0 || kind >= int(sizeof(names) / sizeof(names[0])))
        return QStringLiteral("unknown");
    return QString::fromLatin1(names[kind]);
}

QVariantMap toErrorMap(const ServiceError &error)
{
    QVariantMap map;
    map.insert(QStringLiteral("code"), errorKindName(error.code));
    map.insert(QStringLiteral("codeValue"), error.code);
    map.insert(QStringLiteral("httpStatus"), error.httpStatus);
    map.insert(QStringLiteral("messageKey"), error.messageKey);
    map.insert(QStringLiteral("retryable"), error.retryable);
    map.insert(QStringLiteral("detail"), error.detail);
    return map;
}

} // namespace velmor::net
