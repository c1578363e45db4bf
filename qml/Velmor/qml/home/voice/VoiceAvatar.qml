import QtQuick
import Velmor
import ".."
import "../helpers.js" as Helpers

// The round avatar of one voice-room participant: speaking ring, face,
// picture (animated for "lottie" avatars while `running`), mute badge and
// owner mark.
Item {
    id: avatar

    // Participant map: pubkey, name, address, avatarKind, avatarId, speaking, muted, ...
    property var member: ({})
    property int size: 72
    property bool dimmed: false
    property string ownerPubkey: ""
    // Animations run only while the room popup is visible.
    property bool running: false

    readonly property string assets: Qt.resolvedUrl("../../../assets/")
    readonly property bool isOwner: !!member && !!member.pubkey && member.pubkey === ownerPubkey
    readonly property bool speaking: !!member && member.speaking === true
    // Only a bundled picture: whatever else a peer names is never fetched.
    readonly property string avatarId: Helpers.bundledAvatarId(member ? member.avatarId : "")
    readonly property bool animated: !!member && member.avatarKind === "lottie" && avatarId !== ""

    width: size
    height: size

    Rectangle {
        objectName: "speakingRing"
        anchors.centerIn: parent
        width: avatar.size + 14
        height: width
        radius: width / 2
        color: "transparent"
        border.width: 2.5
        border.color: "#39c878"
        opacity: 0.9
        visible: avatar.speaking

        SequentialAnimation on scale {
            running: avatar.speaking && avatar.running
            loops: Animation.Infinite
            NumberAnimation { from: 0.96; to: 1.06; duration: 620; easing.type: Easing.InOutSine }
            NumberAnimation { from: 1.06; to: 0.96; duration: 620; easing.type: Easing.InOutSine }
        }
    }

    Rectangle {
        objectName: "face"
        anchors.fill: parent
        radius: avatar.size / 2
        color: "#2effffff"
        border.width: 2
        border.color: avatar.isOwner ? "#f4b53f" : (avatar.speaking ? "#39c878" : "#33ffffff")
        opacity: avatar.dimmed ? 0.75 : 1

        RoundFace {
            id: picture
            objectName: "picture"
            property int frame: 0
            anchors.fill: parent
            anchors.margins: 3
            source: avatar.animated
                    ? avatar.assets + avatar.avatarId + "_frames/f" + frame + ".svg"
                    : Helpers.assetUrl(avatar.assets, Helpers.avatarSource(avatar.avatarId))

            FrameStepper {
                objectName: "faceStepper"
                running: avatar.running && avatar.animated
                onStepped: picture.frame = (picture.frame + 1) % (avatar.avatarId === "lottiehead_01" ? 18 : 24)
            }
        }
    }

    Rectangle {
        objectName: "muteBadge"
        visible: !!avatar.member && avatar.member.muted === true
        x: avatar.size - width
        y: avatar.size - height
        width: 22
        height: 22
        radius: 11
        color: "#e6272b45"
        border.width: 1
        border.color: "#4dffffff"
        TgIcon { anchors.centerIn: parent; name: "mute"; size: 12; color: "#ff9d94" }
    }

    Rectangle {
        objectName: "ownerMark"
        visible: avatar.isOwner
        width: 20
        height: 20
        radius: 10
        color: "#f4b53f"
        Text {
            anchors.centerIn: parent
            text: "★"
            color: "#5a4200"
            font.pixelSize: 11
        }
    }
}
