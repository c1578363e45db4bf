#include "chat/error_model.h"

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

} // namespace velmor::chat
