import QtQuick

// A card's drop shadow from a picture drawn once beforehand (see
// tools/assetgen/shadowgen.cpp): a blur made at run time cost the first
// frames of the home view a long stall in software rendering. The picture is
// the shadow of a small card with `margin` pixels around it; its corners are
// kept and the even rows and columns between them stretched along the card's
// sides, which gives the shadow a card of any size casts. Only what shows is
// drawn: the corners and a band of `margin` plus the card's soft rim along
// each side, not the inside that the card covers, since every pixel drawn
// costs again on each frame the window redraws.
Item {
    id: shadow

    // The card it falls from: the shadow takes its place and size.
    property Item card
    // The picture under assets/shadows/ and the size of its corner pieces.
    property string picture
    property int corner

    readonly property int margin: 32
    // The band reaches under the card's antialiased edge.
    readonly property int band: margin + 4
    // The picture is square, with 4 even rows and columns between its
    // corner pieces (as the generator draws it).
    readonly property int _side: 2 * corner + 4

    x: card ? card.x - margin : 0
    y: card ? card.y - margin : 0
    width: card ? card.width + 2 * margin : 0
    height: card ? card.height + 2 * margin : 0

    // Each piece is cut from the picture decoded once (a clip rectangle
    // per image decoded the whole picture for each of the eight).
    component Piece: Image {
        property rect clipRect
        source: shadow.picture === "" ? ""
                : "image://shadow/" + shadow.picture + "/"
                  + [clipRect.x, clipRect.y, clipRect.width, clipRect.height].join(",")
        smooth: true
    }

    Piece { width: shadow.corner; height: shadow.corner
        clipRect: Qt.rect(0, 0, shadow.corner, shadow.corner) }
    Piece { x: shadow.width - width; width: shadow.corner; height: shadow.corner
        clipRect: Qt.rect(shadow._side - shadow.corner, 0, shadow.corner, shadow.corner) }
    Piece { y: shadow.height - height; width: shadow.corner; height: shadow.corner
        clipRect: Qt.rect(0, shadow._side - shadow.corner, shadow.corner, shadow.corner) }
    Piece { x: shadow.width - width; y: shadow.height - height; width: shadow.corner; height: shadow.corner
        clipRect: Qt.rect(shadow._side - shadow.corner, shadow._side - shadow.corner, shadow.corner, shadow.corner) }

    Piece { x: shadow.corner; width: shadow.width - 2 * shadow.corner; height: shadow.band
        clipRect: Qt.rect(shadow.corner, 0, shadow._side - 2 * shadow.corner, shadow.band) }
    Piece { x: shadow.corner; y: shadow.height - height; width: shadow.width - 2 * shadow.corner; height: shadow.band
        clipRect: Qt.rect(shadow.corner, shadow._side - shadow.band, shadow._side - 2 * shadow.corner, shadow.band) }
    Piece { y: shadow.corner; width: shadow.band; height: shadow.height - 2 * shadow.corner
        clipRect: Qt.rect(0, shadow.corner, shadow.band, shadow._side - 2 * shadow.corner) }
    Piece { x: shadow.width - width; y: shadow.corner; width: shadow.band; height: shadow.height - 2 * shadow.corner
        clipRect: Qt.rect(shadow._side - shadow.band, shadow.corner, shadow.band, shadow._side - 2 * shadow.corner) }
}
