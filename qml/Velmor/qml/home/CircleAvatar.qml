import QtQuick
import Velmor
import "helpers.js" as Helpers

// A round avatar: a group server's picture, an animated frame set (the
// official and author accounts, "lottiehead_" heads) or a still picture.
Rectangle {
    id: root

    property string avatarId: ""
    property string remoteUrl: ""
    property string avatarKind: ""
    property bool special: false
    property string specialDir: ""
    property int specialFrames: 24
    property bool animate: true
    property int _f: 0

    // Set when the remote picture failed to load: the still picture of the
    // id shows instead. A new address tries again.
    property bool _remoteFailed: false
    onRemoteUrlChanged: _remoteFailed = false

    // Only a group server's picture address is loaded (https, or plain http
    // to this machine); an avatar id that looks like an address is a peer's
    // choice and is never fetched.
    readonly property string effectiveRemote: Helpers.remoteAvatarAllowed(remoteUrl) && !_remoteFailed ? remoteUrl : ""
    readonly property bool isLottie: special || avatarKind === "lottie" || avatarId.indexOf("lottiehead_") === 0
    readonly property int frames: special ? specialFrames : (avatarId === "lottiehead_01" ? 18 : 24)
    readonly property url _assets: Qt.resolvedUrl("../../assets/")
    readonly property string source: Helpers.avatarPicture({
        "remoteUrl": remoteUrl, "remoteFailed": _remoteFailed, "avatarId": avatarId,
        "avatarKind": avatarKind, "special": special, "specialDir": specialDir, "frame": _f }, _assets)

    // A bundled picture comes cut to a circle ("image://round/..."); only a
    // group server's picture is cut by a layer and a mask.
    readonly property string _roundSource: source.indexOf(String(_assets)) === 0
                                           ? "image://round/" + source.substring(String(_assets).length) : ""

    radius: Math.min(width, height) / 2
    color: (special || isLottie) ? "white" : Theme.avatarBg

    // Two pictures: while the next frame loads, the last one that loaded
    // stays on screen, so an animation never blinks.
    Item {
        id: holder
        anchors.fill: parent
        anchors.margins: root.special ? 2 : 0
        layer.enabled: root._roundSource === ""
        layer.smooth: true
        layer.effect: layer.enabled ? Qt.createComponent("RoundMaskEffect.qml") : null

        Image {
            id: lastFace
            objectName: "lastFrameImage"
            anchors.fill: parent
            visible: face.status !== Image.Ready && source !== ""
            sourceSize: face.sourceSize
            fillMode: face.fillMode
            smooth: true
            cache: true
        }

        Image {
            id: face
            objectName: "avatarImage"
            anchors.fill: parent
            source: root._roundSource !== "" ? root._roundSource : root.source
            sourceSize: Qt.size(96, 96)
            fillMode: root.special ? Image.PreserveAspectFit : Image.PreserveAspectCrop
            smooth: true
            asynchronous: true
            cache: true
            onStatusChanged: {
                if (status === Image.Ready)
                    lastFace.source = source
                else if (status === Image.Error && root.effectiveRemote !== "" && String(source) === root.effectiveRemote)
                    root._remoteFailed = true
            }
        }
    }

    // Follows the shared clock, which runs only while the window is active.
    FrameStepper {
        objectName: "frameTimer"
        running: root.animate && root.isLottie && root.visible
        onStepped: root._f = (root._f + 1) % Math.max(1, root.frames)
    }
}
