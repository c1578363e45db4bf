import QtQuick

AnimatedImage {
    playing: false
}
