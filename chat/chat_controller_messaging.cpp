// The façade's members for the inbox, acknowledgements, sending and the push
// sockets. Each forwards to its part once that part exists; until then the
// invokables report "not_available" and the session seams do nothing.
#include "chat/chat_controller.h"

void ChatController::pullOnce()
{
}

void ChatController::refresh()
{
    // Becomes pullOnce() with the inbox part.
    m_errors.publishNotAvailable(QStringLiteral("refresh"));
}

void ChatController::retryPendingAcks()
{
}

void ChatController::connectInboxRealtime()
{
}

void ChatController::connectDnsRealtime()
{
}

void ChatController::closePushSockets()
{
}

void ChatController::forgetSendCaches()
{
}

void ChatController::sendText(const QString &text)
{
    Q_UNUSED(text);
    m_errors.publishNotAvailable(QStringLiteral("sendText"));
}

void ChatController::sendImageFromFile(const QString &fileUrl)
{
    Q_UNUSED(fileUrl);
    m_errors.publishNotAvailable(QStringLiteral("sendImageFromFile"));
}

void ChatController::sendVoiceFromFile(const QString &filePath, int durationMs)
{
    Q_UNUSED(filePath);
    Q_UNUSED(durationMs);
    m_errors.publishNotAvailable(QStringLiteral("sendVoiceFromFile"));
}

void ChatController::retryMessage(const QString &messageId)
{
    Q_UNUSED(messageId);
    m_errors.publishNotAvailable(QStringLiteral("retryMessage"));
}
