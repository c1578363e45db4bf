import QtQuick
import QtQuick.Window
import QtQuick.Controls.Basic
import Velmor

// Every shared control of the module on one page, for a visual check in
// both colour schemes.
Window {
    id: win
    width: 1280
    height: 760
    visible: true
    color: Theme.windowBg
    title: "Velmor controls"

    function setDark(on) {
        if (Theme.dark !== on)
            Theme.toggle()
        toast.show(on ? "Dark scheme" : "Light scheme")
        overlay.visible = true
        dialog.open()
    }

    readonly property string assets: "qrc:/qt/qml/Velmor/assets/"
    readonly property var iconNames: ["arrow_down", "attach", "back", "block", "chats", "check1", "check2",
        "clock", "close", "copy", "delete", "edit", "emoji", "group", "key", "link", "logout", "menu", "mic",
        "mute", "pause", "photo", "pin", "play", "search", "send", "settings", "unmute", "user", "verify", "wallet"]

    component Caption: Text {
        color: Theme.textSecondary
        font.pixelSize: Theme.fontCaption
        font.weight: Font.DemiBold
    }

    Row {
        x: 24
        y: 24
        spacing: 24

        Column {
            width: 360
            spacing: 12

            Caption { text: "SearchField" }
            SearchField { width: 340; height: Theme.controlHeight; placeholderText: I18n.tr("chat.search") }
            SearchField { width: 340; height: Theme.controlHeight; text: "Alice"; placeholderText: I18n.tr("chat.search") }
            Rectangle {
                width: 340
                height: 58
                radius: Theme.radiusLarge
                gradient: Gradient {
                    orientation: Gradient.Horizontal
                    GradientStop { position: 0; color: "#3fb6c8" }
                    GradientStop { position: 1; color: "#4a7fd6" }
                }
                SearchField {
                    anchors.centerIn: parent
                    width: 316
                    height: 34
                    onGradient: true
                    text: "on a gradient"
                }
            }

            Caption { text: "ConversationRow · MemberRow" }
            ConversationRow {
                width: 340
                avatarSource: win.assets + "avatars/avatar_girls_004.png"
                title: "Mira Holloway"
                preview: "See you at the station at nine, I will bring the maps"
                time: "09:41"
                unreadCount: 7
            }
            ConversationRow {
                width: 340
                avatarSource: win.assets + "avatars/defaultgroupphoto.png"
                title: "Weekend hiking group with a very long name"
                preview: "Tomas: photos are up"
                time: "Tue"
                unreadCount: 120
            }
            MemberRow {
                width: 340
                avatarSource: win.assets + "avatars/avatar_animals_005.png"
                title: "Fennec"
                subtitle: "0x8ba1f109551bd432803012645ac136ddd64dba72"
            }

            Caption { text: "PrimaryButton" }
            Row {
                spacing: 12
                PrimaryButton { text: I18n.tr("login.create") }
                PrimaryButton { text: "Disabled"; enabled: false }
                PrimaryButton { text: "Danger"; buttonColor: Theme.danger }
            }
        }

        Column {
            width: 360
            spacing: 12

            Caption { text: "TgIcon (31, tinted)" }
            Grid {
                columns: 8
                spacing: 14
                Repeater {
                    model: win.iconNames
                    TgIcon {
                        name: modelData
                        color: index % 3 === 0 ? Theme.accent : (index % 3 === 1 ? Theme.textPrimary : Theme.danger)
                    }
                }
            }
            Row {
                spacing: 14
                TgIcon { name: "back"; rotationAngle: 180; color: Theme.accent }
                TgIcon { name: "send"; size: 32; color: Theme.sendIcon }
                TgIcon { name: "check2"; size: 16; color: Theme.bubbleTick }
                Image { source: win.assets + "icons/verify.png"; width: 14; height: 14; sourceSize: Qt.size(28, 28) }
            }

            Caption { text: "AppAvatar" }
            Row {
                spacing: 14
                AppAvatar { source: win.assets + "avatars/defaultheadphoto.png" }
                AppAvatar { source: win.assets + "avatars/avatar_boys_012.png"; width: Theme.avatarLarge; height: Theme.avatarLarge }
                AppAvatar { source: win.assets + "lottiehead_05_frames/f0.svg" }
                AppAvatar { source: "" }
                AppAvatar { source: win.assets + "avatars/avatar_animals_018.png"; shadowEnabled: false; fallbackColor: Theme.peerAvatarColors[5] }
            }

            Caption { text: "MessageBubble" }
            Rectangle {
                width: 360
                height: bubbles.height + 20
                radius: Theme.radiusMedium
                color: Theme.chatCanvas
                Column {
                    id: bubbles
                    x: 10
                    y: 10
                    width: 340
                    spacing: 8
                    MessageBubble {
                        width: Math.min(implicitWidth, 340)
                        message: "Hello! The bubble keeps <b>markup</b> as plain text."
                        timestamp: "10:02"
                    }
                    MessageBubble {
                        anchors.right: parent.right
                        width: Math.min(implicitWidth, 300)
                        outgoing: true
                        message: "A longer outgoing message that wraps onto a second line inside the bubble."
                        timestamp: "10:03"
                    }
                }
            }

            Caption { text: "Frames and emoji" }
            Row {
                spacing: 12
                Image { source: win.assets + "logo_frames/f0.svg"; width: 64; height: 64; sourceSize: Qt.size(128, 128) }
                Image { source: win.assets + "play_frames/f0.svg"; width: 28; height: 28; sourceSize: Qt.size(56, 56); anchors.verticalCenter: parent.verticalCenter }
                Rectangle {
                    width: 60; height: 44; radius: 22; color: "#456ba5"
                    Image { anchors.centerIn: parent; source: win.assets + "chatroom_frames/f10.svg"; width: 44; height: 44; sourceSize: Qt.size(88, 88) }
                }
                AnimatedImage { source: win.assets + "emoji/1f60d.gif"; width: 40; height: 40; playing: false }
                AnimatedImage { source: win.assets + "emoji/1f44d.gif"; width: 40; height: 40; playing: false }
                AnimatedImage { source: win.assets + "emoji/1f680.gif"; width: 40; height: 40; playing: false }
            }
        }

        Column {
            width: 360
            spacing: 12

            Caption { text: "TgScrollBar (idle and hovered look)" }
            Row {
                spacing: 16
                ListView {
                    width: 160
                    height: 150
                    clip: true
                    model: 40
                    contentY: 300
                    delegate: Text { text: "Row " + index; color: Theme.textPrimary; height: 24; font.pixelSize: Theme.fontBody }
                    ScrollBar.vertical: TgScrollBar {}
                }
                // A thumb drawn at its hovered size and colour, for comparison.
                Rectangle {
                    width: 8
                    height: 60
                    radius: 4
                    color: Theme.dark ? "#7affffff" : "#7a000000"
                }
            }

            Caption { text: "LoadingOverlay" }
            Rectangle {
                width: 340
                height: 120
                radius: Theme.radiusMedium
                color: "#5a7fa8"
                clip: true
                Text { x: 12; y: 10; text: "Content under the overlay"; color: "white" }
                LoadingOverlay { id: overlay; anchors.fill: parent }
            }

            Caption { text: "AppToast" }
            Item {
                width: 340
                height: 40
                AppToast { id: toast; anchors.centerIn: parent }
            }
        }
    }

    AppDialog {
        id: dialog
        x: 792
        y: 460
        closePolicy: Popup.NoAutoClose
        modal: false
        title: I18n.tr("profile.backup")
        content: [
            Text {
                width: parent ? parent.width : 300
                wrapMode: Text.Wrap
                text: "Write the twelve words down and keep them somewhere safe."
                color: Theme.textSecondary
                font.pixelSize: Theme.fontBody
            },
            PrimaryButton { text: I18n.tr("common.confirm") }
        ]
    }
}
