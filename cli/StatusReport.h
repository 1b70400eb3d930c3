#pragma once
// The lists as `vaultmere status` prints them: a line per item, or one JSON
// document. No Windows headers.
#include <cstdint>
#include <functional>
#include <string>

#include "channel/GuardMessage.h"

namespace vaultmere {

// "locked    c:\data\*.*  (with subfolders, 2 files in use)", a line for
// each item, locked ones first, with the notes the window shows beside it;
// until gives an unlocked item's "until 14:35".
std::wstring StatusText(const GuardMessage& lists, const std::function<std::wstring(std::uint64_t)>& until);

// The lists as one JSON document, in ASCII only (every other character
// escaped):
//   {"items":[{"item":"c:\\data\\*.*","folder":"c:\\data","subfolders":false,
//     "state":"locked","policy":false,"note":"2 files in use","relockAt":null}],
//    "relocksOnSessionLock":true}
// folder is null for an entry that names no folder; relockAt is when an
// unlocked item locks itself again, in UTC ("2026-05-01T14:35:00Z"), or null.
std::wstring StatusJson(const GuardMessage& lists);

}  // namespace vaultmere
