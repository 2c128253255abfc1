#pragma once

#include <QByteArray>

// The current user's home directory, as bytes: $HOME when it is set and not
// empty, otherwise the user's entry in the password database; empty when
// neither gives one.
QByteArray homeDirectory();

// The current working directory as bytes, exactly as the system names it;
// empty when it cannot be read (it has been removed, say).
QByteArray currentDirectory();

// `path` made absolute against the current directory, with "." and ".."
// worked out by name and repeated or trailing slashes dropped. Every other
// byte stays as it is: names need not be UTF-8.
QByteArray absoluteCleanPath(const QByteArray& path);

// True when `path` is a directory (after symbolic links).
bool isDirectory(const QByteArray& path);

// True when `path` is a regular file (after symbolic links) that the current
// user may execute. A directory or a device of that name is not.
bool isExecutableFile(const QByteArray& path);

// 0 when `path` is a folder the current user may enter; otherwise why not, as
// an errno value: ENOENT, ENOTDIR, EACCES and the like.
int folderError(const QByteArray& path);
