// How the chat controller reports a failure to the views: one error record
// (velmor::net::ServiceError) becomes the six-key map held in `lastError`,
// then `lastErrorChanged`, `operationFailed(map)` and `errorOccurred(text)`
// are emitted in that order (the controller forwards the three signals as
// its own).
//
// How a part reports: `publishWord("image_too_large")` for an error word
// (classified by velmor::net::classifyError), `publish(error)` for a record
// it already has. Background jobs publish only from their continuation, on
// the GUI thread. Nothing ever clears `lastError`; a new error replaces it.
#pragma once

#include "net/service_error.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace velmor::chat {

class ErrorModel : public QObject
{
    Q_OBJECT
public:
    explicit ErrorModel(QObject *parent = nullptr);

    QVariantMap lastError() const { return m_lastError; }

    void publish(const velmor::net::ServiceError &error);
    void publishWord(const QString &word);

signals:
    void lastErrorChanged();
    void operationFailed(const QVariantMap &error);
    void errorOccurred(const QString &message);

private:
    QVariantMap m_lastError;
};

} // namespace velmor::chat
