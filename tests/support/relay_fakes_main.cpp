// Serves a fake relay node (with its normal-group and discovery paths),
// together with a node-address service that lists it, on one loopback port, for trying the app by hand:
//   pelorin-relay-fakes [port]        (default 8787)
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    quint16 port = 8787;
    if (args.size() > 1) {
        bool ok = false;
        const uint value = args.at(1).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            QTextStream(stderr) << "usage: pelorin-relay-fakes [port]\n";
            return 2;
        }
        port = quint16(value);
    }
    velmor::fakes::FakeRelay relay(velmor::fakes::FakeRelay::Options{true});
    velmor::fakes::FakeRelayGroups groups(relay); // normal groups and discovery paths
    groups.setKnowsSignedInUsers(true);           // addresses of everyone signed in resolve
    if (relay.start(port) == 0) {
        QTextStream(stderr) << "pelorin-relay-fakes: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    QTextStream(stdout) << "relay and node list at " << relay.baseUrl() << Qt::endl;
    return app.exec();
}
