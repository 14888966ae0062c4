#pragma once
// Reading a modpack archive: one entry into memory, or every entry under a prefix into a folder.
// Nothing is ever written outside the destination folder: entry names that are absolute, carry a
// drive letter or a backslash-rooted path, or climb with "..", are skipped.
#include <string>
#include <string_view>

namespace lumivale {

// The whole entry of exactly this name; false when the archive or the entry cannot be read.
bool ReadZipEntry(const std::string& zipPath, const std::string& entryName, std::string& bytes);

// Every file entry whose name begins with `prefix` (exact bytes) and is longer than it goes to
// destination/<rest of the name>, replacing an existing file. True when at least one was written.
bool ExtractZipPrefix(const std::string& zipPath, const std::string& prefix,
                      const std::string& destination);

// A "/" or "\" separated relative path that stays inside the folder it is joined to: not empty,
// no root, no drive letter, no ".." part, no control character. `normalised` gets it with "/"
// separators and without empty or "." parts.
bool SafeRelativePath(std::string_view name, std::string& normalised);

// A name usable as one folder or file name: not empty, not "." or "..", no "/" or "\", no control
// character.
bool IsUsableFileName(std::string_view name);

}  // namespace lumivale
