import QtCore
import QtQuick
import QtQuick.Dialogs
import Velmor

// The file dialog that picks an image to send ("image") or a QR-code
// picture to scan ("qr"). On acceptance: for "image",
// App.localImageDraft(url) and Chat.sendImageFromFile, or `failed` with the
// error text; for "qr", Chat.resolveQrImage(url).
Item {
    id: root

    property string purpose: "image"
    // The QR reader takes no animated pictures: no GIF there.
    readonly property string title: I18n.tr(purpose === "qr" ? "image.scanQr" : "chat.chooseImage")
    readonly property var nameFilters: purpose === "qr"
        ? [I18n.tr("image.filter", { "patterns": "*.png *.jpg *.jpeg *.webp *.bmp" })]
        : [I18n.tr("image.filter", { "patterns": "*.png *.jpg *.jpeg *.gif *.webp *.bmp" })]

    // The picture could not be read; the home view shows `error` in the
    // composer's tooltip.
    signal failed(string error)

    function open() { dialog.open() }

    // The user's pictures folder when there is one, else the home folder:
    // not the folder the program happened to be started in.
    function startFolder() {
        var pictures = String(StandardPaths.locate(StandardPaths.PicturesLocation, ".",
                                                   StandardPaths.LocateDirectory))
        if (pictures !== "")
            return pictures.replace(/\/\.$/, "")
        return String(StandardPaths.writableLocation(StandardPaths.HomeLocation))
    }

    // What an accepted file leads to.
    function handleSelected(url) {
        var file = String(url)
        if (purpose === "qr") {
            Chat.resolveQrImage(file)
            return
        }
        var draft = App.localImageDraft(file)
        if (draft && draft.ok === true) {
            Chat.sendImageFromFile(draft.url)
            return
        }
        var error = draft && draft.error ? String(draft.error) : ""
        root.failed(error !== "" ? error : I18n.tr("image.unreadable"))
    }

    FileDialog {
        id: dialog
        title: root.title
        nameFilters: root.nameFilters
        fileMode: FileDialog.OpenFile
        // Set once: a later opening stays where the user last looked.
        Component.onCompleted: currentFolder = root.startFolder()
        onAccepted: root.handleSelected(selectedFile)
    }
}
