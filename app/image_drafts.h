// Image drafts: an image chosen as a file or pasted from the clipboard,
// described as the map the views hand to the chat controller's image sending
// ({"ok", "url", "name", "width", "height"} or {"ok": false[, "error"]}).
#pragma once

#include <QVariantMap>

class QClipboard;

namespace velmor::app {

// The image on the clipboard (a local image file named by its URLs first,
// else the image data itself), saved as "velmor-draft-<uuid>.png" among the
// profile's private media; the chat controller deletes it once its message
// is stored. {"ok": false} without "error" when there is no image.
QVariantMap clipboardImageDraft(const QClipboard *clipboard);

// A chosen image file, described in place (not copied).
QVariantMap localImageDraft(const QString &url);

} // namespace velmor::app
