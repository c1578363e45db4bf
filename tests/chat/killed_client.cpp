#include "killed_client.h"

#include "net/supergroup_center.h"
#include "store/failing_vfs.h"

#include <QProcess>
#include <QTest>
#include <QTextStream>

namespace chattest {

int runKilledChild(int argc, char **argv, const ChildScript &script)
{
    QCoreApplication app(argc, argv);
    const QStringList words = app.arguments();
    // As in the parent: a disk the script may fill.
    storetest::FailingWrites::install();
    const velmor::identity::Identity me = identityFromByte(char(words.at(4).toInt()));
    velmor::sg::SuperGroupCenter::setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
    velmor::net::RelayAuthSession::instance().configure(words.at(2), me);
    if (!ChatStore::instance().open(me.publicKeyText(), words.at(3)))
        return 3;
    ChatController chat;
    chat.watchReachability(false);
    chat.start();
    chat.messaging().push.shutDown();
    const QString peer = words.at(5);
    if (peer.startsWith(QLatin1String("group:")) || peer.startsWith(QLatin1String("sg:")))
        chat.openConversation(peer);
    else if (!chat.newChat(peer))
        return 4;
    if (!script(chat, words.mid(6)))
        return 5;
    return app.exec();
}

void childSays(const QString &line)
{
    QTextStream(stdout) << line << Qt::endl;
}

QStringList runUntilKilled(const QString &mode, const QString &relayUrl, const User &user, char secretByte,
                           const QString &peer, const QStringList &args, int lines, int settleMs)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{mode, relayUrl, user.dbPath, QString::number(int(secretByte)), peer} + args);
    QStringList read;
    while (read.size() < lines && child.waitForReadyRead(20000)) {
        while (child.canReadLine())
            read << QString::fromUtf8(child.readLine()).trimmed();
    }
    QTest::qWait(settleMs);
    child.kill();
    child.waitForFinished();
    return read;
}

} // namespace chattest
