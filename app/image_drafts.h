// Image drafts: an image chosen as a file or pasted from the clipboard,
// described as the map the views hand to the chat controller's image sending
// ({"ok", "url", "name", "width", "height"} or {"ok": false[, "error"]},
// with "problem": "diskFull" when the draft could not be written for want
// of space).
#pragma once

#include <QVariantMap>

class QClipboard;
class QFile;
class QImage;

namespace velmor::app {

// The image on the clipboard (a local image file named by its URLs first,
// else the image data itself), saved as "velmor-draft-<uuid>.png" among the
// profile's private media; the chat controller deletes it once its message
// is stored. {"ok": false} without "error" when there is no image.
QVariantMap clipboardImageDraft(const QClipboard *clipboard);

// Writes `image` as PNG to `file` (open for writing, at `path`) and
// describes the draft, named `name`; on a failure the file at `path` is
// deleted and the map says why.
QVariantMap writeImageDraft(const QImage &image, const QString &name, QFile &file, const QString &path);

// A chosen image file, described in place (not copied).
QVariantMap localImageDraft(const QString &url);

} // namespace velmor::app
