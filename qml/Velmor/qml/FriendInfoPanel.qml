import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Qt5Compat.GraphicalEffects
import Velmor
import "home"
import "home/helpers.js" as Helpers

// The person of the open one-to-one conversation: avatar, name, address and
// the copy / remark / block actions. Everything shown comes from
// Chat.friendInfo, which the opener fills (Chat.loadCurrentFriendInfo())
// before open().
Popup {
    id: popup

    property bool editingRemark: false
    readonly property var info: Chat.friendInfo ? Chat.friendInfo : ({})
    readonly property bool animated: info.avatarKind === "lottie" && Helpers.bundledAvatarId(info.avatarId) !== ""
    property int frame: 0

    function avatarSource(id) { return Helpers.avatarSource(id) }

    function iconSvg(name) {
        var body
        if (name === "copy")
            body = "<rect x='9' y='9' width='11' height='11' rx='2.5'/><path d='M5 15V6.5A2.5 2.5 0 0 1 7.5 4H15'/>"
        else if (name === "pencil")
            body = "<path d='M4 20h4L19.5 8.5a2.1 2.1 0 0 0-3-3L5 17v3Z'/><path d='m13.5 6.5 3 3'/>"
        else if (name === "block")
            body = "<circle cx='12' cy='12' r='8.2'/><path d='M6.5 6.5l11 11'/>"
        else
            body = ""
        return "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' stroke='white'"
             + " stroke-width='1.7' stroke-linecap='round' stroke-linejoin='round'>" + body + "</svg>"
    }

    function iconUri(name) {
        return "data:image/svg+xml;utf8," + encodeURIComponent(iconSvg(name))
    }

    function toast(msg) {
        toastLabel.text = msg
        toastBox.opacity = 1
        toastTimer.restart()
    }

    function saveRemark() {
        // The confirmation only follows a remark the store took; a refused
        // one keeps the editor open with the typed text.
        if (Chat.updateCurrentFriendRemark(remarkField.text) === true) {
            popup.editingRemark = false
            popup.toast(I18n.tr("friend.remarkSaved"))
        }
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: 340
    padding: 0

    T.Overlay.modal: Rectangle { color: Theme.scrim }

    background: Rectangle {
        radius: 22
        color: Theme.panelBg
        border.width: 1
        border.color: Theme.border
    }

    enter: Transition {
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 140 }
        NumberAnimation { property: "scale"; from: 0.94; to: 1; duration: 160; easing.type: Easing.OutBack }
    }

    onOpened: {
        editingRemark = false
        remarkField.text = info.remark ? String(info.remark) : ""
    }

    Timer {
        interval: 42
        repeat: true
        running: popup.visible && popup.animated
        onTriggered: popup.frame = (popup.frame + 1) % (popup.info.avatarId === "lottiehead_01" ? 18 : 24)
    }

    component ActionRow: Rectangle {
        id: row
        property string glyph: ""
        // The glyph's picture (the popup's iconUri(glyph)).
        property string iconSource: ""
        property color iconBg: "#888"
        property string title: ""
        property bool danger: false
        property bool expanded: false
        property bool showSwitch: false
        property bool switchOn: false
        signal clicked()

        anchors.left: parent ? parent.left : undefined
        anchors.right: parent ? parent.right : undefined
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        implicitHeight: 52
        radius: 14
        color: hover.hovered ? Theme.buttonBg : Theme.cardBg
        border.width: 1
        border.color: Theme.border
        Behavior on color { ColorAnimation { duration: 120 } }

        HoverHandler { id: hover }

        Row {
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 14
            spacing: 11

            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 30
                height: 30
                radius: 8
                color: row.iconBg
                Image {
                    anchors.centerIn: parent
                    width: 18
                    height: 18
                    sourceSize: Qt.size(36, 36)
                    fillMode: Image.PreserveAspectFit
                    source: row.iconSource
                }
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - 30 - 11 - 11 - (row.showSwitch ? 40 : chevron.implicitWidth)
                text: row.title
                font.pixelSize: 14
                color: row.danger ? Theme.danger : Theme.textPrimary
                elide: Text.ElideRight
            }
            Rectangle {
                objectName: "blockSwitch"
                anchors.verticalCenter: parent.verticalCenter
                visible: row.showSwitch
                width: 40
                height: 24
                radius: 12
                color: row.switchOn ? Theme.danger : Theme.buttonBg
                border.width: 1
                border.color: row.switchOn ? Theme.danger : Theme.border
                Behavior on color { ColorAnimation { duration: 140 } }
                Rectangle {
                    anchors.verticalCenter: parent.verticalCenter
                    x: row.switchOn ? 19 : 3
                    width: 18
                    height: 18
                    radius: 9
                    color: "white"
                    Behavior on x { NumberAnimation { duration: 140; easing.type: Easing.OutCubic } }
                }
            }
            Text {
                id: chevron
                anchors.verticalCenter: parent.verticalCenter
                visible: !row.showSwitch
                text: row.expanded ? "⌄" : "›"
                font.pixelSize: 16
                color: Theme.textMuted
            }
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: row.clicked()
        }
    }

    contentItem: Column {
        spacing: 0

        Item {
            width: parent.width
            height: 40
            Rectangle {
                objectName: "closeButton"
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.rightMargin: 12
                anchors.topMargin: 12
                width: 28
                height: 28
                radius: 14
                color: closeMouse.containsMouse ? Theme.buttonBg : "transparent"
                TgIcon { anchors.centerIn: parent; name: "close"; size: 16; color: Theme.textSecondary }
                MouseArea {
                    id: closeMouse
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: popup.close()
                }
            }
        }

        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 72
            height: 72
            radius: 36
            color: Theme.avatarBg
            border.width: 1
            border.color: Theme.border
            RoundFace {
                objectName: "friendAvatar"
                anchors.fill: parent
                anchors.margins: 3
                source: popup.animated ? "../assets/" + popup.info.avatarId + "_frames/f" + popup.frame + ".svg"
                                       : popup.avatarSource(popup.info.avatarId)
            }
        }

        Item { width: 1; height: 12 }
        Text {
            objectName: "friendName"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: popup.info.remark ? popup.info.remark : (popup.info.shortAddress || "")
            textFormat: Text.PlainText
            font.pixelSize: 17
            font.bold: true
            color: Theme.textPrimary
            elide: Text.ElideRight
        }
        Item { width: 1; height: 4 }
        Text {
            objectName: "friendAddress"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(280, parent.width - 60)
            horizontalAlignment: Text.AlignHCenter
            text: popup.info.address || ""
            textFormat: Text.PlainText
            font.pixelSize: 11
            font.family: "Menlo"
            color: Theme.textMuted
            elide: Text.ElideMiddle
        }
        Item { width: 1; height: 20 }

        ActionRow {
            objectName: "copyAction"
            glyph: "copy"
            iconSource: popup.iconUri(glyph)
            iconBg: "#2E7DF6"
            title: I18n.tr("friend.copyAddress")
            onClicked: {
                App.copyToClipboard(popup.info.address ? String(popup.info.address) : "")
                popup.toast(I18n.tr("copied.address"))
            }
        }
        Item { width: 1; height: 8 }
        ActionRow {
            objectName: "remarkAction"
            visible: !Chat.currentVerified
            glyph: "pencil"
            iconSource: popup.iconUri(glyph)
            iconBg: "#26A69A"
            title: I18n.tr("friend.setRemark")
            expanded: popup.editingRemark
            onClicked: popup.editingRemark = !popup.editingRemark
        }
        Item { width: 1; height: 8; visible: !Chat.currentVerified }

        Item {
            objectName: "remarkEditor"
            visible: popup.editingRemark && !Chat.currentVerified
            width: parent.width
            height: visible ? 38 + 2 + 8 : 0
            Row {
                x: 18
                y: 2
                width: parent.width - 36
                spacing: 8
                TextField {
                    id: remarkField
                    objectName: "remarkField"
                    width: parent.width - 58 - 8
                    height: 38
                    placeholderText: I18n.tr("friend.remarkPlaceholder")
                    leftPadding: 12
                    rightPadding: 12
                    font.pixelSize: 12
                    color: Theme.textPrimary
                    selectByMouse: true
                    background: Rectangle {
                        radius: 12
                        color: Theme.cardBg
                        border.width: 1
                        border.color: remarkField.activeFocus ? Theme.brandBlue : Theme.border
                    }
                    onAccepted: popup.saveRemark()
                }
                Rectangle {
                    objectName: "saveRemark"
                    width: 58
                    height: 38
                    radius: 12
                    color: saveMouse.pressed ? Qt.darker(Theme.accent, 1.15) : Theme.accent
                    Text {
                        anchors.centerIn: parent
                        text: I18n.tr("common.save")
                        color: "white"
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                    }
                    MouseArea {
                        id: saveMouse
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: popup.saveRemark()
                    }
                }
            }
        }

        ActionRow {
            objectName: "blockAction"
            glyph: "block"
            iconSource: popup.iconUri(glyph)
            iconBg: "#FF453A"
            title: I18n.tr("friend.block")
            danger: true
            showSwitch: true
            switchOn: popup.info.blocked === true
            onClicked: Chat.setCurrentFriendBlocked(!(popup.info.blocked === true))
        }
        Item { width: 1; height: 8 + 18 }
    }

    // Beside the overlay, just above it, not in the popup: so it outlives
    // the popup's closing (an item declared in the popup would land in its
    // content). Never in the overlay: an overlay holding an item takes the
    // window's clicks and keys, and a reply typed right after a copy would
    // go nowhere. It takes no input itself.
    readonly property Item toastItem: Rectangle {
        id: toastBox
        objectName: "friendToast"
        parent: opacity > 0 && popup.parent ? popup.parent.parent : null
        anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined
        anchors.bottom: parent ? parent.bottom : undefined
        anchors.bottomMargin: 60
        z: popup.parent ? popup.parent.z + 1 : 0
        height: 30
        width: toastLabel.implicitWidth + 30
        radius: 15
        color: "#d91f2329"
        opacity: 0
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 150 } }
        Text {
            id: toastLabel
            anchors.centerIn: parent
            color: "white"
            font.pixelSize: 12
        }
        Timer {
            id: toastTimer
            interval: 1800
            onTriggered: toastBox.opacity = 0
        }
    }
}
