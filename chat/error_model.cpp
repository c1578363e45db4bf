#include "chat/error_model.h"

#include <QDebug>

namespace velmor::chat {

ErrorModel::ErrorModel(QObject *parent)
    : QObject(parent)
{
}

void ErrorModel::publish(const velmor::net::ServiceError &error)
{
    m_lastError = velmor::net::toErrorMap(error);
    emit lastErrorChanged();
    emit operationFailed(m_lastError);
    emit errorOccurred(error.messageKey.isEmpty() ? error.detail : error.messageKey);
}

void ErrorModel::publishWord(const QString &word)
{
    publish(velmor::net::classifyError(word));
}

void ErrorModel::publishNotAvailable(const QString &member)
{
    // Classified from the bare word: a member name such as "setGroupMuted"
    // must not turn the record into another kind ("muted").
    velmor::net::ServiceError error = velmor::net::classifyError(QString::fromLatin1(kNotAvailableWord));
    error.detail = QStringLiteral("%1: %2").arg(QString::fromLatin1(kNotAvailableWord), member);
    qInfo().noquote() << "[CHAT]" << member << "is not available in this build";
    publish(error);
}

} // namespace velmor::chat
