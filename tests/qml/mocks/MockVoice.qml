import QtQml

// Stands in for the "Voice" context property (voice recording and playback).
MockController {
    property bool playing: false
    property bool recording: false
    property real level: 0

    signal error(string message)

    function playBase64(b64, mime) { record("playBase64", arguments) }
    function stopPlayback() { record("stopPlayback", arguments) }
    function startRecording() { record("startRecording", arguments); return result("startRecording", false) }
    function stopRecording() { record("stopRecording", arguments); return result("stopRecording", "") }
    function cancelRecording() { record("cancelRecording", arguments) }
}
