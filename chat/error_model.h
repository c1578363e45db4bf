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
    // The word of a member whose feature is not part of this build yet.
    static constexpr const char *kNotAvailableWord = "not_available";

    explicit ErrorModel(QObject *parent = nullptr);

    QVariantMap lastError() const { return m_lastError; }

    void publish(const velmor::net::ServiceError &error);
    void publishWord(const QString &word);
    // Kind "unknown" with the detail "not_available: <member>", so the views
    // and the logs can tell which call had nothing behind it yet.
    void publishNotAvailable(const QString &member);

signals:
    void lastErrorChanged();
    void operationFailed(const QVariantMap &error);
    void errorOccurred(const QString &message);

private:
    QVariantMap m_lastError;
};

} // namespace velmor::chat
