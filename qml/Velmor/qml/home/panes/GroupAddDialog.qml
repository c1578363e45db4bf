import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import ".."
import "../helpers.js" as Helpers

// Chooses contacts to add to a normal group; `addClicked()` asks the owner
// to confirm.
DarkDialog {
    id: dialog

    property var candidates: []
    property var selectedKeys: []
    // The add job runs / the last add failed (shown above the button).
    property bool busy: false
    property string failure: ""

    signal addClicked()

    function toggle(key) {
        var keys = selectedKeys.slice()
        var at = keys.indexOf(key)
        if (at >= 0)
            keys.splice(at, 1)
        else
            keys.push(key)
        selectedKeys = keys
    }

    width: 420
    title: I18n.tr("newGroup.addTitle")
    standardButtons: Dialog.Cancel

    ColumnLayout {
        width: 380
        spacing: 10
        ListView {
            id: list
            objectName: "candidateList"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(280, contentHeight)
            clip: true
            spacing: 4
            model: dialog.candidates
            delegate: Rectangle {
                required property var modelData
                readonly property bool chosen: dialog.selectedKeys.indexOf(modelData.publicKey) >= 0
                objectName: "candidateRow"
                width: list.width
                height: 48
                radius: 12
                color: chosen ? "#26ffffff" : "#14ffffff"
                RowLayout {
                    anchors.fill: parent
                    anchors.margins: 8
                    spacing: 10
                    PaneAvatar {
                        Layout.preferredWidth: 32
                        Layout.preferredHeight: 32
                        color: "#26ffffff"
                        inset: 2
                        avatarId: modelData.avatarId || ""
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 1
                        Text {
                            Layout.fillWidth: true
                            text: modelData.display || ""
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            color: "white"
                            font.pixelSize: 13
                        }
                        Text {
                            text: Helpers.shortAddress(modelData.address || "")
                            textFormat: Text.PlainText
                            color: "#8cffffff"
                            font.pixelSize: 10
                        }
                    }
                    Text {
                        text: chosen ? "✓" : "+"
                        color: Theme.accent
                        font.pixelSize: 18
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: dialog.toggle(modelData.publicKey)
                }
            }
        }
        Text {
            objectName: "noCandidates"
            visible: dialog.candidates.length === 0
            text: I18n.tr("newGroup.noFriends")
            color: "#8cffffff"
            font.pixelSize: 12
        }
        Text {
            objectName: "addFailure"
            Layout.fillWidth: true
            visible: dialog.failure !== ""
            text: dialog.failure
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "#ffb0a8"
            font.pixelSize: 12
        }
        PaneBtn {
            objectName: "addMembersButton"
            Layout.fillWidth: true
            implicitHeight: 40
            primary: true
            enabled: !dialog.busy && dialog.selectedKeys.length > 0
            label: dialog.busy ? I18n.tr("newGroup.adding") : I18n.tr("newGroup.addCount", { "n": dialog.selectedKeys.length })
            onClicked: dialog.addClicked()
        }
    }
}
