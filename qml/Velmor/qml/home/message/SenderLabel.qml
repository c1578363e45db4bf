import QtQuick
import Velmor
import "../helpers.js" as Helpers
import "rowLogic.js" as Logic

// The sender's name over the first bubble of a run in a normal group, made
// by the message row (`row`) in its bubble only for the rows that show it.
Text {
    required property Item row

    objectName: "senderText"
    // Over the bubble's content, as the time is.
    z: 1
    x: 11
    y: 7
    width: Math.max(0, Math.min(implicitWidth, parent.width - 22))
    text: row.m.senderName ? String(row.m.senderName) : Helpers.shortAddress(row.m.senderAddress)
    textFormat: Text.PlainText
    elide: Text.ElideRight
    color: Theme.peerColors[Logic.peerColorIndex(row.m.senderAddress, row.m.senderName)]
    font.pixelSize: Theme.fontBody
    font.weight: Font.DemiBold
}
