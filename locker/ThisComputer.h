#pragma once
// Whether a network path leads back to this computer, and to which of its
// own folders: \\localhost\c$\windows is c:\windows and is judged as such.
// No Windows headers: what the system says of its names, addresses and
// shares is read by the caller and handed in.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vaultmere {

// An IP address; an IPv4 one as ::ffff:a.b.c.d.
using HostAddress = std::array<std::uint8_t, 16>;

// What this computer answers to beside localhost and the loopback
// addresses, which it always does.
struct ThisComputer {
    std::vector<std::wstring> names;  // NetBIOS and DNS names, any case
    std::vector<HostAddress> addresses;
};

// A server name read as an address: IPv4 in every form resolvers take
// (127.0.0.1, 127.1, 0x7f.0.0.1, 2130706433), IPv6 plain, in brackets or
// as an ipv6-literal.net name (0--1.ipv6-literal.net); a zone is dropped.
bool ParseHostAddress(const std::wstring& server, HostAddress& address);

bool IsThisComputer(const std::wstring& server, const ThisComputer& computer);

// Where a folder path (plain or \\?\UNC\) leads, seen from this computer.
struct NetworkLead {
    enum class Kind {
        Elsewhere,  // a local path, or a share of another computer
        Local,      // a share of this computer; folder is where it leads
        Unknown,    // a share of this computer that leads nobody knows where
    };
    Kind kind = Kind::Elsewhere;
    std::wstring folder;
};
// shareFolder gives the local folder a share of this computer stands for,
// "" when it cannot say; an administrative share X$ is X:\ unless it says
// otherwise.
NetworkLead LeadOf(const std::wstring& folder, const ThisComputer& computer,
                   const std::function<std::wstring(const std::wstring& share)>& shareFolder);

}  // namespace vaultmere
