import QtQuick
import QtQuick.Window
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

    // Only the group server's picture address is loaded; an avatar id that
    // looks like an address is a peer's choice and is never fetched.
    readonly property string effectiveRemote: Helpers.remoteAvatarAllowed(remoteUrl) ? remoteUrl : ""
    readonly property bool isLottie: special || avatarKind === "lottie" || avatarId.indexOf("lottiehead_") === 0
    readonly property int frames: special ? specialFrames : (avatarId === "lottiehead_01" ? 18 : 24)
    readonly property url _assets: Qt.resolvedUrl("../../assets/")
    readonly property string source: {
        if (effectiveRemote !== "")
            return effectiveRemote
        if (special)
            return _assets + specialDir + "/f" + _f + ".svg"
        if (isLottie && avatarId !== "" && avatarId.indexOf("http") !== 0)
            return _assets + avatarId + "_frames/f" + _f + ".svg"
        var id = avatarId.indexOf("http") === 0 ? "" : avatarId
        return Helpers.assetUrl(_assets, Helpers.avatarSource(id))
    }

    radius: Math.min(width, height) / 2
    color: (special || isLottie) ? "white" : Theme.avatarBg

    RoundFace {
        id: face
        objectName: "avatarImage"
        anchors.fill: parent
        anchors.margins: root.special ? 2 : 0
        source: root.source
        sourceSize: Qt.size(96, 96)
        fillMode: root.special ? Image.PreserveAspectFit : Image.PreserveAspectCrop
        cache: true
    }

    Timer {
        objectName: "frameTimer"
        interval: 42
        repeat: true
        running: root.animate && root.isLottie && root.visible
                 && root.Window.window !== null && root.Window.active
        onTriggered: root._f = (root._f + 1) % Math.max(1, root.frames)
    }
}
