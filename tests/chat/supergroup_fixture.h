// A signed-in chat session beside a local group centre, with group servers
// that the user owns or belongs to, for the super-group tests.
#pragma once

#include "chat_test_support.h"

#include "chat/supergroup_parts.h"
#include "net/supergroup_center.h"
#include "net/supergroup_client.h"
#include "net/supergroup_realtime.h"
#include "support/fake_group_center.h"
#include "support/fake_group_server.h"

#include <QJsonObject>
#include <QtTest>

#include <memory>
#include <vector>

namespace chattest {

class SuperGroupFixture : public ChatFixture
{
protected:
    std::unique_ptr<velmor::fakes::FakeGroupCenter> m_center;
    std::vector<std::unique_ptr<velmor::fakes::FakeGroupServer>> m_servers;

    // A session of a fresh user against a fresh centre.
    void beginGroups(char secretByte = 0x51)
    {
        beginSession(QStringLiteral("sg"), secretByte);
        velmor::sg::SuperGroupServiceClient::instance().clearTokens();
        m_center = std::make_unique<velmor::fakes::FakeGroupCenter>();
        QVERIFY(m_center->start());
        velmor::sg::SuperGroupCenter::setBaseUrl(m_center->baseUrl());
    }
    void endGroups()
    {
        if (m_chat) {
            m_chat->disconnect();
            m_chat->stop();
            QTRY_COMPARE_WITH_TIMEOUT(m_chat->pendingJobs(), 0, 15000);
        }
        endSession();
        m_servers.clear();
        m_center.reset();
        velmor::sg::SuperGroupCenter::setBaseUrl(QString());
    }

    // A running server listed by the centre; `role` is the user's there
    // ("owner" makes the user its owner, "" leaves the user out).
    velmor::fakes::FakeGroupServer &addServer(const QString &role, const QString &name = QStringLiteral("Harbour"),
                                              const QString &deployStatus = QStringLiteral("ready"),
                                              const QString &type = QStringLiteral("standard"))
    {
        const QString owner = role == QLatin1String("owner") ? m_me.key() : peerKey(0x61);
        m_servers.push_back(std::make_unique<velmor::fakes::FakeGroupServer>(owner, name));
        velmor::fakes::FakeGroupServer &server = *m_servers.back();
        server.start();
        if (!role.isEmpty() && role != QLatin1String("owner"))
            server.addMember(m_me.key(), role, QStringLiteral("Me"));
        m_center->addServer(&server, type, deployStatus,
                            deployStatus == QLatin1String("ready") ? QString() : QStringLiteral("部署中"));
        return server;
    }

    velmor::chat::SuperGroupParts &parts() { return m_chat->superGroupParts(); }

    void waitIdle() { QTRY_COMPARE_WITH_TIMEOUT(m_chat->pendingJobs(), 0, 15000); }

    // Starts the session and waits until every listed ready group has its
    // realtime socket open.
    void startAndConnect()
    {
        m_chat->start();
        QTRY_COMPARE_WITH_TIMEOUT(parts().roster.refreshesPending(), 0, 15000);
        for (const QString &url : parts().roster.clientUrls()) {
            velmor::sg::SuperGroupRealtimeClient *client = parts().roster.client(url);
            QTRY_VERIFY_WITH_TIMEOUT(client->isConnected(), 15000);
        }
        waitIdle();
    }

    static QJsonObject textContent(const QString &text)
    {
        return QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}};
    }

    static QStringList peersOf(const QVariantList &rows)
    {
        QStringList peers;
        for (const QVariant &row : rows)
            peers << row.toMap().value(QStringLiteral("peer")).toString();
        return peers;
    }
};

} // namespace chattest
