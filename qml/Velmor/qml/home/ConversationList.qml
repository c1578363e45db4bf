import QtQuick
import Velmor
import Velmor.Models 1.0

// The sidebar's conversation list: the controller's conversation model
// (Chat.conversationModel, rows by peer, changed row by row, so the list
// keeps its scroll position and the focused row), or while the user
// searches, its rows that match `query`.
ListView {
    id: list

    property string query: ""
    readonly property bool searching: query.trim() !== ""

    signal activated(string peer)
    signal deleteRequested(string peer, string displayName)

    clip: true
    spacing: 0
    // Unfiltered, the view reads the controller's model itself: a
    // conversation moving to the top is one move, never a new list.
    model: searching ? matches : Chat.conversationModel
    // The scroll bar is a control: made once the window has drawn the
    // list's rows, the home view's first frame needs none of the controls'
    // modules.
    Loader {
        id: scrollBarMaker
        active: false
        asynchronous: true
        source: "LateScrollBar.qml"
        onLoaded: {
            item.objectName = "scrollBar"
            item.list = list
        }
    }
    Connections {
        target: !scrollBarMaker.active && list.count > 0 && list.visible ? list.Window.window : null
        function onFrameSwapped() { scrollBarMaker.active = true }
    }

    KeyedFilterModel {
        id: matches
        source: list.searching ? Chat.conversationModel : null
        query: list.query
        fields: ["display", "address", "last", "peer"]
    }

    function open(peer) {
        Chat.openConversation(peer)
        activated(peer)
    }

    delegate: ConversationListRow {
        id: convRow
        // Each value from its own role (ConversationRowModel): a new
        // message re-evaluates only the roles whose values changed.
        peer: model.peer
        display: model.display
        displayFallback: model.displayFallback
        last: model.last
        lastKind: model.lastKind
        ts: model.ts
        unread: model.unread
        muted: model.muted
        connectionState: model.connectionState
        latencyMs: model.latencyMs
        avatarId: model.avatarId
        avatarKind: model.avatarKind
        sgAvatarUrl: model.sgAvatarUrl
        verified: model.verified
        isSuper: model.isSuper
        isPremium: model.isPremium
        isOfficial: model.isOfficial
        isAuthor: model.isAuthor
        width: Math.floor(0.9 * list.width)
        x: Math.round((list.width - width) / 2)
        active: peer === Chat.currentPeer
        animate: list.visible
        onOpenRequested: list.open(peer)
        onDeleteRequested: list.deleteRequested(peer, display)
    }

    Rectangle {
        objectName: "emptyTextBacking"
        anchors.centerIn: parent
        width: emptyText.implicitWidth + 2 * Theme.space12
        height: emptyText.implicitHeight + Theme.space8
        radius: height / 2
        color: Theme.gradientNoticeBg
        // The shown model's own count: the view's is not told of every
        // switch between the two models.
        visible: (list.searching ? matches.count : Chat.conversationModel.count) === 0
        Text {
            id: emptyText
            objectName: "emptyText"
            anchors.centerIn: parent
            text: I18n.tr("chat.empty")
            color: Theme.gradientNoticeText
            font.pixelSize: Theme.fontFootnote
        }
    }
}
