import QtQuick
import QtQuick.Layouts
import ".."
import Velmor

// Join address, visibility, the user's nickname and mute of a normal group.
GlassCard {
    id: card

    property string joinAddress: ""
    property bool visibleInSearch: false
    property string myNickname: ""
    property bool muted: false
    property bool isOwner: false
    // A change of the group is running: its switch and button wait.
    property bool busy: false
    readonly property alias visibilitySwitch: visibilitySwitch
    readonly property alias muteSwitch: muteSwitch

    signal qrClicked()
    signal copyClicked()
    signal visibilityRequested(bool on)
    signal nicknameClicked()
    signal muteRequested(bool on)

    implicitHeight: column.implicitHeight + 24

    component Caption: Text {
        // Lets the caption column take the row's free width.
        Layout.fillWidth: true
        color: "white"
        font.pixelSize: 14
        font.weight: Font.Medium
    }
    component Line: Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: 1
        color: "#26ffffff"
    }

    ColumnLayout {
        id: column
        x: 16
        y: 12
        width: parent.width - 32
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Caption { text: I18n.tr("group.joinAddress") }
                Text {
                    objectName: "joinAddress"
                    Layout.fillWidth: true
                    text: card.joinAddress
                    textFormat: Text.PlainText
                    elide: Text.ElideMiddle
                    color: "#8cffffff"
                    font.pixelSize: 10
                }
            }
            PaneBtn { objectName: "qrButton"; implicitHeight: 32; label: I18n.tr("group.qr"); onClicked: card.qrClicked() }
            PaneBtn { objectName: "copyButton"; implicitHeight: 32; label: I18n.tr("common.copy"); onClicked: card.copyClicked() }
        }
        Line {}
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Caption { text: I18n.tr("sg.visibility") }
                Text { text: I18n.tr("group.visibilityHint"); color: "#8cffffff"; font.pixelSize: 11 }
            }
            StoredSwitch {
                id: visibilitySwitch
                objectName: "visibilitySwitch"
                visible: card.isOwner
                enabled: !card.busy
                stored: card.visibleInSearch
                onRequested: (on) => card.visibilityRequested(on)
            }
        }
        Line {}
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Caption { text: I18n.tr("sg.myNickname") }
                Text {
                    objectName: "nicknameText"
                    text: card.myNickname !== "" ? card.myNickname : I18n.tr("group.useAddress")
                    textFormat: Text.PlainText
                    color: "#8cffffff"
                    font.pixelSize: 11
                }
            }
            PaneBtn { objectName: "nicknameButton"; implicitHeight: 32; enabled: !card.busy; label: I18n.tr("common.edit"); onClicked: card.nicknameClicked() }
        }
        Line {}
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            Caption { Layout.fillWidth: true; text: I18n.tr("sg.muteNotifications"); font.weight: Font.Normal }
            StoredSwitch {
                id: muteSwitch
                objectName: "muteSwitch"
                stored: card.muted
                onRequested: (on) => card.muteRequested(on)
            }
        }
    }
}
