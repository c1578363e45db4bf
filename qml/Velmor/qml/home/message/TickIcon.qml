import QtQuick
import "rowLogic.js" as Logic

// The tick after a message's time (`meta`, its TimeTick), in its colour.
Image {
    required property Item meta

    objectName: "tickIcon"
    readonly property string name: meta.tick
    x: meta.timeWidth + meta.spacing
    anchors.verticalCenter: parent.verticalCenter
    width: meta.tickSize
    height: meta.tickSize
    sourceSize.width: 2 * meta.tickSize
    sourceSize.height: 2 * meta.tickSize
    source: Logic.tickPicture(meta.tick, meta.tickColor)
    opacity: meta.tickColor.a
    smooth: true
}
