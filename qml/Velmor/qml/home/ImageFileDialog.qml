import QtQuick

// The file dialog that picks an image to send ("image") or a QR-code
// picture to scan ("qr"). On acceptance: for "image",
// App.localImageDraft(url) and Chat.sendImageFromFile, or `failed` with the
// error text; for "qr", Chat.resolveQrImage(url). Still to be filled.
Item {
    id: root

    property string purpose: "image"

    // The picture could not be read; the home view shows `error` in the
    // composer's tooltip.
    signal failed(string error)

    function open() { }
}
