// A super-group send kept as a request: the group server is asked to store
// the row's message under the row's own id, and it keeps one message per id
// (a repeated post of an id is answered as taken and stored once). The
// request is written with its row (or into the send journal) before the row
// is shown, like a one-to-one envelope, and posted from there: again after
// a kill, a quit or a sign-out, and by a retry, always under the same id,
// so the members never get a message twice. It names the group, the id and
// the sender's name in the group; the message itself is the row's (its text,
// or the picture or clip in its attachment), sealed to the server's key
// when posted, so a key the server changed meanwhile is the one used.
#pragma once

#include "net/relay_api.h"
#include "store/records.h"

#include <QJsonObject>
#include <QString>

namespace velmor::chat {

// The request for the user's row in a super group ("sg:" peer), as stored
// (compact JSON); `displayName` empty: read from the group's members when
// posted.
QString superGroupRequest(const MessageRecord &row, const QString &displayName);
bool isSuperGroupRequest(const QJsonObject &object);
// The user's name in the group, as its stored member list has it.
QString superGroupDisplayName(const QString &serverUrl, const QString &myKey);

// Posts the row's message as the request asks (on a worker; blocking). A
// failure that says nothing about the message (no answer, the server's own
// fault, a failed login, another identity signed in since) is retryable:
// the same request may go again.
RelaySendResult postSuperGroupRequest(const QJsonObject &request, const MessageRecord &row);
// Whether a failure word of the group server's send may pass when the same
// request is posted again.
bool superGroupFailureRetryable(const QString &error);

} // namespace velmor::chat
