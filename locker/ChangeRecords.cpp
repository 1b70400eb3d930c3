#include "locker/ChangeRecords.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "common/TextCase.h"

namespace vaultmere {

namespace {

constexpr std::size_t kNameOffset = 12;

std::uint32_t Read32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// FILE_ACTION_ADDED and the four after it.
ChangeAction ActionOf(std::uint32_t action) {
    switch (action) {
    case 1:
        return ChangeAction::Added;
    case 2:
        return ChangeAction::Removed;
    case 3:
        return ChangeAction::Modified;
    case 4:
        return ChangeAction::RenamedOldName;
    case 5:
        return ChangeAction::RenamedNewName;
    default:
        return ChangeAction::Other;
    }
}

}  // namespace

std::vector<FolderChange> ParseChangeRecords(const unsigned char* data, std::size_t bytes) {
    std::vector<FolderChange> changes;
    if (!data) return changes;
    for (std::size_t offset = 0; bytes >= kNameOffset && offset <= bytes - kNameOffset;) {
        const unsigned char* record = data + offset;
        const std::uint32_t next = Read32(record);
        const std::uint32_t nameBytes = Read32(record + 8);
        if (nameBytes > bytes - offset - kNameOffset) break;
        FolderChange change;
        change.action = ActionOf(Read32(record + 4));
        const unsigned char* name = record + kNameOffset;
        change.name.reserve(nameBytes / 2);
        for (std::size_t at = 0; at + 1 < nameBytes; at += 2) {
            change.name.push_back(static_cast<wchar_t>(name[at] | (name[at + 1] << 8)));
        }
        if (!change.name.empty() && change.name.find(L'\\') == std::wstring::npos) {
            change.lower = LowerCase(change.name);
            changes.push_back(std::move(change));
        }
        if (next == 0 || next > bytes - offset) break;
        offset += next;
    }
    return changes;
}

}  // namespace vaultmere
