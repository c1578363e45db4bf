pragma Singleton
import QtQuick

// Design tokens. Eight-digit colour strings are read alpha first (#AARRGGBB),
// exactly as Qt parses them; the values are kept verbatim so that every view
// draws the same colours whichever way it reads a token.
QtObject {
    id: theme

    property bool dark: false

    readonly property color windowBg: dark ? "#17212b" : "#ffffff"
    readonly property color panelBg: dark ? "#17212b" : "#ffffff"
    readonly property color panelBgAlpha: dark ? "#17212bf2" : "#fffffff2"
    readonly property color cardBg: dark ? "#182533" : "#ffffff"
    readonly property color buttonBg: dark ? "#232e3c" : "#f1f1f1"
    readonly property color railBg: dark ? "#17212b" : "#ffffff"
    readonly property color sidebarBg: dark ? "#17212b" : "#ffffff"
    readonly property color avatarBg: dark ? "#2b5278" : "#5caffa"
    readonly property color textPrimary: dark ? "#f5f5f5" : "#000000"
    readonly property color textSecondary: dark ? "#708499" : "#999999"
    readonly property color textMuted: dark ? "#708499" : "#999999"
    readonly property color textBold: dark ? "#e9e8e8" : "#222222"
    readonly property color linkFg: dark ? "#70baf5" : "#168acd"
    readonly property color border: dark ? "#04080e56" : "#00000018"
    readonly property color listBgOver: dark ? "#202b36" : "#f1f1f1"
    readonly property color listBgActive: dark ? "#2b5278" : "#419fd9"
    readonly property color unreadBg: dark ? "#4082bc" : "#40a7e3"
    readonly property color unreadBgMuted: dark ? "#3e546a" : "#bbbbbb"
    readonly property color sentTick: dark ? "#6bbfff" : "#5dc452"
    readonly property color onlineBadge: "#4dc920"
    readonly property color bubbleIn: dark ? "#182533" : "#ffffff"
    readonly property color bubbleOut: dark ? "#2b5278" : "#effdde"
    readonly property color bubbleTimeIn: dark ? "#6d7f8f" : "#a0acb6"
    readonly property color bubbleTimeOut: dark ? "#7da8d3" : "#6db566"
    readonly property color bubbleTick: dark ? "#6bbfff" : "#57b84c"
    readonly property color bubbleTextOut: dark ? "#e4ecf2" : "#000000"
    readonly property color bubbleShadowIn: dark ? "#00000000" : "#748ea229"
    readonly property color bubbleShadowOut: dark ? "#00000000" : "#3ac3461d"
    readonly property color serviceBg: dark ? "#213040d5" : "#517c417f"
    readonly property color chatCanvas: dark ? "#0e1621" : "#d9e4dc"
    readonly property color composerBg: dark ? "#17212b" : "#ffffff"
    readonly property color selectionBg: dark ? "#2e70a5" : "#c2dcf2"
    readonly property color hoverBg: dark ? "#202b36" : "#f1f1f1"
    readonly property color sendIcon: dark ? "#5288c1" : "#40a7e3"
    readonly property color placeholder: dark ? "#6d7883" : "#999999"
    readonly property color searchBorder: dark ? "#242f3d" : "#54c3f3"
    readonly property color accent: dark ? "#5288c1" : "#40a7e3"
    readonly property color brandBlue: dark ? "#5288c1" : "#40a7e3"
    readonly property color accentOver: dark ? "#3476ab" : "#39a5db"
    readonly property color accentDown: dark ? "#3b7cb1" : "#2095d0"
    readonly property color danger: "#dd4b39"
    readonly property color success: dark ? "#6bbfff" : "#5dc452"
    readonly property color warning: "#d09306"
    readonly property color premium: "#f4b53f"
    readonly property color premiumPlus: "#ff453a"
    readonly property color scrim: "#0000007f"
    readonly property color shadow: dark ? "#04080e56" : "#00000018"
    // Notices drawn on the purple gradient cards, which are the same in both
    // modes and too light at one end for any text alone: a dark backing and
    // light texts on it.
    readonly property color gradientNoticeBg: "#e01b1d33"
    readonly property color gradientNoticeText: "#f2f2f7"
    readonly property color gradientNoticeDanger: "#ff9a8f"
    readonly property color gradientNoticeWarning: "#ffc857"

    readonly property var peerColors: ["#c03d33", "#4fad2d", "#d09306",
        dark ? "#6ab3f3" : "#168acd",
        "#8544d6", "#cd4073", "#2996ad", "#ce671b"]
    readonly property var peerAvatarColors: ["#ff845e", "#9ad164", "#e5ca77", "#5caffa",
        "#b694f9", "#ff8aac", "#62d4e3", "#faa774"]

    readonly property int fontCaption: 11
    readonly property int fontFootnote: 12
    readonly property int fontBody: 13
    readonly property int fontCallout: 14
    readonly property int fontTitle3: 17
    readonly property int fontTitle2: 18
    readonly property int fontTitle1: 26
    // Where an emoji stands alone, it is drawn from the colour emoji font: the
    // default sans face carries monochrome outlines of some emoji and would win.
    readonly property string emojiFamily: "Noto Color Emoji"

    readonly property int space2: 2
    readonly property int space4: 4
    readonly property int space8: 8
    readonly property int space12: 12
    readonly property int space16: 16
    readonly property int space20: 20
    readonly property int space24: 24
    readonly property int space32: 32

    readonly property int radiusSmall: 8
    readonly property int radiusMedium: 12
    readonly property int radiusLarge: 16
    readonly property int radiusSheet: 22
    readonly property int controlHeight: 40
    readonly property int rowHeight: 62
    readonly property int avatarSmall: 33
    readonly property int avatarMedium: 46
    readonly property int avatarLarge: 72
    readonly property int topBarHeight: 54
    readonly property int unreadBadgeHeight: 19
    readonly property int bubbleMaxWidth: 430
    readonly property int bubbleMinWidth: 160
    readonly property int durationFast: 100
    readonly property int durationNormal: 180
    readonly property int durationSheet: 240
    readonly property real shadowOpacity: dark ? 0.42 : 0.16

    function toggle() {
        dark = !dark
    }
}
