import QtQuick
import Velmor
import "../helpers.js" as Helpers

// One participant in the room's speaker or listener flow: avatar and name.
// A right click or a press-and-hold emits `gesture` (grant or revoke, which
// the room decides); a left click does nothing.
Column {
    id: tile

    property var member: ({})
    property bool listener: false
    property string ownerPubkey: ""
    property bool running: false

    signal gesture()

    spacing: listener ? 6 : 8

    function label() {
        var m = member || {}
        if (m.name)
            return String(m.name)
        return Helpers.shortAddress(m.address ? m.address : (m.pubkey || ""))
    }

    VoiceAvatar {
        id: face
        anchors.horizontalCenter: parent.horizontalCenter
        member: tile.member
        size: tile.listener ? 52 : 72
        dimmed: tile.listener
        ownerPubkey: tile.ownerPubkey
        running: tile.running

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.LeftButton | Qt.RightButton
            onClicked: (mouse) => {
                if (mouse.button === Qt.RightButton)
                    tile.gesture()
            }
            onPressAndHold: tile.gesture()
        }
    }
    Text {
        objectName: "memberName"
        width: tile.listener ? 72 : 84
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        text: tile.label()
        textFormat: Text.PlainText
        color: tile.listener ? "#b3ffffff" : "white"
        font.pixelSize: tile.listener ? 11 : 12
    }
}
