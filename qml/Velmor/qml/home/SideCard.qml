import QtQuick
import QtQuick.Window
import QtQuick.Layouts
import Velmor

// The sidebar card: logo, page buttons, search field and conversation list
// on a gradient card with a drop shadow. Dragging an empty spot of it moves
// the window (not in full screen).
Item {
    id: root

    property bool full: false
    property string mainPane: "chat"
    readonly property alias searchField: conversationSearch
    readonly property alias list: convList

    // A page button was clicked ("settings", "notifications", "newGroup", "newChat").
    signal paneRequested(string name)
    // A row was opened by click or keyboard (after Chat.openConversation).
    signal conversationActivated(string peer)
    // A right click on a row that may be deleted.
    signal deleteRequested(string peer, string displayName)

    // Drawn beforehand with the blur the card used to cast at run time.
    CardShadow {
        objectName: "sideCardShadow"
        card: card
        picture: "side_card.png"
        corner: 72
    }

    Rectangle {
        id: card
        objectName: "sideCardFrame"
        anchors.fill: parent
        radius: 16
        clip: true
        gradient: Gradient {
            id: cardGradient
            GradientStop { position: 0.0; color: "#5f608b" }
            GradientStop { position: 1.0; color: "#a287b3" }
        }

        DragHandler {
            objectName: "sideCardDrag"
            target: null
            enabled: !root.full
            onActiveChanged: {
                if (active && root.Window.window)
                    root.Window.window.startSystemMove()
            }
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            SidebarHeader {
                id: header
                backdrop: card
                Layout.fillWidth: true
                Layout.preferredHeight: 86
                Layout.leftMargin: Math.floor(0.05 * card.width)
                Layout.rightMargin: 14
                mainPane: root.mainPane
                notificationCount: Chat.notificationCount
                onPaneRequested: (name) => root.paneRequested(name)
            }

            SearchField {
                id: conversationSearch
                objectName: "conversationSearch"
                Layout.fillWidth: true
                Layout.preferredHeight: 34
                Layout.leftMargin: Theme.space12
                Layout.rightMargin: Theme.space12
                Layout.bottomMargin: Theme.space8
                placeholderText: I18n.tr("chat.search")
                onGradient: true
            }

            // The relay cannot be reached: said once above the list,
            // gone as soon as a pull gets through again.
            Rectangle {
                objectName: "relayStatusBacking"
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: parent.width - 2 * Theme.space12
                Layout.preferredWidth: relayStatus.implicitWidth + 2 * Theme.space12
                Layout.preferredHeight: relayStatus.implicitHeight + Theme.space8
                Layout.bottomMargin: Theme.space8
                visible: Chat.relayStatusText.length > 0
                radius: height / 2
                color: Theme.gradientNoticeBg
                Text {
                    id: relayStatus
                    objectName: "relayStatus"
                    anchors.fill: parent
                    anchors.leftMargin: Theme.space12
                    anchors.rightMargin: Theme.space12
                    text: I18n.said(Chat.relayStatusText)
                    textFormat: Text.PlainText
                    color: Chat.relayStatusText === "连接失败" ? Theme.gradientNoticeDanger : Theme.gradientNoticeWarning
                    font.pixelSize: Theme.fontFootnote
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
            }

            ConversationList {
                id: convList
                objectName: "convList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                query: conversationSearch.text
                onActivated: (peer) => root.conversationActivated(peer)
                onDeleteRequested: (peer, displayName) => root.deleteRequested(peer, displayName)
            }
        }
    }

}
