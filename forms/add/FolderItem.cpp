#include "forms/add/FolderItem.h"

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

std::wstring FolderItem(const std::wstring& folderPath, bool withSubfolders) {
    std::wstring item = folderPath;
    if (item.empty() || item.back() != L'\\') item += L'\\';
    if (withSubfolders) {
        item += kTreeMarker;
        item += L'\\';
    }
    item += L"*.*";
    return LowerCase(std::move(item));
}

std::wstring LockConfirmation(const std::wstring& folderItem, bool withSubfolders) {
    if (withSubfolders) return L"Folder " + folderItem + L" added for locking! Sub folders were locked too.";
    return L"Folder " + folderItem + L" added for locking! NOTE: Sub folders were not locked.";
}

}  // namespace vaultmere
