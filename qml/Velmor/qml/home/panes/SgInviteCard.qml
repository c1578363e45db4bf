import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../helpers.js" as Helpers
import Velmor

// Contacts a manager can invite into a super group. The check boxes start
// unchecked for every new candidate list.
GlassCard {
    id: card

    property var candidates: []
    // A save or another action of the settings runs: no second invitation.
    property bool busy: false

    // The checked keys, in the order of the boxes; never empty.
    signal inviteRequested(var keys)

    function checkedKeys() {
        var keys = []
        for (var i = 0; i < boxes.count; ++i) {
            var box = boxes.itemAt(i)
            if (box && box.checked && box.memberKey !== "")
                keys.push(box.memberKey)
        }
        return keys
    }

    implicitHeight: column.implicitHeight + 20

    ColumnLayout {
        id: column
        x: 16
        y: 10
        width: parent.width - 32
        spacing: 4
        Text { text: I18n.tr("sg.addMembers"); color: "white"; font.pixelSize: 15; font.bold: true }
        Repeater {
            id: boxes
            model: card.candidates
            delegate: CheckBox {
                id: inviteBox
                required property var modelData
                readonly property string memberKey: modelData.publicKey || ""
                objectName: "inviteBox"
                palette.windowText: "white"
                text: modelData.display ? modelData.display : Helpers.shortAddress(modelData.address || "")
                // A contact's name is shown as written, never as markup
                // (the style's label would guess the format).
                contentItem: Text {
                    objectName: "inviteBoxLabel"
                    leftPadding: inviteBox.indicator.width + inviteBox.spacing
                    verticalAlignment: Text.AlignVCenter
                    text: inviteBox.text
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font: inviteBox.font
                    color: inviteBox.palette.windowText
                }
            }
        }
        WhiteWideButton {
            objectName: "inviteButton"
            Layout.fillWidth: true
            label: I18n.tr("sg.inviteSelected")
            enabled: !card.busy
            onClicked: {
                var keys = card.checkedKeys()
                if (keys.length > 0)
                    card.inviteRequested(keys)
            }
        }
    }
}
