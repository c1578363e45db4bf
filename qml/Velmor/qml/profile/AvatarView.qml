import QtQuick
import Qt5Compat.GraphicalEffects
import "../home"
import "../home/helpers.js" as Helpers

// A round avatar for the profile view: a still picture, or an animated head
// that shows frame `tick` of its frames while `animate` is set (the view's
// one shared clock drives every playing avatar) and its first frame
// otherwise.
Rectangle {
    id: av

    property string avatarId: ""
    property bool animate: false
    property int tick: 0

    readonly property bool lottie: avatarId.indexOf("lottiehead_") === 0
    readonly property int frames: avatarId === "lottiehead_01" ? 18 : 24
    readonly property url _assets: Qt.resolvedUrl("../../assets/")
    // A still avatar never reads the clock, so its ticks cost it nothing.
    readonly property string source: Helpers.avatarPicture({
        "avatarId": avatarId, "frame": lottie && animate ? tick % frames : 0 }, _assets)

    radius: Math.min(width, height) / 2
    color: "transparent"
    clip: true

    // Two pictures under one round mask: while the next frame loads, the
    // last one that loaded stays on screen, so a playing head never blinks.
    Item {
        anchors.fill: parent
        layer.enabled: true
        layer.smooth: true
        layer.effect: OpacityMask { maskSource: mask }

        Image {
            id: lastFace
            anchors.fill: parent
            visible: face.status !== Image.Ready && source !== ""
            fillMode: Image.PreserveAspectCrop
            smooth: true
            sourceSize: face.sourceSize
        }
        Image {
            id: face
            objectName: "avatarViewImage"
            anchors.fill: parent
            source: av.source
            fillMode: Image.PreserveAspectCrop
            smooth: true
            asynchronous: true
            sourceSize: Qt.size(160, 160)
            onStatusChanged: if (status === Image.Ready) lastFace.source = source
        }
    }

    CircleMask { id: mask }
}
