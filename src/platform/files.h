#pragma once

#include <QByteArray>

#include <optional>

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

// The first "DIR/name" that is an executable file, DIR taken in turn from the
// absolute entries of $PATH (a relative one would depend on the current
// directory). None for a name holding a '/'.
std::optional<QByteArray> findInPath(const QByteArray& name);

// Copies the file `from` to the new file `to` (which must not exist), with
// its permission bits and times; a symbolic link is copied as a link. The copy shares
// the original's blocks where the file system can (a clone), else the bytes
// are copied. 0 on success, otherwise an errno value; a failed copy leaves
// nothing behind.
int copyFile(const QByteArray& from, const QByteArray& to);

// Makes every folder of `relative` (a '/'-separated path) that is missing
// under `root`, which must exist. An existing component must be a real
// folder: a symbolic link, even to a folder, is refused (ENOTDIR), so that
// nothing made below it lands outside `root`. 0 or an errno value.
int makeFolders(const QByteArray& root, const QByteArray& relative);

class WakeUpFd;

// The space the files under `path` take on disk (allocated blocks, not
// their lengths), `path` itself included; symbolic links are not followed
// and a file with several links counts once. What cannot be read counts as
// nothing. None once `cancel` is raised.
std::optional<qint64> diskUsage(const QByteArray& path, const WakeUpFd* cancel = nullptr);
