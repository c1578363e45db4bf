import QtQuick
import QtQuick.Layouts
import ".."

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
                Caption { text: "入群地址" }
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
            PaneBtn { objectName: "qrButton"; implicitHeight: 32; label: "二维码"; onClicked: card.qrClicked() }
            PaneBtn { objectName: "copyButton"; implicitHeight: 32; label: "复制"; onClicked: card.copyClicked() }
        }
        Line {}
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Caption { text: "可见性" }
                Text { text: "开启后可通过入群地址搜索"; color: "#8cffffff"; font.pixelSize: 11 }
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
                Caption { text: "我在群组的昵称" }
                Text {
                    objectName: "nicknameText"
                    text: card.myNickname !== "" ? card.myNickname : "使用钱包地址"
                    textFormat: Text.PlainText
                    color: "#8cffffff"
                    font.pixelSize: 11
                }
            }
            PaneBtn { objectName: "nicknameButton"; implicitHeight: 32; enabled: !card.busy; label: "修改"; onClicked: card.nicknameClicked() }
        }
        Line {}
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            Caption { Layout.fillWidth: true; text: "群消息免打扰"; font.weight: Font.Normal }
            StoredSwitch {
                id: muteSwitch
                objectName: "muteSwitch"
                stored: card.muted
                onRequested: (on) => card.muteRequested(on)
            }
        }
    }
}
