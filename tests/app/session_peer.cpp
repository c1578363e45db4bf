// One signed-in client without views, driven line by line over stdin and
// stdout by the two-profile check (tst_two_profiles). It runs in whatever
// profile its environment names (XDG_DATA_HOME), against the services named
// by PELORIN_NODE_DIRECTORY_URL and PELORIN_GROUP_CENTER_URL, with the objects the program itself uses:
// the session object signs in with a new identity, the chat controller runs
// the session, the desktop notifier takes its notices. Then:
//   "send <peer key> <text>"  opens a chat with the peer and sends the text
//                             -> "sent" | "send-failed <status>"
//   "open <peer key>"         opens the conversation with the peer
//   "quit"                    stops the session, logs out and ends
// It prints "signed-in <own key>" first, "received <peer> <text>" for each
// incoming message of the open conversation and "notice <peer> <body>" for
// each desktop notice.
#include "app/app_controller.h"
#include "app/desktop_notifier.h"
#include "app/service_endpoints.h"
#include "chat/chat_controller.h"

#include <QApplication>
#include <QSet>
#include <QSocketNotifier>
#include <QTextStream>

#include <unistd.h>

namespace {

void say(const QString &line)
{
    QTextStream out(stdout);
    out << line << Qt::endl;
}

// Message status values of the message list.
constexpr int kSent = 1;
constexpr int kReceived = 4;

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
        connect(&m_chat, &ChatController::messagesChanged, this, &Peer::reportMessages);
        connect(&m_chat, &ChatController::systemNotificationRequested, this,
                [](const QString &peer, const QString &, const QString &body) {
                    say(QStringLiteral("notice %1 %2").arg(peer, body));
                });
        m_app.generateAndLogin();
    }

private:
    void onSignedIn()
    {
        m_chat.start();
        say(QStringLiteral("signed-in ") + m_app.myPublicKey());
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, &Peer::readCommand);
    }

    void readCommand()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            quit();
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
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        const QString peer = line.section(QLatin1Char(' '), 1, 1);
        if (command == QLatin1String("quit")) {
            quit();
        } else if (command == QLatin1String("open")) {
            m_chat.openConversation(peer);
        } else if (command == QLatin1String("send")) {
            if (!m_chat.newChat(peer)) {
                say(QStringLiteral("send-failed no-chat"));
                return;
            }
            m_awaitedText = line.section(QLatin1Char(' '), 2);
            m_chat.sendText(m_awaitedText);
            reportMessages();
        }
    }

    void quit()
    {
        m_chat.stop();
        m_app.logout();
        QCoreApplication::exit(0);
    }

    void reportMessages()
    {
        for (const QVariant &row : m_chat.messages()) {
            const QVariantMap message = row.toMap();
            const QString id = message.value(QStringLiteral("id")).toString();
            const int status = message.value(QStringLiteral("status")).toInt();
            const QString text = message.value(QStringLiteral("text")).toString();
            if (status == kReceived && !m_reported.contains(id)) {
                m_reported.insert(id);
                say(QStringLiteral("received %1 %2").arg(m_chat.currentPeer(), text));
            } else if (message.value(QStringLiteral("outgoing")).toBool() && text == m_awaitedText
                       && status != 0 && !m_reported.contains(id)) {
                m_reported.insert(id);
                say(status == kSent ? QStringLiteral("sent") : QStringLiteral("send-failed %1").arg(status));
            }
        }
    }

    AppController m_app;
    ChatController m_chat;
    DesktopNotifier m_notifier{&m_chat};
    QSocketNotifier *m_input = nullptr;
    QString m_pending;
    QString m_awaitedText;
    QSet<QString> m_reported;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    velmor::app::applyServiceEndpoints(velmor::app::serviceEndpoints());
    Peer peer;
    return application.exec();
}
