#pragma once
// Finding a file whose name was stored upper-cased (the music list) on a file system that
// tells case apart.

#include <QString>

namespace miravox {

// The path of the file `name` in `folder` (which ends with a separator): the exact name when it
// exists, otherwise the one entry whose name matches without regard to case; empty when none.
QString find_file(const QString& folder, const QString& name);

} // namespace miravox
