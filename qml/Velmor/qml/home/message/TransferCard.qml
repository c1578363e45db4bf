import QtQuick
import Velmor
import "rowLogic.js" as Logic

// A token transfer: wallet badge, "转账 · " and the symbol, the amount as
// sent. A click asks to open the explorer page when the message names an
// http or https one, and does nothing otherwise.
Item {
    id: root

    property string symbol: ""
    property string amount: ""
    property string explorerUrl: ""
    property bool outgoing: false

    signal openRequested(string url)

    implicitWidth: 288
    implicitHeight: 92

    Row {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 10
        spacing: 10

        Rectangle {
            id: badge
            width: 40
            height: 40
            radius: 20
            color: "#26f4b53f"
            TgIcon {
                anchors.centerIn: parent
                name: "wallet"
                size: 20
                color: "#f4b53f"
            }
        }
        Column {
            width: parent.width - badge.width - parent.spacing
            spacing: 2
            Text {
                objectName: "transferHeading"
                width: parent.width
                text: I18n.tr("message.transfer", { "symbol": root.symbol })
                textFormat: Text.PlainText
                elide: Text.ElideRight
                color: root.outgoing ? Theme.bubbleTextOut : Theme.textPrimary
                font.pixelSize: Theme.fontBody
                font.weight: Font.DemiBold
            }
            Text {
                objectName: "transferAmount"
                width: parent.width
                text: root.amount
                textFormat: Text.PlainText
                elide: Text.ElideMiddle
                color: root.outgoing ? Theme.bubbleTimeOut : Theme.textSecondary
                font.pixelSize: Theme.fontCaption
            }
        }
    }

    MouseArea {
        objectName: "cardArea"
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            var safe = Logic.webUrl(root.explorerUrl)
            if (safe !== "")
                root.openRequested(safe)
        }
    }
}
