#pragma once
// The records a folder's watch reads (FILE_NOTIFY_INFORMATION): each one
// a 32-bit offset to the next record (0 for the last), a 32-bit action, a
// 32-bit name length in bytes and the name in UTF-16, little-endian.
// Windows starts each record on a 4-byte boundary, Wine not always: they
// are read byte by byte wherever they start. Plain, so that every odd
// buffer is tested natively.
#include <cstddef>
#include <vector>

#include "locker/FolderJob.h"

namespace vaultmere {

// The changes in the first bytes of data. A record that does not fit, or an
// offset past the end, ends the reading: what came before it is kept. An
// empty name, or one naming something in a subfolder, is left out.
std::vector<FolderChange> ParseChangeRecords(const unsigned char* data, std::size_t bytes);

}  // namespace vaultmere
