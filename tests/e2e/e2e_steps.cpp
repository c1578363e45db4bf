#include "e2e_steps.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

#ifndef PELORIN_E2E_SHOTS_DEFAULT
#define PELORIN_E2E_SHOTS_DEFAULT "e2e-shots"
#endif

namespace e2e {

namespace {

QString g_failure;

// Records why a step failed, with the program's own last words.
bool fail(DrivenApp &app, const QString &why)
{
    // What the window showed when the step failed.
    if (app.running())
        app.shot(QDir(shotsFolder()).filePath(QStringLiteral("failed-%1.png").arg(app.name())));
    g_failure = QStringLiteral("%1: %2\n  last failure: %3\n  errors: %4\n  log of %1:\n%5")
                    .arg(app.name(), why, app.lastFailure(), app.errors().join(QStringLiteral(" | ")),
                         app.logTail(25));
    return false;
}

QString contentKey(const MessageEntry &m)
{
    return QStringLiteral("%1|%2|%3").arg(m.outgoing ? QStringLiteral("out") : QStringLiteral("in"), m.kind, m.text);
}

} // namespace

// Waits for the home view after a sign-in.
bool waitSignedIn(DrivenApp &app)
{
    if (!app.waitTrue(QStringLiteral("App.loggedIn"), 30000))
        return fail(app, QStringLiteral("not signed in"));
    if (!app.waitItem(QStringLiteral("sideCard"), 15000) || !app.waitItem(QStringLiteral("newChatButton")))
        return fail(app, QStringLiteral("the home view did not show"));
    return true;
}

QString stepFailure()
{
    return g_failure;
}

QString jsString(const QString &text)
{
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

bool createIdentity(DrivenApp &app)
{
    if (!app.waitItem(QStringLiteral("genBtn")) || !app.click(QStringLiteral("genBtn")))
        return fail(app, QStringLiteral("could not press the generate button"));
    return waitSignedIn(app);
}

bool importIdentity(DrivenApp &app, const QString &phrase)
{
    const QStringList words = phrase.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!app.waitItem(QStringLiteral("mnemLink")) || !app.click(QStringLiteral("mnemLink"))
        || !app.waitItem(QStringLiteral("mnemGrid/phraseCell0")))
        return fail(app, QStringLiteral("could not switch to the recovery phrase"));
    for (int i = 0; i < words.size(); ++i)
        if (!app.type(QStringLiteral("mnemGrid/phraseCell%1").arg(i), words.at(i)))
            return fail(app, QStringLiteral("could not type word %1").arg(i + 1));
    if (!app.click(QStringLiteral("loginBtn")))
        return fail(app, QStringLiteral("could not press the sign-in button"));
    return waitSignedIn(app);
}

bool importKey(DrivenApp &app, const QString &privateKey)
{
    if (!app.waitItem(QStringLiteral("keyField")) || !app.type(QStringLiteral("keyField"), privateKey))
        return fail(app, QStringLiteral("could not type the private key"));
    if (!app.click(QStringLiteral("loginBtn")))
        return fail(app, QStringLiteral("could not press the sign-in button"));
    return waitSignedIn(app);
}

bool logout(DrivenApp &app)
{
    if (!app.click(QStringLiteral("settingsButton")) || !app.waitItem(QStringLiteral("settingsPane/logoutCard")))
        return fail(app, QStringLiteral("could not open the settings page"));
    if (!app.click(QStringLiteral("settingsPane/logoutCard")) || !app.waitItem(QStringLiteral("logoutConfirm")))
        return fail(app, QStringLiteral("no log-out confirmation"));
    if (!app.click(QStringLiteral("logoutConfirm")))
        return fail(app, QStringLiteral("could not confirm the log-out"));
    if (!app.waitTrue(QStringLiteral("!App.loggedIn")) || !app.waitItem(QStringLiteral("genBtn")))
        return fail(app, QStringLiteral("the login view did not come back"));
    return true;
}

bool befriend(DrivenApp &a, DrivenApp &b)
{
    const QString address = b.eval(QStringLiteral("App.myErc20")).toString();
    const QString key = b.eval(QStringLiteral("App.myPublicKey")).toString();
    if (address.isEmpty() || key.isEmpty())
        return fail(b, QStringLiteral("no address to give"));
    if (!a.click(QStringLiteral("newChatButton")) || !a.waitItem(QStringLiteral("newChatDialog/discoveryField")))
        return fail(a, QStringLiteral("could not open the new-chat pane"));
    if (!a.type(QStringLiteral("newChatDialog/discoveryField"), address)
        || !a.click(QStringLiteral("newChatDialog/findButton")))
        return fail(a, QStringLiteral("could not look the address up"));
    if (!a.waitItem(QStringLiteral("newChatDialog/resultCard/resultAction"), 20000))
        return fail(a, QStringLiteral("the address was not found"));
    if (!a.waitTrue(QStringLiteral("!Chat.discoveryBusy"))
        || !a.click(QStringLiteral("newChatDialog/resultCard/resultAction")))
        return fail(a, QStringLiteral("could not start the chat"));
    // A new contact first gets a remark sheet; a known one opens at once.
    if (a.eval(QStringLiteral("Chat.discoveryResult.existingContact === true")).toBool() == false
        && (!a.waitItem(QStringLiteral("contactSheet/startChatButton"))
            || !a.click(QStringLiteral("contactSheet/startChatButton"))))
        return fail(a, QStringLiteral("could not confirm the new contact"));
    if (!a.waitTrue(QStringLiteral("Chat.currentPeer === %1").arg(jsString(key))))
        return fail(a, QStringLiteral("the chat with %1 did not open").arg(b.name()));
    if (!a.waitItem(QStringLiteral("composer/editor")))
        return fail(a, QStringLiteral("no composer in the chat"));
    return true;
}

bool clickWhenEnabled(DrivenApp &app, const QString &path, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!app.click(path)) {
        if (!app.lastFailure().contains(QStringLiteral("disabled")) || deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

QString listedCount(const QString &peer)
{
    return QStringLiteral("Chat.conversations.filter(function (c) { return c.peer === %1 }).length").arg(jsString(peer));
}

bool openChat(DrivenApp &app, const QString &peer)
{
    const QString js = QStringLiteral("Chat.conversations.filter(function (c) { return c.peer === %1 })")
                           .arg(jsString(peer));
    if (!app.waitTrue(js + QStringLiteral(".length === 1"), 20000))
        return fail(app, QStringLiteral("no conversation with %1").arg(peer));
    const QString display = app.eval(js + QStringLiteral("[0].display")).toString();
    if (display.isEmpty() || !app.clickText(display))
        return fail(app, QStringLiteral("could not click the row '%1'").arg(display));
    if (!app.waitTrue(QStringLiteral("Chat.currentPeer === %1").arg(jsString(peer))))
        return fail(app, QStringLiteral("the conversation did not open"));
    return true;
}

bool sendText(DrivenApp &app, const QString &text)
{
    if (!app.type(QStringLiteral("composer/editor"), text))
        return fail(app, QStringLiteral("could not type into the composer"));
    if (!app.click(QStringLiteral("composer/sendBtn")))
        return fail(app, QStringLiteral("could not press send"));
    return waitOutgoing(app, text);
}

bool waitOutgoing(DrivenApp &app, const QString &textOrKind, int status, int timeoutMs)
{
    const QString js = QStringLiteral("Chat.messages.filter(function (m) {"
                                      " return m.outgoing && (m.text === %1 || m.kind === %1) && m.status === %2 })"
                                      ".length === 1")
                           .arg(jsString(textOrKind))
                           .arg(status);
    if (!app.waitTrue(js, timeoutMs))
        return fail(app, QStringLiteral("no outgoing '%1' with status %2").arg(textOrKind).arg(status));
    return true;
}

bool waitIncoming(DrivenApp &app, const QString &textOrKind, int timeoutMs)
{
    const QString js = QStringLiteral(
                           "Chat.messages.filter(function (m) { return !m.outgoing && (m.text === %1 || m.kind === %1) })"
                           ".length >= 1")
                           .arg(jsString(textOrKind));
    if (!app.waitTrue(js, timeoutMs))
        return fail(app, QStringLiteral("'%1' did not arrive").arg(textOrKind));
    return true;
}

const ConversationEntry *Snapshot::find(const QString &peer) const
{
    for (const ConversationEntry &c : conversations)
        if (c.peer == peer)
            return &c;
    return nullptr;
}

int Snapshot::messageCount() const
{
    int count = 0;
    for (const ConversationEntry &c : conversations)
        count += int(c.messages.size());
    return count;
}

Snapshot snapshot(DrivenApp &app)
{
    // Each conversation is opened and read once its newest page, which is
    // read on a worker, is shown. Media payloads are long: only the shown
    // text's head is kept.
    static const QString listed = QStringLiteral(
        "(function () {"
        "  var out = { current: Chat.currentPeer, conversations: [] };"
        "  var convs = Chat.conversations;"
        "  for (var i = 0; i < convs.length; ++i)"
        "    out.conversations.push({ peer: convs[i].peer, display: convs[i].display });"
        "  return out;"
        "})()");
    static const QString shownMessages = QStringLiteral(
        "(function () {"
        "  var ms = Chat.messages; var list = [];"
        "  for (var j = 0; j < ms.length; ++j)"
        "    list.push({ id: ms[j].id, kind: ms[j].kind, text: String(ms[j].text).substring(0, 160),"
        "                outgoing: ms[j].outgoing === true, status: ms[j].status });"
        "  return list;"
        "})()");
    const auto open = [&app](const QString &peer) {
        const QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray{peer}).toJson(QJsonDocument::Compact));
        app.eval(QStringLiteral("Chat.openConversation(%1[0])").arg(quoted));
        return app.waitTrue(QStringLiteral("!Chat.messagesLoading()"));
    };
    Snapshot result;
    QJsonObject object = app.eval(listed).toObject();
    if (object.isEmpty()) {
        fail(app, QStringLiteral("could not read the conversations"));
        return result;
    }
    QJsonArray conversations;
    for (const QJsonValue &c : object.value(QStringLiteral("conversations")).toArray()) {
        QJsonObject entry = c.toObject();
        if (!open(entry.value(QStringLiteral("peer")).toString())) {
            fail(app, QStringLiteral("could not read the messages"));
            return result;
        }
        entry.insert(QStringLiteral("messages"), app.eval(shownMessages));
        conversations.append(entry);
    }
    object.insert(QStringLiteral("conversations"), conversations);
    const QString current = object.value(QStringLiteral("current")).toString();
    if (!current.isEmpty())
        open(current);
    result.current = object.value(QStringLiteral("current")).toString();
    for (const QJsonValue &c : object.value(QStringLiteral("conversations")).toArray()) {
        ConversationEntry entry;
        entry.peer = c[QStringLiteral("peer")].toString();
        entry.display = c[QStringLiteral("display")].toString();
        for (const QJsonValue &m : c[QStringLiteral("messages")].toArray())
            entry.messages << MessageEntry{m[QStringLiteral("id")].toString(), m[QStringLiteral("kind")].toString(),
                                           m[QStringLiteral("text")].toString(),
                                           m[QStringLiteral("outgoing")].toBool(),
                                           m[QStringLiteral("status")].toInt()};
        result.conversations << entry;
    }
    result.ok = true;
    return result;
}

QString duplicatesIn(const Snapshot &snapshot)
{
    QStringList problems;
    QSet<QString> peers;
    for (const ConversationEntry &c : snapshot.conversations) {
        if (peers.contains(c.peer))
            problems << QStringLiteral("conversation %1 listed twice").arg(c.peer);
        peers.insert(c.peer);
        QSet<QString> ids;
        QSet<QString> contents;
        for (const MessageEntry &m : c.messages) {
            if (ids.contains(m.id))
                problems << QStringLiteral("message %1 shown twice in %2").arg(m.id, c.display);
            ids.insert(m.id);
            // Every text and clip the scenarios send is unique.
            const QString key = contentKey(m);
            if (m.kind != QLatin1String("system") && contents.contains(key))
                problems << QStringLiteral("'%1' shown twice in %2").arg(m.text.left(60), c.display);
            contents.insert(key);
        }
    }
    return problems.join(QStringLiteral("; "));
}

QString compareSnapshots(const Snapshot &before, const Snapshot &after)
{
    QStringList problems;
    const QString duplicates = duplicatesIn(after);
    if (!duplicates.isEmpty())
        problems << duplicates;
    for (const ConversationEntry &c : before.conversations) {
        const ConversationEntry *now = after.find(c.peer);
        if (!now) {
            problems << QStringLiteral("conversation %1 is gone").arg(c.display);
            continue;
        }
        QHash<QString, const MessageEntry *> byId;
        for (const MessageEntry &m : now->messages)
            byId.insert(m.id, &m);
        for (const MessageEntry &m : c.messages) {
            const MessageEntry *found = byId.value(m.id);
            if (!found)
                problems << QStringLiteral("message '%1' (%2) is gone from %3").arg(m.text.left(60), m.id, c.display);
            else if (found->text != m.text || found->kind != m.kind || found->outgoing != m.outgoing)
                problems << QStringLiteral("message %1 changed from '%2' to '%3'").arg(m.id, m.text.left(60), found->text.left(60));
        }
    }
    return problems.join(QStringLiteral("; "));
}

bool restartAndCompare(DrivenApp &app)
{
    const Snapshot before = snapshot(app);
    if (!before.ok)
        return false;
    app.kill();
    if (!app.start())
        return fail(app, QStringLiteral("did not start again"));
    if (!waitSignedIn(app))
        return false;
    // The stored conversations load with the session's start.
    if (!app.waitTrue(QStringLiteral("Chat.conversations.length >= %1").arg(before.conversations.size())))
        return fail(app, QStringLiteral("conversations missing after the restart"));
    const Snapshot after = snapshot(app);
    if (!after.ok)
        return false;
    const QString problems = compareSnapshots(before, after);
    if (!problems.isEmpty())
        return fail(app, QStringLiteral("after the restart: ") + problems);
    if (!before.current.isEmpty() && !openChat(app, before.current))
        return false;
    return true;
}

QString shotsFolder()
{
    const QString configured = qEnvironmentVariable("PELORIN_E2E_SHOTS");
    return configured.isEmpty() ? QStringLiteral(PELORIN_E2E_SHOTS_DEFAULT) : configured;
}

bool shootBothThemes(DrivenApp &app, const QString &stepName)
{
    const QString base = QDir(shotsFolder()).filePath(QStringLiteral("%1-%2").arg(stepName, app.name()));
    if (!app.setDark(false) || !app.shot(base + QStringLiteral("-light.png")))
        return fail(app, QStringLiteral("no light screenshot"));
    const bool dark = app.setDark(true) && app.shot(base + QStringLiteral("-dark.png"));
    if (!app.setDark(false) || !dark)
        return fail(app, QStringLiteral("no dark screenshot"));
    return true;
}

QString newErrorsText(DrivenApp &app)
{
    return app.newErrors().join(QStringLiteral("\n"));
}

} // namespace e2e
