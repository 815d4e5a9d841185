// Replacing a file safely: new contents go to a temporary file beside the
// old one, are forced to disk and then renamed over it, so a crash or a full
// disk leaves either the old file or the new one, never half of either.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/text.h"

// Forces tmpPath to disk, renames it over finalPath and forces the directory
// entry too. On any failure tmpPath is removed and finalPath is untouched.
bool SyncAndReplaceFile(const Text& tmpPath, const Text& finalPath);

// --- Small files kept whole ---
// Writes `bytes` to `path` through a temporary file beside it, created
// afresh (never through a link), forced to disk and renamed over `path`.
// False on any failure (a full disk, a read-only folder); `path` is then as
// it was and no temporary file is left. The new file gets `mode` (less the
// umask) whatever the old one had: 0600 keeps a key to its owner.
bool WriteFileAtomically(const Text& path, const std::vector<uint8_t>& bytes, int mode = 0644);
// Reads a plain file of at most maxBytes, never through a link. False when
// it is missing, is not a plain file or is longer.
bool ReadSmallFile(const Text& path, size_t maxBytes, std::vector<uint8_t>& bytes);
long long PlainFileSize(const Text& path);     // -1 when missing or not a plain file
bool EnsureFolder(const Text& path);            // a folder there, made when missing; links refused
std::vector<Text> FolderFileNames(const Text& path);  // names of its entries; empty when unreadable
bool RemovePlainFile(const Text& path);         // removes a file or link, never a folder

// --- Links ---
// The file a name stands for: the name itself, or, for a symbolic link the
// user owns that leads to a plain file the user owns (as dotfile managers
// make them), the file it leads to, so that it is read there and replaced
// there, the link staying. False, with `why` saying so ("is a link owned by
// someone else", ...), for any other link.
bool FollowOwnLink(const Text& path, Text& target, Text& why);

// --- One writer ---
// Takes the lock on the file `path` (made when missing, private to the
// user, never through a link) for this process until the next lock it
// takes or its end; the system lets go of it when the process ends in any
// way. Busy while another process holds it; Unavailable when the lock file
// cannot be had (a read-only folder), where nobody else can take it either.
enum class FileLock { Held, Busy, Unavailable };
FileLock TakeFileLock(const Text& path);

// --- Keeping a copy ---
// Copies the plain file at `path` into a new file beside it named `path` +
// "." + tag + "-YYYYMMDD-HHMMSS" (local time; "-2", "-3", ... added when
// that name is taken), private to the user and forced to disk. The new
// file is created only where the name is free, never through a link. Its
// path, or "" when no copy could be made.
Text KeepDatedCopy(const Text& path, const Text& tag);
// The same into the exact name `to`; false when it is taken or the copy fails.
bool CopyToNewFile(const Text& from, const Text& to);

// --- Test seam ---
void SetReplaceFileFailure(bool fail);  // while set, every replacement fails before the rename
// From now on only `changes` more files are put in place or removed; the
// ones after are dropped, as if the program had stopped there. -1: no
// limit. Gives what was left of the budget before.
int SetDiskChangeBudget(int changes);
