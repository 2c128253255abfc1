#pragma once

#include <QByteArray>

// The current user's home directory, as bytes: $HOME when it is set and not
// empty, otherwise the user's entry in the password database; empty when
// neither gives one.
QByteArray homeDirectory();

// True when `path` is a regular file (after symbolic links) that the current
// user may execute. A directory or a device of that name is not.
bool isExecutableFile(const QByteArray& path);

// 0 when `path` is a folder the current user may enter; otherwise why not, as
// an errno value: ENOENT, ENOTDIR, EACCES and the like.
int folderError(const QByteArray& path);
