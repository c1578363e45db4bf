import QtQml
import Velmor

// What the settings page and the profile view do to the signed-in account
// through "App", "Chat", "Voice" and "VoiceRoom". Confirmations come back
// through toast(); the owner shows them.
QtObject {
    signal toast(string message)

    // The avatar is stored first: the profile sync reads it back from there.
    function chooseAvatar(avatarId) {
        App.setAvatar(avatarId)
        Chat.syncSuperGroupProfiles()
        toast(I18n.tr("settings.avatarUpdated"))
    }

    // Copies a text and says so; an empty text is neither copied nor reported.
    function copyAndToast(text, message) {
        if (!text)
            return
        App.copyToClipboard(text)
        toast(message)
    }

    // True when the password was stored; a failure is reported here.
    function setBackupPassword(password) {
        if (App.setBackupPassword(password))
            return true
        toast(I18n.tr("common.copyFailed"))
        return false
    }

    // Leaves the voice room and stops playback before the chat stops, so
    // nothing keeps sounding or sending after the identity is gone.
    function logout() {
        if (VoiceRoom.active)
            VoiceRoom.leaveRoom()
        Voice.stopPlayback()
        Chat.stop()
        App.logout()
    }
}
