import QtQuick
import Velmor
import "rowLogic.js" as Logic

// A shared link: icon and title, the address under it. A click asks to
// open the address, but only an http or https address; anything else a
// peer sent is ignored.
Item {
    id: root

    property string title: ""
    property string url: ""
    property bool outgoing: false

    signal openRequested(string url)

    implicitWidth: 288
    implicitHeight: 86

    Column {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 10
        spacing: 3

        Row {
            width: parent.width
            spacing: 7
            TgIcon {
                id: linkIcon
                name: "link"
                size: 16
                color: root.outgoing ? Theme.bubbleTimeOut : Theme.linkFg
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                objectName: "siteTitle"
                width: parent.width - linkIcon.width - parent.spacing
                anchors.verticalCenter: parent.verticalCenter
                text: root.title !== "" ? root.title : I18n.tr("message.link")
                textFormat: Text.PlainText
                elide: Text.ElideRight
                color: root.outgoing ? Theme.bubbleTextOut : Theme.textPrimary
                font.pixelSize: Theme.fontBody
                font.weight: Font.DemiBold
            }
        }
        Text {
            objectName: "siteUrl"
            width: parent.width
            text: root.url
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
            color: Theme.linkFg
            font.pixelSize: Theme.fontCaption
        }
    }

    MouseArea {
        objectName: "cardArea"
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            var safe = Logic.webUrl(root.url)
            if (safe !== "")
                root.openRequested(safe)
        }
    }
}
