// The steps a user takes in the end-to-end scenarios, each driven through
// the real window of a DrivenApp and checked through what the window's
// controllers then hold. A step returns false and leaves the reason in
// stepFailure() (with the program's last log lines) when it could not be
// done or its outcome is wrong.
#pragma once

#include "driven_app.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace e2e {

QString stepFailure();

// A JavaScript string literal of `text`.
QString jsString(const QString &text);

// Signing in and out through the login view and the settings page.
bool createIdentity(DrivenApp &app);                        // the generate button
bool importIdentity(DrivenApp &app, const QString &phrase); // the 12 words typed into the phrase grid
bool importKey(DrivenApp &app, const QString &privateKey);  // the private key field
bool logout(DrivenApp &app);                                // settings, log out, confirm
// Until signed in and the home view, which is built a slice at a time, shows.
bool waitSignedIn(DrivenApp &app);

// A finds B by B's wallet address in the new-chat pane and opens the chat;
// A's open conversation is then B.
bool befriend(DrivenApp &a, DrivenApp &b);
// Clicks an item as soon as it is enabled (a button waiting for a service).
bool clickWhenEnabled(DrivenApp &app, const QString &path, int timeoutMs = 15000);
// JS: how many sidebar rows `peer` has.
QString listedCount(const QString &peer);
// Opens a conversation by clicking its row in the sidebar.
bool openChat(DrivenApp &app, const QString &peer);
// Types a text into the composer of the open conversation, presses send and
// waits until the relay took it (status sent).
bool sendText(DrivenApp &app, const QString &text);
// Waits until the open conversation holds exactly one outgoing message whose
// text (or kind, for "image" and "voice") is this, with this status (1: sent).
bool waitOutgoing(DrivenApp &app, const QString &textOrKind, int status = 1, int timeoutMs = 20000);
// Waits until the open conversation shows an incoming message whose text
// (or kind, for "image" and "voice") is this.
bool waitIncoming(DrivenApp &app, const QString &textOrKind, int timeoutMs = 20000);

struct MessageEntry
{
    QString id;
    QString kind;
    QString text;
    bool outgoing = false;
    int status = 0;
};

struct ConversationEntry
{
    QString peer;
    QString display;
    QList<MessageEntry> messages;
};

// The conversations and, per conversation, its messages, as the controllers
// hold them (each conversation is opened in turn, then the one that was
// open is opened again).
struct Snapshot
{
    bool ok = false;
    QString current;
    QList<ConversationEntry> conversations;

    const ConversationEntry *find(const QString &peer) const;
    int messageCount() const;
};
Snapshot snapshot(DrivenApp &app);

// What is wrong with `after` given `before`: a conversation or message gone,
// a message id twice, a message shown twice under another id. Empty when
// nothing is.
QString compareSnapshots(const Snapshot &before, const Snapshot &after);
// A message shown twice inside one snapshot (same id, or same content
// under two ids); empty when none is.
QString duplicatesIn(const Snapshot &snapshot);

// Kills the program (SIGKILL), starts it again with the same profile, waits
// for the automatic sign-in and compares what it shows with what it showed
// before: everything there, nothing twice.
bool restartAndCompare(DrivenApp &app);

// Light and dark screenshots of the window into the folder named by
// PELORIN_E2E_SHOTS (default: e2e-shots in the build folder); the theme is
// light again afterwards.
bool shootBothThemes(DrivenApp &app, const QString &stepName);
QString shotsFolder();

// The errors the program showed since the last check, as one text; empty
// when there were none.
QString newErrorsText(DrivenApp &app);

} // namespace e2e

Q_DECLARE_METATYPE(e2e::Snapshot)
