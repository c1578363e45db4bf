import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor

// Full-window viewer of the open conversation's images: one image fitted
// to the window, zoomed with the wheel, panned by dragging while zoomed in,
// and stepped through the conversation's images (wrapping at both ends).
// It only shows; it sends and changes nothing.
Popup {
    id: popup

    // The image shown, and the conversation's images (taken when the viewer
    // opens) with its position among them.
    property string source: ""
    property var sources: []
    property int currentIndex: 0
    // The user's zoom (0.2 to 5), the offset of the zoomed image, and the
    // offset at the start of the current drag.
    property real zoom: 1
    property real panX: 0
    property real panY: 0
    property real baseX: 0
    property real baseY: 0

    readonly property real minZoom: 0.2
    readonly property real maxZoom: 5

    // Every image of the conversation, oldest first: the store's image
    // messages, each loaded from the store when shown unless its message is
    // among the loaded ones; only the loaded ones when the store names none.
    function collectSources() {
        var loaded = ({})
        var shown = []
        var msgs = Chat.messages || []
        for (var i = 0; i < msgs.length; ++i) {
            var m = msgs[i] || {}
            if (m.kind === "image" && m.imageSrc) {
                loaded[m.id] = String(m.imageSrc)
                shown.push(String(m.imageSrc))
            }
        }
        var ids = Chat.conversationImageIds() || []
        if (ids.length === 0)
            return shown
        // An id names a message only within its conversation.
        var stored = "image://chatimage/" + encodeURIComponent(Chat.currentPeer || "") + "/"
        var list = []
        for (var k = 0; k < ids.length; ++k) {
            var id = String(ids[k])
            list.push(loaded[id] !== undefined ? loaded[id] : stored + encodeURIComponent(id))
        }
        return list
    }

    function resetView() {
        zoom = 1
        panX = 0
        panY = 0
        baseX = 0
        baseY = 0
    }

    // Collects the images, makes `value` the current one (0 when it is not
    // among them), resets zoom and panning, and opens.
    function openAt(value) {
        sources = collectSources()
        currentIndex = Math.max(0, sources.indexOf(String(value)))
        source = String(value)
        resetView()
        open()
    }

    function move(delta) {
        var count = sources.length
        if (count < 2)
            return
        currentIndex = ((currentIndex + delta) % count + count) % count
        source = sources[currentIndex]
        resetView()
    }

    // One wheel step: in by 12 % for a positive angle, else out by 11 %.
    function zoomStep(angleY) {
        var next = zoom * (angleY > 0 ? 1.12 : 0.89)
        zoom = Math.min(maxZoom, Math.max(minZoom, next))
        if (zoom <= 1) {
            panX = 0
            panY = 0
            baseX = 0
            baseY = 0
        }
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: parent ? parent.width : 900
    height: parent ? parent.height : 700
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape
    background: Item {}

    contentItem: Item {
        id: stage

        MouseArea {
            objectName: "outsideArea"
            anchors.fill: parent
            onClicked: popup.close()
            onWheel: (wheel) => popup.zoomStep(wheel.angleDelta.y)
        }

        Item {
            id: imageBox
            objectName: "imageBox"

            readonly property real srcW: picture.sourceSize.width
            readonly property real srcH: picture.sourceSize.height
            readonly property real fit: srcW > 0 && srcH > 0
                                        ? Math.min((popup.width - 220) / srcW, (popup.height - 160) / srcH) : 1

            anchors.centerIn: parent
            anchors.horizontalCenterOffset: popup.panX
            anchors.verticalCenterOffset: popup.panY
            width: Math.max(80, srcW * fit)
            height: Math.max(80, srcH * fit)
            scale: popup.zoom

            Behavior on scale { NumberAnimation { duration: 80 } }

            Image {
                id: picture
                objectName: "previewImage"
                anchors.fill: parent
                source: popup.source
                fillMode: Image.PreserveAspectFit
                smooth: true
                asynchronous: true
            }

            // Takes the clicks on the image, so they never close the
            // viewer; a double click resets it, a drag pans while zoomed in.
            MouseArea {
                id: dragArea
                objectName: "imageArea"
                anchors.fill: parent
                property point start
                property bool dragging: false
                onPressed: (mouse) => {
                    start = mapToItem(stage, mouse.x, mouse.y)
                    dragging = popup.zoom > 1
                }
                onPositionChanged: (mouse) => {
                    if (!dragging || popup.zoom <= 1)
                        return
                    var p = mapToItem(stage, mouse.x, mouse.y)
                    popup.panX = popup.baseX + (p.x - start.x)
                    popup.panY = popup.baseY + (p.y - start.y)
                }
                onReleased: {
                    if (dragging) {
                        popup.baseX = popup.panX
                        popup.baseY = popup.panY
                    }
                    dragging = false
                }
                onDoubleClicked: popup.resetView()
                onWheel: (wheel) => popup.zoomStep(wheel.angleDelta.y)
            }
        }

        Rectangle {
            objectName: "closeButton"
            x: imageBox.x + imageBox.width - width / 2
            y: imageBox.y - height / 2
            z: 2
            width: 30
            height: 30
            radius: 15
            color: closeArea.containsMouse ? "#e6303244" : "#cc1c1e2c"
            border.width: 1
            border.color: "#4dffffff"
            TgIcon {
                anchors.centerIn: parent
                name: "close"
                size: 14
                color: "white"
            }
            MouseArea {
                id: closeArea
                anchors.fill: parent
                hoverEnabled: true
                onClicked: popup.close()
            }
        }

        Rectangle {
            objectName: "zoomLabel"
            visible: popup.zoom !== 1
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 24
            z: 2
            height: 24
            width: zoomText.implicitWidth + 18
            radius: 12
            color: "#66000000"
            Text {
                id: zoomText
                anchors.centerIn: parent
                text: Math.round(popup.zoom * 100) + "%"
                textFormat: Text.PlainText
                color: "white"
                font.pixelSize: 11
            }
        }

        Repeater {
            model: popup.sources.length > 1 ? [-1, 1] : []
            delegate: Rectangle {
                required property int modelData
                objectName: modelData < 0 ? "previousButton" : "nextButton"
                z: 2
                width: 40
                height: 40
                radius: 20
                anchors.verticalCenter: parent.verticalCenter
                x: modelData < 0 ? 28 : stage.width - 28 - width
                color: stepArea.containsMouse ? "#66000000" : "#40000000"
                TgIcon {
                    anchors.centerIn: parent
                    name: "back"
                    size: 18
                    color: "white"
                    rotationAngle: parent.modelData < 0 ? 0 : 180
                }
                MouseArea {
                    id: stepArea
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: popup.move(parent.modelData)
                }
            }
        }
    }
}
