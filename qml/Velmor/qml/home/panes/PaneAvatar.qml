import QtQuick
import ".."
import "../helpers.js" as Helpers

// A round avatar of the pages and popups: a filled circle holding the
// picture of `avatarId`, inset by `inset` pixels.
Rectangle {
    id: circle

    property string avatarId: ""
    property int inset: 1

    readonly property url _assets: Qt.resolvedUrl("../../../assets/")

    radius: width / 2
    color: "#21ffffff"

    RoundFace {
        anchors.fill: parent
        anchors.margins: circle.inset
        source: Helpers.assetUrl(circle._assets, Helpers.avatarSource(circle.avatarId))
    }
}
