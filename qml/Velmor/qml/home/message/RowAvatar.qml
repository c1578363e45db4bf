import QtQuick
import ".."

// The sender's picture beside the last bubble of a run in a group, made by
// the message row (`row`) only for the rows that show it.
CircleAvatar {
    required property Item row

    avatarId: row.m.senderAvatarId ? String(row.m.senderAvatarId) : ""
    avatarKind: row.m.senderAvatarKind ? String(row.m.senderAvatarKind) : ""
    animate: row.animateNow
}
