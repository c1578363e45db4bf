import QtQuick
import QtQuick.Controls.Basic
import Velmor
import "helpers.js" as Helpers

// Header of the open conversation: avatar, title with stars and mark, the
// address or the super group's subtitle, and the group settings button.
Rectangle {
    id: header

    property string peer: ""
    property string title: ""
    property string address: ""
    property string avatarId: ""
    property string avatarKind: ""
    property bool verified: false
    property bool official: false
    property string groupKind: ""
    property string groupSubtitle: ""
    // The user is no longer a member of this group: no settings.
    property bool removed: false

    signal friendInfoRequested()
    signal groupSettingsRequested()
    signal superGroupSettingsRequested()

    readonly property bool isGroup: peer.indexOf("group:") === 0
    readonly property bool isSuper: peer.indexOf("sg:") === 0
    readonly property bool isDirectPeer: !isGroup && !isSuper
    readonly property bool opensFriendInfo: isDirectPeer && !official

    color: "transparent"

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: "#1fffffff"
    }

    Row {
        anchors.left: parent.left
        anchors.top: parent.top
        spacing: 10

        CircleAvatar {
            id: directAvatarHolder
            objectName: "directAvatarHolder"
            width: 42
            height: 42
            // A super group's picture is its server's address; any other
            // conversation's id names a picture of the module.
            remoteUrl: header.isSuper ? Helpers.groupServerPicture(header.avatarId, header.peer) : ""
            avatarId: header.isSuper && header.avatarId.indexOf("http") === 0 ? "defaultgroupphoto" : header.avatarId
            avatarKind: header.avatarKind
            special: header.isDirectPeer && (header.official || header.verified)
            specialDir: header.official ? "tabbar_profile_frames"
                                        : (header.verified ? "authorheadphoto_frames" : "")
            specialFrames: header.official ? 49 : 50

            MouseArea {
                objectName: "avatarClick"
                anchors.fill: parent
                enabled: header.opensFriendInfo
                cursorShape: enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
                onClicked: header.friendInfoRequested()
            }
        }

        Item {
            objectName: "titleBlock"
            height: 42
            width: Math.max(headerTitleRow.width, headerAddress.implicitWidth, headerGroupSubtitle.implicitWidth)

            Column {
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                spacing: 1

                Row {
                    id: headerTitleRow
                    objectName: "headerTitleRow"
                    spacing: 5

                    Text {
                        objectName: "headerTitle"
                        text: header.title
                        textFormat: Text.PlainText
                        font.pixelSize: Theme.fontCallout
                        font.weight: Font.DemiBold
                        color: header.groupKind === "premium_plus" ? "#ff8d99"
                                                                   : (header.groupKind === "premium" ? "#ffd479" : "white")
                    }
                    Text {
                        objectName: "headerStars"
                        anchors.verticalCenter: parent.verticalCenter
                        visible: header.groupKind === "premium" || header.groupKind === "premium_plus"
                        text: header.groupKind === "premium_plus" ? "★★★★★" : "★★★"
                        color: header.groupKind === "premium_plus" ? "#ff3d4f" : "#f4b53f"
                        font.pixelSize: 11
                    }
                    Image {
                        objectName: "headerVerified"
                        anchors.verticalCenter: parent.verticalCenter
                        visible: header.verified
                        source: Qt.resolvedUrl("../../assets/icons/verify.png")
                        width: 15
                        height: 15
                        sourceSize: Qt.size(30, 30)
                        fillMode: Image.PreserveAspectFit
                        smooth: true
                    }
                }
                Text {
                    id: headerAddress
                    objectName: "headerAddress"
                    visible: header.isDirectPeer && !header.official
                    text: Helpers.shortAddress(header.address)
                    textFormat: Text.PlainText
                    color: "#b3ffffff"
                    font.pixelSize: Theme.fontFootnote
                }
                Text {
                    id: headerGroupSubtitle
                    objectName: "headerGroupSubtitle"
                    visible: header.isSuper
                    text: header.groupSubtitle
                    textFormat: Text.PlainText
                    color: "#b3ffffff"
                    font.pixelSize: Theme.fontFootnote
                }
            }

            MouseArea {
                objectName: "titleClick"
                anchors.fill: parent
                enabled: header.opensFriendInfo
                cursorShape: enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
                onClicked: header.friendInfoRequested()
            }
        }
    }

    component SettingsButton: Button {
        id: btn
        anchors.right: parent.right
        anchors.rightMargin: 16
        anchors.verticalCenter: parent.verticalCenter
        implicitWidth: 74
        implicitHeight: 34
        padding: 8
        hoverEnabled: true
        text: I18n.tr("chat.groupSettings")
        background: Rectangle {
            radius: 17
            color: btn.hovered ? "#33ffffff" : "#21ffffff"
        }
        contentItem: Text {
            text: btn.text
            color: "white"
            font.pixelSize: 12
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    SettingsButton {
        objectName: "groupSettingsButton"
        visible: header.isGroup && !header.removed
        onClicked: header.groupSettingsRequested()
    }
    SettingsButton {
        objectName: "sgSettingsButton"
        visible: header.isSuper && !header.removed
        onClicked: header.superGroupSettingsRequested()
    }
}
