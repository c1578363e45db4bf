// The error record of service calls and the classification of error words.
#pragma once

#include <QString>
#include <QVariantMap>

namespace velmor::net {

enum ErrorKind {
    ErrorNone = 0,
    ErrorNotAuthenticated = 1,
    ErrorTokenExpired = 2,
    ErrorInvalidSignature = 3,
    ErrorAddressMismatch = 4,
    ErrorAddressNotFound = 5,
    ErrorPermissionDenied = 6,
    ErrorMuted = 7,
    ErrorGroupFull = 8,
    ErrorJoinPending = 9,
    ErrorFileTooLarge = 10,
    ErrorTimeout = 11,
    ErrorNetwork = 12,
    ErrorInvalidPayload = 13,
    ErrorStorage = 14,
    ErrorHttp = 15,
    ErrorUnknown = 16,
};

struct ServiceError
{
    int code = ErrorNone;
    int httpStatus = 0;
    QString messageKey;
    bool retryable = false;
    QString detail;

    bool isError() const { return code != ErrorNone; }
};

// Maps an error word to its kind and message key (first matching substring wins).
ServiceError classifyError(const QString &text);
// Maps an HTTP status: 401 "error.auth.expired", 403 "error.permission.denied",
// 408 "error.timeout", 0 "error.network", anything else "error.http".
ServiceError errorFromHttp(int httpStatus, const QString &detail);

QString errorKindName(int kind);                 // "none" … "unknown"
QVariantMap toErrorMap(const ServiceError &error); // the six-key map the views read

} // namespace velmor::net
