#include "app/desktop_notifier.h"

#include "chat/chat_controller.h"

#include <QApplication>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QSettings>
#include <QSystemTrayIcon>

namespace {

constexpr int kBalloonMs = 5000;

// The notices' bodies in the interface's languages, in the order of
// kLanguages; the Chinese (simplified) one is the controller's own word.
const QStringList kLanguages = {QStringLiteral("en"), QStringLiteral("zh-Hant"), QStringLiteral("ja-JP"),
                                QStringLiteral("de"), QStringLiteral("es"), QStringLiteral("fr"),
                                QStringLiteral("pt-PT")};

const QHash<QString, QStringList> &noticeBodies()
{
    static const QHash<QString, QStringList> bodies = {
        {QStringLiteral("收到新消息"),
         {QStringLiteral("New message"), QStringLiteral("收到新訊息"), QStringLiteral("新しいメッセージ"),
          QStringLiteral("Neue Nachricht"), QStringLiteral("Mensaje nuevo"), QStringLiteral("Nouveau message"),
          QStringLiteral("Nova mensagem")}},
        {QStringLiteral("收到新的入群申请"),
         {QStringLiteral("New request to join the group"), QStringLiteral("收到新的入群申請"),
          QStringLiteral("新しい参加リクエスト"), QStringLiteral("Neue Beitrittsanfrage"),
          QStringLiteral("Nueva solicitud para unirse al grupo"),
          QStringLiteral("Nouvelle demande pour rejoindre le groupe"),
          QStringLiteral("Novo pedido de adesão ao grupo")}},
        {QStringLiteral("您的群组成员状态已更新"),
         {QStringLiteral("Your membership of the group has changed"), QStringLiteral("您的群組成員狀態已更新"),
          QStringLiteral("グループでのあなたのメンバー状態が更新されました"),
          QStringLiteral("Deine Mitgliedschaft in der Gruppe hat sich geändert"),
          QStringLiteral("Tu estado de miembro del grupo ha cambiado"),
          QStringLiteral("Votre statut de membre du groupe a changé"),
          QStringLiteral("O seu estado de membro do grupo mudou")}},
        {QStringLiteral("语音聊天室已开启"),
         {QStringLiteral("The voice room is open"), QStringLiteral("語音聊天室已開啟"),
          QStringLiteral("ボイスルームが開きました"), QStringLiteral("Der Sprachraum ist offen"),
          QStringLiteral("La sala de voz está abierta"), QStringLiteral("Le salon vocal est ouvert"),
          QStringLiteral("A sala de voz está aberta")}},
    };
    return bodies;
}

// A Qt locale name ("zh_TW", "pt_BR", "C") mapped onto an interface language.
QString languageOfLocale(QString name)
{
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    if (name.startsWith(QLatin1String("zh-Hant")) || name == QLatin1String("zh-TW") || name == QLatin1String("zh-HK"))
        return QStringLiteral("zh-Hant");
    if (name.startsWith(QLatin1String("zh")))
        return QStringLiteral("zh-Hans");
    if (name.startsWith(QLatin1String("ja")))
        return QStringLiteral("ja-JP");
    if (name.startsWith(QLatin1String("pt")))
        return QStringLiteral("pt-PT");
    const QString two = name.left(2);
    return kLanguages.contains(two) ? two : QStringLiteral("en");
}

} // namespace

DesktopNotifier::DesktopNotifier(ChatController *chat, QObject *parent)
    : QObject(parent)
    , m_chat(chat)
    , m_trayIcon(new QSystemTrayIcon(this))
{
    m_trayIcon->setIcon(QIcon(trayPixmap()));
    m_trayIcon->setToolTip(QStringLiteral("Pelorin"));
    m_trayIcon->setVisible(QSystemTrayIcon::isSystemTrayAvailable());
    connect(m_chat, &ChatController::systemNotificationRequested, this, &DesktopNotifier::notify);
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &DesktopNotifier::activate);
}

DesktopNotifier::~DesktopNotifier() = default;

bool DesktopNotifier::trayVisible() const
{
    return m_trayIcon->isVisible();
}

QPixmap DesktopNotifier::trayPixmap()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3d, 0x84, 0xcc));
    painter.drawRoundedRect(QRectF(pixmap.rect()).adjusted(4, 4, -4, -4), 16, 16, Qt::AbsoluteSize);
    painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    painter.drawLine(19, 23, 45, 23);
    painter.drawLine(19, 32, 39, 32);
    painter.drawLine(19, 41, 34, 41);
    return pixmap;
}

QString DesktopNotifier::shownBody(const QString &body, const QString &language)
{
    const auto found = noticeBodies().constFind(body);
    const qsizetype index = kLanguages.indexOf(language);
    if (found == noticeBodies().constEnd() || index < 0)
        return body;
    return found->at(index);
}

QString DesktopNotifier::interfaceLanguage()
{
    const QString saved = QSettings().value(QStringLiteral("ui/language")).toString();
    if (saved == QLatin1String("zh-Hans") || kLanguages.contains(saved))
        return saved;
    return languageOfLocale(QLocale::system().name());
}

void DesktopNotifier::notify(const QString &peer, const QString &title, const QString &body)
{
    m_lastPeer = peer;
    QApplication::beep();
    if (m_trayIcon->isVisible())
        m_trayIcon->showMessage(title, shownBody(body, interfaceLanguage()), QSystemTrayIcon::Information,
                                kBalloonMs);
}

void DesktopNotifier::activate()
{
    if (!m_lastPeer.isEmpty())
        m_chat->activateSystemNotification(m_lastPeer);
}
