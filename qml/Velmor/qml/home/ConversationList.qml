import QtQuick
import QtQuick.Controls.Basic
import Velmor
import "helpers.js" as Helpers

// The sidebar's conversation list: the rows of Chat.conversations that match
// `query`, mirrored into a model by peer so that a republished list keeps
// its scroll position and the focused row.
ListView {
    id: list

    property string query: ""
    readonly property var rows: Helpers.filterConversations(Chat.conversations, query)

    signal activated(string peer)
    signal deleteRequested(string peer, string displayName)

    clip: true
    spacing: 0
    model: ListModel { id: rowModel }
    ScrollBar.vertical: TgScrollBar { objectName: "scrollBar" }

    // The rows the model holds now.
    property var _shown: []
    onRowsChanged: _shown = Helpers.syncModel(rowModel, _shown, rows, "peer")
    Component.onCompleted: _shown = Helpers.syncModel(rowModel, _shown, rows, "peer")

    function open(peer) {
        Chat.openConversation(peer)
        activated(peer)
    }

    delegate: ConversationListRow {
        id: convRow
        required property string json
        required property int index
        readonly property var item: JSON.parse(json)
        conversation: item
        width: Math.floor(0.9 * list.width)
        x: Math.round((list.width - width) / 2)
        active: (item.peer || "") === Chat.currentPeer
        animate: list.visible
        onOpenRequested: list.open(item.peer || "")
        onDeleteRequested: list.deleteRequested(item.peer || "", item.display || "")
    }

    Text {
        objectName: "emptyText"
        anchors.centerIn: parent
        visible: list.rows.length === 0
        text: I18n.tr("chat.empty")
        color: Theme.textMuted
        font.pixelSize: Theme.fontFootnote
    }
}
