// Desktop notices for the chat session: a beep and, where the desktop has a
// system tray, a tray balloon for each notice the chat controller asks for.
// A click on the balloon opens what the newest notice was about. Not seen by
// QML.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>

class ChatController;
class QQmlEngine;
class QSystemTrayIcon;

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    // `views` is the engine the window's views run in: the chat controller
    // words its notices in Chinese, and the balloon shows them through the
    // views' own translations (I18n.said), in the language the views show
    // now. Without an engine (or once it is gone) a notice shows as it came.
    explicit DesktopNotifier(ChatController *chat, QQmlEngine *views = nullptr, QObject *parent = nullptr);
    ~DesktopNotifier() override;

    // The peer (or "event:" target) of the newest notice; empty before any.
    QString lastPeer() const { return m_lastPeer; }
    bool trayVisible() const;

    // The tray icon's picture: a blue rounded square with three white lines.
    static QPixmap trayPixmap();

    // A notice's title or body as the balloon shows it: a text the
    // controller is known to give in the interface's language, any other
    // (a name, a server's word) as it came.
    QString shown(const QString &text) const;

private:
    void notify(const QString &peer, const QString &title, const QString &body);
    void activate();

    ChatController *m_chat;
    QSystemTrayIcon *m_trayIcon;
    // Made in `views`; owned by this notifier, gone with the engine.
    QPointer<QObject> m_wording;
    QString m_lastPeer;
};
