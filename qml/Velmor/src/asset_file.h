#pragma once

#include <QDir>
#include <QString>

namespace velmor::views {

// The file `path` names inside `folder`, or an empty string when the path is
// empty or leads out of the folder (through ".."): an image provider's id
// comes from a document and is never trusted to stay where it should.
inline QString assetFile(const QString &folder, const QString &path)
{
    const QString file = QDir::cleanPath(folder + u'/' + path);
    return !path.isEmpty() && file.startsWith(folder + u'/') ? file : QString();
}

} // namespace velmor::views
