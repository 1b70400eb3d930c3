#include "locker/ItemPath.h"

#include <algorithm>
#include <vector>

#include "common/TextCase.h"

namespace vaultmere {

bool IsDriveLetter(wchar_t ch) { return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z'); }

wchar_t LowerDriveLetter(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

bool SplitRoot(const std::wstring& path, std::wstring& root, std::wstring& rest) {
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') {
        root = path.substr(0, 3);
        rest = path.substr(3);
        return true;
    }
    if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
    const size_t serverEnd = path.find(L'\\', 2);
    if (serverEnd == std::wstring::npos) return false;
    const std::wstring server = path.substr(2, serverEnd - 2);
    if (server.empty() || server == L"." || server == L"?") return false;
    const size_t shareEnd = path.find(L'\\', serverEnd + 1);
    const size_t shareLength = (shareEnd == std::wstring::npos ? path.size() : shareEnd) - serverEnd - 1;
    if (shareLength == 0) return false;
    root = path.substr(0, shareEnd);
    rest = shareEnd == std::wstring::npos ? std::wstring() : path.substr(shareEnd + 1);
    return true;
}

std::vector<std::wstring> FolderComponents(const std::wstring& rest) {
    std::vector<std::wstring> components;
    std::wstring current;
    const auto take = [&components, &current]() {
        if (current == L"..") {
            if (!components.empty()) components.pop_back();
        } else if (!current.empty() && current != L".") {
            components.push_back(current);
        }
        current.clear();
    };
    for (wchar_t ch : rest) {
        if (ch == L'\\') {
            take();
        } else {
            current.push_back(ch);
        }
    }
    take();
    return components;
}

std::wstring WithoutExtendedPrefix(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") != 0) return path;
    if (path.size() >= 8 && EqualsIgnoringCase(path.substr(4, 4), L"UNC\\")) return L"\\" + path.substr(7);
    return path.substr(4);
}

std::wstring NormalizeFolderPath(const std::wstring& rawPath) {
    std::wstring path = rawPath;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.find(L'\0') != std::wstring::npos) return std::wstring();
    std::wstring root;
    std::wstring rest;
    if (!SplitRoot(WithoutExtendedPrefix(path), root, rest)) return std::wstring();
    std::wstring folder = root;
    for (const std::wstring& component : FolderComponents(rest)) folder = JoinPath(folder, component);
    return folder;
}

std::wstring VolumeRoot(const std::wstring& path) {
    std::size_t start = 4;  // past \\?\ of a drive path
    int separators = 1;
    if (path.size() >= 8 && EqualsIgnoringCase(path.substr(0, 8), L"\\\\?\\UNC\\")) {
        start = 8;
        separators = 2;
    }
    std::size_t end = start;
    for (int i = 0; i < separators && end != std::wstring::npos; ++i) end = path.find(L'\\', end + 1);
    return end == std::wstring::npos ? path + L"\\" : path.substr(0, end + 1);
}

ItemTarget ParseItemPath(const std::wstring& rawPath) {
    ItemTarget refused;
    if (rawPath.empty() || rawPath.size() > kMaxItemPathLength) return refused;
    if (rawPath.find(L'\0') != std::wstring::npos) return refused;

    std::wstring path = rawPath;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    // The root: "c:\" or "\\server\share\". Device and raw forms
    // (\\.\, \\?\, \??\) are never opened.
    std::wstring root;
    std::wstring rest;
    if (!SplitRoot(path, root, rest)) return refused;
    std::vector<std::wstring> components = FolderComponents(rest);
    // A trailing backslash names a folder, not files in it.
    if (components.empty() || rest.empty() || rest.back() == L'\\') return refused;

    ItemTarget target;
    target.name = components.back();
    components.pop_back();
    target.folder = root;
    for (const std::wstring& part : components) target.folder = JoinPath(target.folder, part);
    target.kind = target.name.find_first_of(L"*?") != std::wstring::npos ? ItemTarget::Kind::Pattern
                                                                         : ItemTarget::Kind::File;
    return target;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

std::wstring ExtendedLengthPath(const std::wstring& absolutePath) {
    if (absolutePath.size() >= 2 && absolutePath[0] == L'\\' && absolutePath[1] == L'\\') {
        return L"\\\\?\\UNC\\" + absolutePath.substr(2);
    }
    return L"\\\\?\\" + absolutePath;
}

std::wstring TreeItem(const std::wstring& folder) { return JoinPath(JoinPath(folder, kTreeMarker), L"*.*"); }

ItemKey MakeItemKey(const std::wstring& path) {
    ItemKey item;
    item.target = ParseItemPath(path);
    if (item.target.kind == ItemTarget::Kind::Refused) {
        item.key = LowerCase(path);
        return item;
    }
    item.folder = LowerCase(item.target.folder);
    item.name = LowerCase(item.target.name);
    item.key = JoinPath(item.folder, item.name);
    const std::size_t last = item.folder.find_last_of(L'\\');
    if (item.name == L"*.*" && last != std::wstring::npos &&
        item.folder.compare(last + 1, std::wstring::npos, kTreeMarker) == 0) {
        // The top folder keeps its root's backslash (c:\) as parsed paths do.
        const std::size_t cut = last == 2 && item.folder[1] == L':' ? last + 1 : last;
        item.tree = true;
        item.folder.resize(cut);
        item.target.folder.resize(cut);
    }
    return item;
}

ItemFault FaultOfItem(const std::wstring& path) {
    if (path.size() > kMaxItemPathLength) return ItemFault::TooLong;
    const ItemKey item = MakeItemKey(path);
    if (item.target.kind == ItemTarget::Kind::Refused) {
        return !path.empty() && (path.back() == L'\\' || path.back() == L'/') && !NormalizeFolderPath(path).empty()
                   ? ItemFault::NamesNoFiles
                   : ItemFault::NotFullPath;
    }
    return item.folder.find_first_of(L"*?") == std::wstring::npos ? ItemFault::None : ItemFault::WildcardInFolder;
}

PolicyItem ItemOfPolicyValue(const std::wstring& value) {
    std::wstring path = value;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == L'\\') trimmed.pop_back();
    const std::size_t slash = trimmed.find_last_of(L'\\');
    const std::wstring last = slash == std::wstring::npos ? trimmed : trimmed.substr(slash + 1);
    PolicyItem policy;
    if (last == kTreeMarker) {
        const std::wstring folder = NormalizeFolderPath(trimmed.substr(0, slash + 1));
        policy.item = folder.empty() ? value : TreeItem(folder);
    } else if (last.find_first_of(L"*?") != std::wstring::npos) {
        policy.item = value;
    } else {
        const std::wstring folder = NormalizeFolderPath(path);
        policy.item = folder.empty() ? value : JoinPath(folder, L"*.*");
    }
    policy.fault = path.size() > kMaxItemPathLength ? ItemFault::TooLong : FaultOfItem(policy.item);
    if (policy.fault != ItemFault::None) policy.item.clear();
    return policy;
}

bool FolderWithin(const std::wstring& folder, const std::wstring& top) {
    if (folder.compare(0, top.size(), top) != 0) return false;
    return folder.size() == top.size() || top.back() == L'\\' || folder[top.size()] == L'\\';
}

std::wstring ParentFolder(const std::wstring& folder) {
    const std::size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == folder.size()) return std::wstring();
    // A drive root keeps its backslash.
    return slash > 0 && folder[slash - 1] == L':' ? folder.substr(0, slash + 1) : folder.substr(0, slash);
}

}  // namespace vaultmere
