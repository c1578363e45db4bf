// A client of the test program run in a child process and killed (-9) at a
// moment the test chooses, for what must survive a kill: the child prints a
// line as it accepts each thing, the parent reads the lines, kills it, and
// signs the same user in again to see what the next start makes of them.
#pragma once

#include "chat_fixture.h"

#include <functional>

namespace chattest {

// What the child does once signed in, its controller started and the
// conversation open; `args` are the words after the peer. It prints its
// lines with childSays(); false ends the child with status 5.
using ChildScript = std::function<bool(ChatController &chat, const QStringList &args)>;

// The child's side, called from main() when argv[1] names the child's mode:
// "<program> <mode> <relay> <store file> <secret byte> <peer> [args…]", the
// peer a key, "group:" and a group's id, or "sg:" and a group server's URL. Runs the script, then its event
// loop until killed; 3 or 4 when the store or the conversation do not open.
int runKilledChild(int argc, char **argv, const ChildScript &script);
void childSays(const QString &line);

// The parent's side: starts this program in `mode` as `user` (whose secret
// byte is `secretByte`) against `relayUrl`, reads up to `lines` lines (each
// within 20 s), waits `settleMs`, then kills the child and waits for its end.
// The lines read, trimmed.
QStringList runUntilKilled(const QString &mode, const QString &relayUrl, const User &user, char secretByte,
                           const QString &peer, const QStringList &args, int lines, int settleMs = 0);

} // namespace chattest
