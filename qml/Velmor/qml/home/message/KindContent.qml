import QtQuick
import Velmor
import "rowLogic.js" as Logic

// The content of a message row that is not a text bubble: a link card, a
// transfer, a row of animated emoji, a picture, a voice clip or a system
// line. Made by the row (`row`) only for the rows of these kinds; its size
// is the bubble's.
Loader {
    id: root

    required property Item row

    sourceComponent: {
        switch (row.kind) {
        case "site": return linkComponent
        case "transfer": return transferComponent
        case "emoji": return emojiComponent
        case "image": return imageComponent
        case "voice": return voiceComponent
        case "system": return systemComponent
        default: return null
        }
    }

    Component {
        id: systemComponent
        SystemCapsule {
            text: I18n.said(root.row.text)
            maxWidth: root.row.width
        }
    }
    Component {
        id: imageComponent
        ImageBubble {
            source: String(root.row.m.imageSrc)
            imageWidth: Number(root.row.m.imageW) || 0
            imageHeight: Number(root.row.m.imageH) || 0
            time: root.row.time
            tick: root.row.tick
            onClicked: root.row.imageClicked(String(root.row.m.imageSrc))
        }
    }
    Component {
        id: linkComponent
        LinkCard {
            title: root.row.m.siteTitle ? String(root.row.m.siteTitle) : ""
            url: String(root.row.m.siteUrl)
            outgoing: root.row.outgoing
            onOpenRequested: (url) => Qt.openUrlExternally(url)
        }
    }
    Component {
        id: transferComponent
        TransferCard {
            symbol: root.row.m.transferSymbol ? String(root.row.m.transferSymbol) : ""
            amount: String(root.row.m.transferAmountRaw)
            explorerUrl: root.row.m.transferExplorerUrl ? String(root.row.m.transferExplorerUrl) : ""
            outgoing: root.row.outgoing
            onOpenRequested: (url) => Qt.openUrlExternally(url)
        }
    }
    Component {
        id: emojiComponent
        EmojiBubble {
            codes: Logic.emojiCodes(root.row.m)
            running: root.row.animateNow
            senderShown: root.row.showSenderLabel
            senderWidth: root.row.senderLabelWidth
        }
    }
    Component {
        id: voiceComponent
        VoiceBubble {
            bars: Logic.voiceBars(root.row.m.voiceWaveform)
            durationText: Logic.voiceDurText(root.row.m.durMs)
            playing: root.row.voicePlaying
            ink: root.row.outgoing ? (Theme.dark ? "#ffffff" : "#1c2733") : Theme.textPrimary
            onClicked: root.row.toggleVoice()
        }
    }
}
