import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// The friend information panel of a direct peer (Chat.friendInfo: address,
// remark, block), opened from the chat header after
// Chat.loadCurrentFriendInfo(). Still to be filled: interface only.
Popup {
    id: popup

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: 340
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
}
