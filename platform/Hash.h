#pragma once
// Digests of files, through the system's crypto provider.
#include <string>

namespace lumivale {

// Lower-case hexadecimal SHA-1 (40 characters) of the file at the UTF-8 path, read in blocks of
// 64 KiB. Empty text when the file cannot be opened or read, or the digest cannot be computed.
std::string Sha1HexOfFile(const std::string& utf8Path);

}  // namespace lumivale
