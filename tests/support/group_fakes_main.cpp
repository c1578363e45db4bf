// Runs a local group centre and a few group servers until interrupted, for
// trying the program or the client code by hand against loopback services.
//
//   pelorin-group-fakes [--port P] [--servers N] [--owner <private key text>]
//
// Prints one JSON object with the addresses, the owner's key and two
// creation keys, then serves.
#include "support/fake_group_center.h"
#include "support/fake_group_server.h"

#include "identity/identity.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption serversOption(QStringLiteral("servers"),
                                           QStringLiteral("Group servers to start (default 2)."),
                                           QStringLiteral("N"), QStringLiteral("2"));
    const QCommandLineOption ownerOption(QStringLiteral("owner"),
                                         QStringLiteral("Private key text of the groups' owner."),
                                         QStringLiteral("key"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Loopback port of the group centre (default: any free one)."),
                                        QStringLiteral("P"), QStringLiteral("0"));
    parser.addOption(portOption);
    parser.addOption(serversOption);
    parser.addOption(ownerOption);
    parser.process(app);

    velmor::identity::Identity owner = parser.isSet(ownerOption)
        ? velmor::identity::Identity::fromPrivateKeyText(parser.value(ownerOption))
        : velmor::identity::Identity::generate();
    if (!owner.isValid()) {
        QTextStream(stderr) << "invalid owner key\n";
        return 2;
    }

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        QTextStream(stderr) << "invalid port\n";
        return 2;
    }
    velmor::fakes::FakeGroupCenter center;
    if (center.start(quint16(port)) == 0) {
        QTextStream(stderr) << "group centre failed to listen\n";
        return 1;
    }
    center.addCreationKey(QStringLiteral("standard-key-1"), QStringLiteral("standard"));
    center.addCreationKey(QStringLiteral("premium-key-1"), QStringLiteral("premium"));

    std::vector<std::unique_ptr<velmor::fakes::FakeGroupServer>> servers;
    QJsonArray serverList;
    const int count = qBound(0, parser.value(serversOption).toInt(), 16);
    for (int i = 0; i < count; ++i) {
        auto server = std::make_unique<velmor::fakes::FakeGroupServer>(
            owner.publicKeyText(), QStringLiteral("Local group %1").arg(i + 1));
        if (server->start() == 0) {
            QTextStream(stderr) << "group server failed to listen\n";
            return 1;
        }
        server->setJoinMode(i == 0 ? QStringLiteral("open") : QStringLiteral("invite"));
        center.addServer(server.get(), i == 0 ? QStringLiteral("premium") : QStringLiteral("standard"));
        serverList.append(server->baseUrl());
        servers.push_back(std::move(server));
    }

    const QJsonObject summary{{QStringLiteral("center"), center.baseUrl()},
                              {QStringLiteral("servers"), serverList},
                              {QStringLiteral("owner_private_key"), owner.privateKeyText()},
                              {QStringLiteral("owner_pubkey"), owner.publicKeyText()},
                              {QStringLiteral("creation_keys"),
                               QJsonObject{{QStringLiteral("standard"), QStringLiteral("standard-key-1")},
                                           {QStringLiteral("premium"), QStringLiteral("premium-key-1")}}}};
    QTextStream(stdout) << QJsonDocument(summary).toJson(QJsonDocument::Indented);
    QTextStream(stdout).flush();
    return app.exec();
}
