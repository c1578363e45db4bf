import QtQuick

// A card's drop shadow from a picture drawn once beforehand (see
// tools/assetgen/shadowgen.cpp): a blur made at run time cost the first
// frames of the home view a long stall in software rendering. The picture is
// the shadow of a small card with `margin` pixels around it; its corner
// pieces are kept and the even rows and columns between them stretched, which
// gives the shadow a card of any size casts.
BorderImage {
    // The card it falls from: the shadow takes its place and size.
    property Item card
    // The picture under assets/shadows/ and the size of its corner pieces.
    property string picture
    property int corner

    readonly property int margin: 32

    x: card ? card.x - margin : 0
    y: card ? card.y - margin : 0
    width: card ? card.width + 2 * margin : 0
    height: card ? card.height + 2 * margin : 0
    source: picture !== "" ? Qt.resolvedUrl("../../assets/shadows/" + picture) : ""
    border.left: corner
    border.right: corner
    border.top: corner
    border.bottom: corner
}
