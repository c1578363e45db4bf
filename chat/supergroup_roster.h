// The user's super groups as the group centre lists them: the conversation
// entries of the super groups, their stored rows and runtime records, and one
// realtime client per ready group server (never two for one URL). A failed
// list request changes nothing: no entry, row, role or client is dropped.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace velmor::sg {
class SuperGroupRealtimeClient;
}

namespace velmor::chat {

class ChatHost;
class SuperGroupEvents;
class SuperGroupSync;

class SuperGroupRoster : public QObject
{
    Q_OBJECT
public:
    SuperGroupRoster(ChatHost &host, SuperGroupSync &sync, SuperGroupEvents &events, QObject *parent = nullptr);
    ~SuperGroupRoster() override;

    void refresh();
    // Stops and drops every realtime client (end of the session).
    void stopClients();

    QStringList clientUrls() const { return m_clients.keys(); }
    velmor::sg::SuperGroupRealtimeClient *client(const QString &serverUrl) const
    {
        return m_clients.value(serverUrl);
    }
    // Refreshes whose result has not come back yet.
    int refreshesPending() const { return m_refreshing; }
    // Divides the clients' timer intervals (tests run the reconnection
    // schedule quickly); applies to clients created afterwards.
    void setClientTimeDivisor(int divisor) { m_divisor = divisor; }

signals:
    void connectionStateChanged(const QString &serverUrl, const QString &state, int latencyMs);
    void notificationsReloadWanted();
    void refreshed();

private:
    void syncClients(const QStringList &serverUrls);
    void onState(const QString &serverUrl, const QString &state, int latencyMs);

    ChatHost &m_host;
    SuperGroupSync &m_sync;
    SuperGroupEvents &m_events;
    QHash<QString, velmor::sg::SuperGroupRealtimeClient *> m_clients;
    int m_refreshing = 0;
    int m_divisor = 1;
};

} // namespace velmor::chat
