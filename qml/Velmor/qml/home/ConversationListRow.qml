import QtQuick
import QtQuick.Layouts
import Velmor
import "helpers.js" as Helpers
import "message/emojiText.js" as EmojiText

// One row of the conversation list, drawn from a conversation's values.
Rectangle {
    id: row

    property bool active: false
    property bool animate: true

    signal openRequested()
    signal deleteRequested()

    // What the row shows, each value typed. The conversation list binds each
    // to the model's role of the same name, so a new message re-evaluates
    // only what changed (its preview, its time).
    property string peer: ""
    property string display: ""
    property string last: ""
    property real ts: 0
    property string connectionState: ""
    // -1 when there is no usable latency.
    property real latencyMs: -1
    property string avatarId: ""
    property string avatarKind: ""
    property string sgAvatarUrl: ""
    property bool verified: false
    property bool muted: false
    property bool isSuper: false
    property bool isPremium: false
    property bool isOfficial: false
    property bool isAuthor: false
    property int unread: 0
    // Only the model's own texts (a stand-in for a name, "[图片]", a system
    // line) are translated; a name or a message someone typed is shown as
    // typed, whatever it says.
    property bool displayFallback: false
    property string lastKind: "text"
    readonly property string displayText: displayFallback ? I18n.said(display) : display
    readonly property string lastText: lastKind !== "text" ? I18n.said(last) : last
    readonly property string preview: {
        if (isSuper && connectionState === "connected" && latencyMs >= 0)
            return lastText + (lastText.length > 0 ? "  \u00b7  " : "") + latencyMs + "ms"
        return lastText
    }
    // The line as the bubbles draw it: emoji as pictures in colour (the
    // body face would draw some as outlines), every other character
    // escaped, in one fixed format. Only what one line can show is made.
    readonly property string previewMarkup: {
        var s = preview.length > kPreviewChars ? preview.substring(0, kPreviewChars) : preview
        var code = s.charCodeAt(s.length - 1)
        if (s.length < preview.length && code >= 0xD800 && code <= 0xDBFF)
            s = s.substring(0, s.length - 1)
        s = s.replace(/[\r\n\t]+/g, " ")
        var cut = EmojiText.pictureCut(s, kPreviewPictures)
        if (cut >= 0)
            s = s.substring(0, cut)
        return EmojiText.markup(s, Theme.fontBody + 2)
    }
    readonly property int kPreviewChars: 200
    readonly property int kPreviewPictures: 40

    height: Theme.rowHeight
    radius: 12
    color: active ? "#2effffff" : (mouse.containsMouse ? "#14ffffff" : "transparent")
    activeFocusOnTab: true
    Accessible.role: Accessible.ListItem
    Accessible.name: displayText
    Accessible.description: lastText

    Keys.onReturnPressed: row.openRequested()
    Keys.onEnterPressed: row.openRequested()

    // Keyboard focus ring, so Tab shows where it is.
    Rectangle {
        anchors.fill: parent
        radius: parent.radius
        color: "transparent"
        border.width: 1
        border.color: "#66ffffff"
        visible: row.activeFocus
    }

    CircleAvatar {
        objectName: "rowAvatar"
        x: 10
        y: 8
        width: Theme.avatarMedium
        height: Theme.avatarMedium
        remoteUrl: Helpers.groupServerPicture(row.sgAvatarUrl, row.peer)
        special: row.isOfficial || row.isAuthor
        specialDir: row.isOfficial ? "tabbar_profile_frames" : (row.isAuthor ? "authorheadphoto_frames" : "")
        specialFrames: row.isOfficial ? 49 : 50
        avatarId: row.avatarId
        avatarKind: row.avatarKind
        animate: row.animate
    }

    RowLayout {
        id: nameLine
        x: 68
        y: 8
        width: row.width - 78
        spacing: 4
        // Room the name leaves for the marks and the time.
        readonly property real marksWidth: (verifiedMark.visible ? 14 + spacing : 0)
                                           + (superStar.visible ? superStar.implicitWidth + spacing : 0)
                                           + 2 * spacing + timeText.implicitWidth

        Text {
            objectName: "displayName"
            text: row.displayText
            textFormat: Text.PlainText
            font.pixelSize: Theme.fontBody
            font.weight: Font.DemiBold
            color: row.isSuper ? (row.isPremium ? "#ff8d99" : "#ffd479") : "#ffffff"
            elide: Text.ElideRight
            // Its natural width, so the marks follow the name; elided when
            // the line is too short.
            Layout.preferredWidth: Math.max(0, Math.min(implicitWidth, nameLine.width - nameLine.marksWidth))
        }
        Image {
            id: verifiedMark
            objectName: "verifiedMark"
            visible: row.verified
            // Loaded only for the rows that show it.
            source: visible ? Qt.resolvedUrl("../../assets/icons/verify.png") : ""
            sourceSize: Qt.size(28, 28)
            Layout.preferredWidth: 14
            Layout.preferredHeight: 14
            fillMode: Image.PreserveAspectFit
            smooth: true
        }
        Text {
            id: superStar
            objectName: "superStar"
            visible: row.isSuper
            text: row.isSuper ? "\u2605" : ""
            color: row.isPremium ? "#ff8d99" : "#ffd479"
            font.pixelSize: 12
        }
        Item { Layout.fillWidth: true }
        Text {
            id: timeText
            objectName: "timeText"
            text: Helpers.formatTime(row.ts)
            color: "#b3ffffff"
            font.pixelSize: Theme.fontBody
        }
    }

    RowLayout {
        x: 68
        y: 33
        width: row.width - 78
        spacing: 6

        // Styled text with pictures is not elided by the text item: the
        // line is wrapped at its room (whole words and pictures), only its
        // first line shown, and a "…" follows it when there was more.
        Item {
            id: previewBox
            objectName: "previewBox"
            Layout.fillWidth: true
            implicitHeight: previewText.height
            clip: true

            Text {
                id: previewText
                objectName: "previewText"
                // The room of the "…" is kept whether or not it shows: a
                // width that followed it would lay the line out again.
                width: Math.max(0, previewBox.width - dots.implicitWidth)
                text: row.previewMarkup
                textFormat: Text.StyledText
                font.pixelSize: Theme.fontBody
                color: "#b3ffffff"
                maximumLineCount: 1
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            }
            Text {
                id: dots
                objectName: "previewDots"
                x: previewText.contentWidth
                anchors.verticalCenter: previewText.verticalCenter
                visible: previewText.truncated
                text: "\u2026"
                font.pixelSize: Theme.fontBody
                color: "#b3ffffff"
            }
        }
        Rectangle {
            objectName: "unreadBadge"
            visible: row.unread > 0
            Layout.preferredHeight: Theme.unreadBadgeHeight
            Layout.preferredWidth: Math.max(Theme.unreadBadgeHeight, unreadText.implicitWidth + 10)
            radius: height / 2
            color: row.muted ? "#59ffffff" : "#ff3b30"
            Text {
                id: unreadText
                objectName: "unreadText"
                anchors.centerIn: parent
                text: row.unread > 99 ? "99+" : (row.unread > 0 ? String(row.unread) : "")
                color: "#ffffff"
                font.pixelSize: Theme.fontFootnote
                font.bold: true
            }
        }
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onClicked: (ev) => {
            if (ev.button === Qt.RightButton) {
                if (!row.isOfficial && !row.isSuper)
                    row.deleteRequested()
            } else {
                row.openRequested()
            }
        }
    }
}
