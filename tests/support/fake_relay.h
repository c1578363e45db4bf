// A local relay node: signed-challenge login, per-recipient queues, send,
// pull and acknowledge, the health probe, and the new-message WebSocket at
// "/v1/ws?token=". It runs on its own thread (see FakeHttpServer), so tests
// call the blocking client code directly.
#pragma once

#include "support/fake_common.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>

class QWebSocket;

namespace velmor::fakes {

class FakeRelay
{
public:
    struct Options
    {
        // Also answer "/v1/public/nodes" with this relay as the only node,
        // so that one port serves a whole sign-in (standalone program).
        bool serveNodeList = false;
    };

    FakeRelay();
    explicit FakeRelay(const Options &options);
    ~FakeRelay();

    quint16 start(quint16 port = 0);
    void stop();
    QString baseUrl() const { return m_http.baseUrl(); }
    quint16 port() const { return m_http.port(); }

    FakeHttpServer &http() { return m_http; }
    ChallengeAuthority &auth() { return m_auth; }

    // Fault switches.
    void setFault(const QString &path, const Fault &fault) { m_http.setFault(path, fault); }
    void clearFaults() { m_http.clearFaults(); }
    void setTokenLifetime(qint64 seconds) { m_auth.setTokenLifetime(seconds); }
    void expireAllTokens() { m_auth.expireAllTokens(); }
    // The batch endpoint answers this status (501 by default) instead of acknowledging.
    void setRefuseBatchAck(bool refuse, int status = 501);
    // Closes every open new-message socket from the server side.
    void dropWebSockets();

    // Puts an envelope (wire JSON) straight into a recipient's queue,
    // bypassing every check; for tampered and odd envelopes.
    void enqueueRaw(const QString &recipientKey, const QJsonObject &envelope);
    // Every later pull of the recipient is answered with these bytes as
    // they are, whatever its queue holds (benchmarks of the client leave
    // out the relay's own JSON work this way); empty bytes end it.
    void setPreparedPull(const QString &recipientKey, const QByteArray &body);
    // Marks a key as known to the relay, as if it had logged in once.
    void markSeen(const QString &publicKeyText);
    // Every key the relay knows (canonical text).
    QStringList seenKeys() const;

    int queueSize(const QString &recipientKey) const;
    QStringList queuedIds(const QString &recipientKey) const;
    // The wire form of each envelope queued for the recipient, oldest first.
    QList<QJsonObject> queuedEnvelopes(const QString &recipientKey) const;
    int requestCount(const QString &path) const { return m_http.requestCount(path); }
    // Sends refused with this error word ("sender_mismatch", ...) so far.
    int sendRefusals(const QString &error) const;
    int loginCount() const { return m_auth.loginCount(); }
    int webSocketCount() const;
    // The last body received on a path (for checking the wire form).
    QJsonObject lastBody(const QString &path) const;

private:
    void install();
    FakeReply handleChallenge(const QHttpServerRequest &request);
    FakeReply handleVerify(const QHttpServerRequest &request);
    FakeReply handleSend(const QHttpServerRequest &request);
    FakeReply handlePull(const QHttpServerRequest &request);
    FakeReply handleAck(const QHttpServerRequest &request);
    FakeReply handleAckBatch(const QHttpServerRequest &request);
    void acceptWebSocket(QWebSocket *socket);
    void notifyRecipient(const QString &recipientKey, const QString &messageId);
    bool isSeen(const QString &key) const;
    void rememberBody(const QString &path, const QJsonObject &body);

    Options m_options;
    FakeHttpServer m_http;
    ChallengeAuthority m_auth;

    mutable QMutex m_mutex;
    QHash<QString, QList<QJsonObject>> m_queues; // canonical recipient key -> envelopes
    QHash<QString, QByteArray> m_preparedPulls;   // canonical recipient key -> pull reply
    QSet<QString> m_seen;
    QHash<QString, QJsonObject> m_lastBodies;
    QHash<QString, int> m_sendRefusals;
    bool m_refuseBatch = false;
    int m_refuseBatchStatus = 501;
    // Touched on the server thread only.
    QHash<QWebSocket *, QString> m_sockets;
};

} // namespace velmor::fakes
