import QtQuick

// The natural width of a text bubble's text of several lines (`bubble`):
// never drawn, made by the bubble only for such texts.
Text {
    required property Item bubble

    visible: false
    text: bubble._rich
    textFormat: Text.StyledText
    font.pixelSize: bubble.textPixelSize
}
