import QtQml

// Stands in for the "Voice" context property (voice recording and playback).
// One change signal per property, as on the real object (elapsedMs is
// announced by elapsedChanged).
MockController {
    property bool playing: false
    property bool recording: false
    property int elapsedMs: 0
    property real level: 0

    signal elapsedChanged()
    signal recordingFinished(string filePath, int durationMs)
    signal error(string message)

    function startRecording() { record("startRecording", arguments); return result("startRecording", false) }
    function cancelRecording() { record("cancelRecording", arguments) }
    function stopRecording() { record("stopRecording", arguments) }
    function playBase64(b64, mime) { record("playBase64", arguments) }
    function stopPlayback() { record("stopPlayback", arguments) }
    function removeFile(filePath) { record("removeFile", arguments) }
}
