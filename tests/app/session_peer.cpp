// One signed-in client without views, driven line by line over stdin and
// stdout by the two-profile check (tst_two_profiles). It runs in whatever
// profile its environment names (XDG_DATA_HOME), signs in with a new
// identity through the real session object against the services named by
// PELORIN_NODE_DIRECTORY_URL, and then:
//   "send <peer key> <text>"  sends a text        -> "sent" | "send-failed <error>"
//   "quit"                    logs out and ends
// Every message that arrives is printed as "received <sender key> <text>".
#include "app/app_controller.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "net/relay_session.h"

#include <QFutureWatcher>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QtConcurrent>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    QTextStream out(stdout);
    out << line << Qt::endl;
}

struct Received
{
    QString sender;
    QString text;
};

// Pulls the inbox once, opens every readable text and acknowledges it.
QList<Received> pullTexts()
{
    const velmor::identity::Identity me = velmor::net::RelayAuthSession::instance().identity();
    QList<Received> texts;
    QStringList done;
    for (const velmor::chat::RawEnvelope &envelope : velmor::chat::RelayApi::pull()) {
        if (!envelope.valid)
            continue;
        const velmor::chat::MessageContent content =
            velmor::chat::parseMessageContent(
            velmor::identity::openDirectMessage(envelope.ciphertext, envelope.senderPubkey, me));
        if (content.ok && content.type == QLatin1String("text"))
            texts.append({envelope.senderPubkey, content.text});
        done.append(envelope.messageId);
    }
    if (!done.isEmpty())
        velmor::chat::RelayApi::ack(done);
    return texts;
}

class Peer : public QObject
{
public:
    Peer()
    {
        connect(&m_app, &AppController::loggedInChanged, this, [this] {
            if (m_app.loggedIn())
                onSignedIn();
        });
        connect(&m_app, &AppController::errorTextChanged, this, [this] {
            if (!m_app.errorText().isEmpty()) {
                say(QStringLiteral("login-failed ") + m_app.errorText());
                QCoreApplication::exit(1);
            }
        });
        m_pollTimer.setInterval(100);
        connect(&m_pollTimer, &QTimer::timeout, this, &Peer::poll);
        m_app.generateAndLogin();
    }

private:
    void onSignedIn()
    {
        say(QStringLiteral("signed-in ") + m_app.myPublicKey());
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, &Peer::readCommand);
        m_pollTimer.start();
    }

    void readCommand()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::exit(0);
            return;
        }
        m_pending += QString::fromUtf8(buffer, int(n));
        qsizetype end;
        while ((end = m_pending.indexOf(QLatin1Char('\n'))) >= 0) {
            const QString line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            run(line);
        }
    }

    void run(const QString &line)
    {
        if (line == QLatin1String("quit")) {
            m_app.logout();
            QCoreApplication::exit(0);
            return;
        }
        if (!line.startsWith(QLatin1String("send ")))
            return;
        const QString peer = line.section(QLatin1Char(' '), 1, 1);
        const QString text = line.section(QLatin1Char(' '), 2);
        auto *watcher = new QFutureWatcher<velmor::chat::RelaySendResult>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [watcher] {
            const auto result = watcher->result();
            say(result.ok ? QStringLiteral("sent") : QStringLiteral("send-failed ") + result.error);
            watcher->deleteLater();
        });
        watcher->setFuture(QtConcurrent::run([peer, text] { return velmor::chat::RelayApi::sendText(peer, text); }));
    }

    void poll()
    {
        if (m_pulling)
            return;
        m_pulling = true;
        auto *watcher = new QFutureWatcher<QList<Received>>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
            for (const Received &message : watcher->result())
                say(QStringLiteral("received %1 %2").arg(message.sender, message.text));
            m_pulling = false;
            watcher->deleteLater();
        });
        watcher->setFuture(QtConcurrent::run(pullTexts));
    }

    AppController m_app;
    QSocketNotifier *m_input = nullptr;
    QTimer m_pollTimer;
    QString m_pending;
    bool m_pulling = false;
};

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    Peer peer;
    return application.exec();
}
