// The kept-alive connections of the request runner (http.h): every request
// to a service, send, pull, login, read or group-server call alike, goes
// over one of them, so a service is reached over one connection while the
// requests come one at a time. At most six are open to one host at a time,
// as Qt allows for its own (more requests wait for one to end), and the idle
// ones stay open for the next request. Lives on the network thread and
// closes them when it goes.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QAbstractSocket;

namespace velmor::net {

class HttpExchange;

class HttpConnectionPool : public QObject
{
public:
    // True when `exchange` may open or take a connection now; else it is
    // begun again once another exchange with the host has ended.
    bool enter(const QUrl &url, HttpExchange *exchange);
    void leave(const QUrl &url);
    // An idle connection to the URL's host found open just now (nothing came
    // on it while it was idle, not even its close), or null.
    QAbstractSocket *take(const QUrl &url);
    void giveBack(const QUrl &url, QAbstractSocket *socket);

private:
    struct Idle
    {
        QString key;
        QPointer<QAbstractSocket> socket;
    };
    struct Waiting
    {
        QString key;
        QPointer<HttpExchange> exchange;
    };
    QList<Idle> m_idle;
    QHash<QString, int> m_busy;
    QList<Waiting> m_waiting;
};

bool isTlsUrl(const QUrl &url);

} // namespace velmor::net
