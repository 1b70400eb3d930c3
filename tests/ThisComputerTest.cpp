#include "locker/ThisComputer.h"

#include <gtest/gtest.h>

namespace vaultmere {
namespace {

NetworkLead Lead(const std::wstring& path) {
    const ThisComputer computer{{L"VAULT-PC", L"vault-pc.corp.example"},
                                {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 1, 20}}};
    return LeadOf(path, computer, [](const std::wstring& share) -> std::wstring {
        return share == L"docs" ? L"D:\\Docs" : share == L"far" ? L"\\\\fileserver\\data" : L"";
    });
}

TEST(ThisComputerTest, EveryNameAndAddressOfThisComputerLeadsToTheLocalFolderAndNoOtherDoes) {
    for (const wchar_t* server :
         {L"localhost", L"LOCALHOST.", L"localhost@SSL@443", L"127.0.0.1", L"127.1", L"0x7f.0.0.1", L"2130706433",
          L"127.8.9.10", L"::1", L"[0:0:0:0:0:0:0:1]", L"[::ffff:127.0.0.1]", L"0--1.ipv6-literal.net",
          L"0-0-0-0-0-0-0-1s4.IPV6-LITERAL.NET", L"Vault-PC", L"vault-pc.Corp.Example.", L"192.168.1.20",
          L"0--ffff-c0a8-114.ipv6-literal.net"}) {
        const NetworkLead lead = Lead(L"\\\\" + std::wstring(server) + L"\\c$\\Windows\\.\\System32\\");
        EXPECT_EQ(NetworkLead::Kind::Local, lead.kind) << server;
        EXPECT_EQ(L"c:\\Windows\\System32", lead.folder) << server;
    }
    EXPECT_EQ(L"D:\\", Lead(L"\\\\?\\UNC\\localhost\\D$").folder);
    EXPECT_EQ(L"D:\\Docs\\x", Lead(L"\\\\vault-pc\\docs\\..\\..\\x").folder);
    // A share whose folder cannot be told, or that is no folder here.
    for (const wchar_t* path : {L"\\\\localhost\\ipc$", L"\\\\vault-pc\\c$$\\a", L"\\\\vault-pc\\far\\a"})
        EXPECT_EQ(NetworkLead::Kind::Unknown, Lead(path).kind) << path;
    for (const wchar_t* path :
         {L"\\\\fileserver\\c$\\windows", L"\\\\localhost2\\c$", L"\\\\vault-pc2\\c$", L"\\\\128.0.0.1\\c$",
          L"\\\\126.255.255.255\\c$", L"\\\\127.0.0.256\\c$", L"\\\\1.2.3.4.5\\c$", L"\\\\::2\\c$", L"\\\\[::1:0]\\c$",
          L"\\\\0--2.ipv6-literal.net\\c$", L"\\\\1:2:3:4:5:6:7:8:9\\c$", L"\\\\:::1\\c$", L"\\\\192.168.1.21\\c$",
          L"\\\\.\\c$", L"\\\\\\c$", L"c:\\windows", L"", L"\\\\?\\c:\\windows"})
        EXPECT_EQ(NetworkLead::Kind::Elsewhere, Lead(path).kind) << path;
}

}  // namespace
}  // namespace vaultmere
