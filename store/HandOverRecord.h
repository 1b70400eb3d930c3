#pragma once
// What a guard that is being replaced leaves for the guard that follows:
// asked by setup to hand its locks over, it gives duplicates of its file
// handles to a holder process and records here which process holds which
// handles. The record lies under the stored list's key, which only the
// system and administrators may read or write; it outlives the service's
// registration, which an update by the package deletes and makes anew.
#include <windows.h>

#include <cstdint>
#include <vector>

namespace vaultmere {

constexpr wchar_t kHandOverKeyPath[] = L"SOFTWARE\\Brackwater\\Addon\\HandOver";

// Setup, before it stops the guard for an update: the guard running as
// guardProcess hands its locks over when it is stopped within the next ten
// minutes. A Win32 code.
LONG AskForHandOver(DWORD guardProcess);
// The guard, as it stops: whether it was asked to hand over, as the process
// it is, and lately. The request is taken away either way, so that the next
// stop, an administrator's, lets everything go.
bool TakeHandOverRequest(DWORD ownProcess);

struct HolderRecord {
    DWORD process = 0;  // 0: none
    std::vector<std::uint32_t> handles;
};
LONG WriteHolderRecord(const HolderRecord& record);
// Reads the record and deletes it: it is taken once.
HolderRecord TakeHolderRecord();

// Numbers as the record keeps them (four bytes each, low byte first), and
// back; bytes that are not a whole number are left out.
std::vector<unsigned char> EncodeNumbers(const std::vector<std::uint32_t>& numbers);
std::vector<std::uint32_t> DecodeNumbers(const std::vector<unsigned char>& bytes);

}  // namespace vaultmere
