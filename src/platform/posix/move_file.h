// Moving a file without ever replacing another, as MoveFileA does, over POSIX
// file systems of every kind.
#pragma once

#include <string>

// Renames from to to; fails when to exists. Uses the kernel's no-replace rename;
// to another file system a regular file is copied and its source removed; where
// the file system lacks the no-replace rename, MoveNoReplaceByLink.
bool MoveNoReplace(const std::string &from, const std::string &to);
// The same without the kernel's help: a look for to, then a hard link and an
// unlink (a link cannot replace either), and where there are no hard links (or
// for a folder) a plain rename.
bool MoveNoReplaceByLink(const std::string &from, const std::string &to);
// Copies the regular file from to the new file to (which must not exist yet),
// then removes from. On failure the partial copy is removed and from stays.
bool CopyAcrossFileSystems(const std::string &from, const std::string &to);
