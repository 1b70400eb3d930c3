#include "locker/ThisComputer.h"

#include <algorithm>

#include "common/TextCase.h"
#include "locker/ItemPath.h"

namespace vaultmere {

namespace {

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> pieces(1);
    for (const wchar_t ch : text) {
        if (ch == separator) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(ch);
        }
    }
    return pieces;
}

int HexDigit(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9') return ch - L'0';
    if (ch >= L'a' && ch <= L'f') return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F') return ch - L'A' + 10;
    return -1;
}

// One number of an IPv4 address as resolvers read it: 0x... hexadecimal,
// 0... octal, decimal otherwise.
bool ParseIpv4Number(const std::wstring& text, std::uint64_t& value) {
    std::uint64_t base = 10;
    std::size_t at = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        at = 2;
    } else if (text.size() > 1 && text[0] == L'0') {
        base = 8;
        at = 1;
    }
    if (text.empty()) return false;
    value = 0;
    for (; at < text.size(); ++at) {
        const int digit = HexDigit(text[at]);
        if (digit < 0 || static_cast<std::uint64_t>(digit) >= base) return false;
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return false;
    }
    return true;
}

// One to four numbers; the last fills the bytes the others leave (127.1 is
// 127.0.0.1).
bool ParseIpv4(const std::wstring& text, std::uint32_t& address) {
    const std::vector<std::wstring> parts = Split(text, L'.');
    if (parts.size() > 4) return false;
    address = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::uint64_t value = 0;
        if (!ParseIpv4Number(parts[i], value)) return false;
        const bool last = i + 1 == parts.size();
        const std::size_t bits = last ? 8 * (4 - i) : 8;
        if (bits < 32 && (value >> bits) != 0) return false;
        address |= last ? static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value << (24 - 8 * i));
    }
    return true;
}

HostAddress FromIpv4(std::uint32_t address) {
    HostAddress mapped{};
    mapped[10] = 0xFF;
    mapped[11] = 0xFF;
    for (int i = 0; i < 4; ++i) mapped[12 + i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
    return mapped;
}

// The groups of one side of an IPv6 address's "::"; the last may be a
// dotted IPv4 address.
bool ParseIpv6Groups(const std::wstring& text, std::vector<std::uint16_t>& groups) {
    if (text.empty()) return true;
    const std::vector<std::wstring> pieces = Split(text, L':');
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::wstring& piece = pieces[i];
        std::uint32_t ipv4 = 0;
        if (i + 1 == pieces.size() && piece.find(L'.') != std::wstring::npos) {
            if (Split(piece, L'.').size() != 4 || !ParseIpv4(piece, ipv4)) return false;
            groups.push_back(static_cast<std::uint16_t>(ipv4 >> 16));
            groups.push_back(static_cast<std::uint16_t>(ipv4 & 0xFFFF));
            continue;
        }
        if (piece.empty() || piece.size() > 4) return false;
        unsigned value = 0;
        for (const wchar_t ch : piece) {
            const int digit = HexDigit(ch);
            if (digit < 0) return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        groups.push_back(static_cast<std::uint16_t>(value));
    }
    return true;
}

bool ParseIpv6(std::wstring text, HostAddress& address) {
    text.resize(std::min(text.size(), text.find(L'%')));
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    const std::size_t gap = text.find(L"::");
    if (gap == std::wstring::npos) {
        if (!ParseIpv6Groups(text, head) || head.size() != 8) return false;
    } else if (text.find(L"::", gap + 1) != std::wstring::npos || !ParseIpv6Groups(text.substr(0, gap), head) ||
               !ParseIpv6Groups(text.substr(gap + 2), tail) || head.size() + tail.size() > 7) {
        return false;
    }
    address = HostAddress{};
    const auto put = [&address](std::size_t group, std::uint16_t value) {
        address[2 * group] = static_cast<std::uint8_t>(value >> 8);
        address[2 * group + 1] = static_cast<std::uint8_t>(value & 0xFF);
    };
    for (std::size_t i = 0; i < head.size(); ++i) put(i, head[i]);
    for (std::size_t i = 0; i < tail.size(); ++i) put(8 - tail.size() + i, tail[i]);
    return true;
}

bool IsLoopback(const HostAddress& address) {
    const HostAddress ipv6Loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    // Every address of 127.0.0.0/8.
    const HostAddress ipv4Loopback = FromIpv4(0x7F000000u);
    return address == ipv6Loopback || std::equal(ipv4Loopback.begin(), ipv4Loopback.begin() + 13, address.begin());
}

}  // namespace

bool ParseHostAddress(const std::wstring& server, HostAddress& address) {
    if (server.size() > 2 && server.front() == L'[' && server.back() == L']') {
        return ParseIpv6(server.substr(1, server.size() - 2), address);
    }
    // Windows' spelling of an IPv6 address as a name: '-' for ':', 's' before the zone.
    const std::wstring literal = L".ipv6-literal.net";
    if (server.size() > literal.size() && EqualsIgnoringCase(server.substr(server.size() - literal.size()), literal)) {
        std::wstring text = server.substr(0, server.size() - literal.size());
        for (wchar_t& ch : text) {
            if (ch == L'-') ch = L':';
            if (ch == L's' || ch == L'S') ch = L'%';
        }
        return ParseIpv6(text, address);
    }
    if (server.find(L':') != std::wstring::npos) return ParseIpv6(server, address);
    std::uint32_t ipv4 = 0;
    if (!ParseIpv4(server, ipv4)) return false;
    address = FromIpv4(ipv4);
    return true;
}

bool IsThisComputer(const std::wstring& server, const ThisComputer& computer) {
    // A WebDAV server names its port and protocol after '@'; a DNS name may
    // end in the root's dot.
    std::wstring name = server.substr(0, server.find(L'@'));
    if (!name.empty() && name.back() == L'.') name.pop_back();
    if (name.empty()) return false;
    const auto same = [&name](const std::wstring& each) { return EqualsIgnoringCase(each, name); };
    if (same(L"localhost") || std::any_of(computer.names.begin(), computer.names.end(), same)) return true;
    HostAddress address{};
    if (!ParseHostAddress(name, address)) return false;
    return IsLoopback(address) ||
           std::find(computer.addresses.begin(), computer.addresses.end(), address) != computer.addresses.end();
}

NetworkLead LeadOf(const std::wstring& folder, const ThisComputer& computer,
                   const std::function<std::wstring(const std::wstring& share)>& shareFolder) {
    NetworkLead lead;
    const std::wstring path = NormalizeFolderPath(folder);
    std::wstring root;
    std::wstring rest;
    if (path.compare(0, 2, L"\\\\") != 0 || !SplitRoot(path, root, rest)) return lead;
    const std::size_t serverEnd = root.find(L'\\', 2);
    if (!IsThisComputer(root.substr(2, serverEnd - 2), computer)) return lead;
    const std::wstring share = root.substr(serverEnd + 1);
    std::wstring local = shareFolder ? shareFolder(share) : std::wstring();
    if (local.empty() && share.size() == 2 && IsDriveLetter(share[0]) && share[1] == L'$') {
        local = share.substr(0, 1) + L":\\";
    }
    // A share stands for a folder on one of this computer's drives; anything
    // else is not followed.
    lead.kind = NetworkLead::Kind::Unknown;
    if (local.empty()) return lead;
    const std::wstring target = NormalizeFolderPath(JoinPath(local, rest));
    if (target.size() < 3 || target[1] != L':') return lead;
    lead.kind = NetworkLead::Kind::Local;
    lead.folder = target;
    return lead;
}

}  // namespace vaultmere
