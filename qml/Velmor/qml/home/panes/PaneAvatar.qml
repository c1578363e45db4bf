import QtQuick
import ".."
import "../helpers.js" as Helpers

// A round avatar of the pages and popups: a filled circle holding the
// picture of `avatarId`, inset by `inset` pixels. Only bundled pictures are
// shown, except that a member of a super group (`groupPeer` "sg:" + its
// server) may show a picture served by that group's own server; whatever
// else a peer names is never fetched (RoundFace decodes at the size shown).
Rectangle {
    id: circle

    property string avatarId: ""
    property string groupPeer: ""
    property int inset: 1

    readonly property url _assets: Qt.resolvedUrl("../../../assets/")
    property bool _remoteFailed: false
    readonly property string _remote: _remoteFailed ? "" : Helpers.groupServerPicture(avatarId, groupPeer)
    onAvatarIdChanged: _remoteFailed = false

    radius: width / 2
    color: "#21ffffff"

    RoundFace {
        id: face
        objectName: "paneAvatarImage"
        anchors.fill: parent
        anchors.margins: circle.inset
        source: circle._remote !== "" ? circle._remote
                                      : Helpers.assetUrl(circle._assets, Helpers.avatarSource(circle.avatarId))
        onStatusChanged: if (status === Image.Error && circle._remote !== "") circle._remoteFailed = true
    }
}
