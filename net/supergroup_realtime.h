// The realtime channel of one super-group server: a WebSocket at
// "/v1/ws?token=" with the server's token, kept open with pings and
// reconnected on a growing schedule until stop().
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <QAbstractSocket>

class QTimer;
class QWebSocket;

namespace velmor::sg {

class SuperGroupRealtimeClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPingIntervalMs = 20000;
    static constexpr int kSilenceLimitMs = 45000;
    // An upgrade not answered within this counts as a failed attempt.
    static constexpr int kHandshakeTimeoutMs = 10000;

    SuperGroupRealtimeClient(const QString &serverUrl, QObject *parent = nullptr);
    ~SuperGroupRealtimeClient() override;

    QString serverUrl() const { return m_serverUrl; }
    bool isRunning() const { return m_running; }
    bool isConnected() const;
    int attempts() const { return m_attempts; }

    void start();
    void stop();

    // min(1000 << min(attempt, 5), 30000) ms.
    static int reconnectDelayMs(int attempt);

    // Divides every timer interval (never the reported delays), so tests can
    // run the reconnection schedule quickly. 1 in the program.
    void setTimeDivisor(int divisor);

signals:
    void stateChanged(const QString &serverUrl, const QString &state, int latencyMs);
    void eventReceived(const QString &serverUrl, const QString &type, const QJsonObject &event);
    // A reconnection was scheduled after delayMs (the undivided delay).
    void reconnectScheduled(const QString &serverUrl, int attempt, int delayMs);

private:
    void connectNow();
    void openSocket(const QString &token);
    void scheduleReconnect();
    void dropSocket();
    void onConnected();
    void onText(const QString &text);
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void onPingTimer();
    void onHandshakeTimeout();
    void onReconnectTimer();
    bool sendJson(const QJsonObject &object);

    QString m_serverUrl;
    bool m_running = false;
    int m_attempts = 0;
    int m_divisor = 1;
    quint64 m_generation = 0; // bumped by stop() and each new attempt
    bool m_failedReported = false;
    bool m_heardFromServer = false;
    qint64 m_lastReceiveMs = 0;
    qint64 m_lastPingSentMs = 0;
    QWebSocket *m_socket = nullptr;
    QTimer *m_reconnectTimer = nullptr;
    QTimer *m_pingTimer = nullptr;
    QTimer *m_handshakeTimer = nullptr;
};

} // namespace velmor::sg
