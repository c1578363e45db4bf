#include "chat/push_channels.h"

#include "net/answer_json.h"
#include "net/relay_session.h"
#include "net/supergroup_center.h"
#include "net/supergroup_client.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace velmor::chat {

namespace {

PushSocket::Service relayService()
{
    PushSocket::Service service;
    service.name = QStringLiteral("inbox");
    service.configured = [] { return velmor::net::RelayAuthSession::instance().isConfigured(); };
    service.baseUrl = [] { return velmor::net::RelayAuthSession::instance().baseUrl(); };
    service.fetchToken = [](bool forget) {
        velmor::net::RelayAuthSession &relay = velmor::net::RelayAuthSession::instance();
        if (forget)
            relay.dropToken();
        return relay.token();
    };
    return service;
}

PushSocket::Service centreService()
{
    PushSocket::Service service;
    service.name = QStringLiteral("dns");
    service.baseUrl = [] { return velmor::sg::SuperGroupCenter::baseUrl(); };
    service.fetchToken = [](bool forget) {
        velmor::sg::SuperGroupServiceClient &client = velmor::sg::SuperGroupServiceClient::instance();
        const QString centre = velmor::sg::SuperGroupCenter::baseUrl();
        if (forget)
            client.forgetToken(centre);
        return client.token(centre);
    };
    service.alreadyOpenSkips = true;
    return service;
}

} // namespace

PushChannels::PushChannels(ChatHost &host, QObject *parent)
    : QObject(parent), m_inbox(host, relayService(), this), m_centre(host, centreService(), this)
{
    connect(&m_inbox, &PushSocket::connectedChanged, this, [this](bool connected) {
        if (connected)
            m_inbox.resetAttempts();
        emit inboxConnectedChanged(connected);
    });
    connect(&m_inbox, &PushSocket::textReceived, this, &PushChannels::onInboxText);
    connect(&m_centre, &PushSocket::textReceived, this, &PushChannels::onCentreText);
}

void PushChannels::shutDown()
{
    m_inbox.shutDown();
    m_centre.shutDown();
}

void PushChannels::onInboxText(const QString &text)
{
    if (text.contains(QLatin1String("hello")) || text.contains(QLatin1String("pong")))
        return;
    emit newMessageNotice();
}

void PushChannels::onCentreText(const QString &text)
{
    // A notice is a small object; one of more values is not built.
    const QString type = velmor::net::readBoundedObject(text.toUtf8(), velmor::net::kMaxEntryValues)
                             .value(QStringLiteral("type"))
                             .toString();
    if (type == QLatin1String("server.hello"))
        m_centre.resetAttempts();
    else if (type == QLatin1String("server.ping"))
        m_centre.sendJson(QStringLiteral("{\"type\":\"client.pong\"}"));
    else if (type.startsWith(QLatin1String("dns.group.")))
        emit superGroupDirectoryChanged();
}

} // namespace velmor::chat
