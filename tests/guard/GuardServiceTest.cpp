// The guard as a real service and what no window shows: the stored list
// changed in the registry while it runs, its key kept from other users, and
// wrong passwords answered ever later.
#include <atomic>
#include <cwctype>
#include <thread>

#include "app/GuardConnection.h"
#include "guard/GuardEventTexts.h"
#include "guard/GuardEvents.h"
#include "guard/ListKeeper.h"
#include "store/HandOverRecord.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/ServiceState.h"

using namespace testing_support;
using namespace vaultmere;

namespace {

class GuardServiceTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(WriteTextFile(b / L"doc.txt", "d"));
        ASSERT_TRUE(guard_.Install(BinaryFolder() + L"\\VaultmereGuard.exe")) << ::GetLastError();
        ASSERT_TRUE(WaitUntil([] { return ::WaitNamedPipeW(GuardPipeName().c_str(), 100) != FALSE; }, 10000));
    }
    void TearDown() override {
        guard_.Remove();
        Reg(L"delete", L"", L"SOFTWARE\\Policies\\Brackwater", L"/reg:64");
        ProgramTest::TearDown();
        Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath);
    }
    static std::wstring Item(const TempFolder& folder) { return folder.Path() + L"\\*.*"; }
    static bool Locked(const TempFolder& folder) { return OpenHere(folder / L"doc.txt") == ERROR_SHARING_VIOLATION; }
    static bool Free(const TempFolder& folder) { return OpenHere(folder / L"doc.txt") == ERROR_SUCCESS; }
    // reg.exe on the list's key, as an administrator's script runs it.
    // The policy's key in the native view, as Group Policy writes it.
    static DWORD Reg(const std::wstring& verb, const std::wstring& arguments,
                     const std::wstring& key = Registry::kFilesKeyPath, const wchar_t* view = L"/reg:32") {
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        const UniqueHandle process = StartProcess(std::wstring(system) + L"\\reg.exe",
                                                  verb + L" HKLM\\" + key + L" " + arguments + L" /f " + view);
        return process ? WaitForExit(process.Get(), 30000) : ::GetLastError();
    }
    // The store key and the keys below it carry the descriptors that keep other users out.
    static bool Protected(std::initializer_list<const wchar_t*> subkeys) {
        bool all = Registry::KeyAccessText(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath) ==
                   Registry::CanonicalAccessText(Registry::kStoreKeySecurity);
        for (const wchar_t* subkey : subkeys) {
            all = all && Registry::KeyAccessText(HKEY_LOCAL_MACHINE, std::wstring(Registry::kStoreKeyPath) + subkey) ==
                             Registry::CanonicalAccessText(Registry::kStoreSubkeySecurity);
        }
        return all;
    }
    static GuardMessage Ask(GuardConnection& connection, GuardMessageKind kind, const std::wstring& text = L"") {
        return connection.Exchange(GuardMessage::Request(kind, text)).value_or(GuardMessage());
    }

    TempFolder b{L"live-b"};
    TestService guard_{kGuardServiceName};
};

TEST_F(GuardServiceTest, TheStoredListIsAppliedAsWrittenAndItsKeyKeptFromOtherUsers) {
    ASSERT_TRUE(WaitUntil([&] { return Locked(folder); }, 5000));
    EXPECT_TRUE(WaitUntil([] { return Protected({L"\\Files", L"\\Settings"}); }, 2000)) << "the key the guard found";
    ASSERT_EQ(0u, Reg(L"add", L"/v File1 /t REG_SZ /d \"" + Item(b) + L"\""));
    EXPECT_TRUE(WaitUntil([&] { return Locked(b); }, 2000)) << "an item written with reg add";

    // Rewritten whole, by the crash-safe save in another order, then as a
    // deployment replaces a key (deleted, then written anew a value every
    // 150 ms): the items it keeps are never free, probed all the while,
    // until the last value written is held, and with it the whole list.
    // First an entry written again in capitals: the same item, never let go,
    // shown as now written once applied.
    TempFolder last{L"live-last"};
    ASSERT_TRUE(WriteTextFile(last / L"doc.txt", "l"));
    std::atomic<bool> probing{true};
    std::atomic<int> freed{0};
    std::thread probe([&] {
        while (probing) freed += Locked(folder) && Locked(b) ? 0 : 1;
    });
    std::wstring capitals = Item(b);
    for (wchar_t& ch : capitals) ch = static_cast<wchar_t>(std::towupper(ch));
    ASSERT_EQ(0u, Reg(L"add", L"/v File1 /t REG_SZ /d \"" + capitals + L"\""));
    GuardConnection reader;
    ASSERT_EQ(GuardMessage::Done(), Ask(reader, GuardMessageKind::Authenticate, L"secret"));
    EXPECT_TRUE(WaitUntil(
        [&] {
            const GuardMessage shown = Ask(reader, GuardMessageKind::ReadLists);
            return shown.locked.size() == 2 && shown.locked[1].item.Text() == capitals;
        },
        5000))
        << "the entry written in capitals was not applied";
    EXPECT_TRUE(Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, {Item(b), Item(folder)}));
    EXPECT_TRUE(Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));
    const std::wstring rewritten[] = {Item(folder), Item(b), Item(last)};
    for (int i = 0; i < 3; ++i) {
        ::Sleep(150);
        EXPECT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath,
                                               L"File" + std::to_wstring(i),
                                               Registry::RegistryValue::FromText(rewritten[i])));
    }
    EXPECT_TRUE(WaitUntil([&] { return Locked(last); }, 5000)) << "the list written anew was not applied";
    probing = false;
    probe.join();
    EXPECT_EQ(0, freed.load()) << "an item kept across the rewrite was free in between";
    EXPECT_TRUE(WaitUntil([] { return Protected({L"\\Files"}); }, 2000)) << "the list's key made anew";

    ASSERT_EQ(0u, Reg(L"delete", L"/v File1"));
    EXPECT_TRUE(WaitUntil([&] { return Free(b); }, 2000)) << "an item deleted from the list";
    EXPECT_TRUE(Locked(folder));

    // The whole key deleted (as uninstalling with /REMOVESETTINGS does), then
    // saves through the guard: each key made with its descriptor at once.
    GuardConnection window;
    ASSERT_EQ(GuardMessage::Done(), Ask(window, GuardMessageKind::Authenticate, L"secret"));
    ASSERT_TRUE(Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath));
    EXPECT_TRUE(WaitUntil([&] { return Free(folder); }, 2000)) << "the list deleted";
    ASSERT_EQ(GuardMessage::Done(true), Ask(window, GuardMessageKind::LockFolder, Item(b)));
    EXPECT_TRUE(Protected({L"\\Files"}));
    ASSERT_EQ(GuardMessage::Done(), Ask(window, GuardMessageKind::SetPassword, L"secret"));
    EXPECT_TRUE(Protected({L"\\Files", L"\\Settings"}));
    ASSERT_EQ(0u, Reg(L"add", L"/v File1 /t REG_SZ /d \"" + Item(folder) + L"\""));
    EXPECT_TRUE(WaitUntil([&] { return Locked(folder); }, 2000)) << "the key made anew is not watched";
    // Applied after the guard's own saves, the list read then holds them too.
    EXPECT_TRUE(Locked(b)) << "the guard's own save was applied again";

    // A folder the administrator's policy names, as a plain path: locked
    // within moments, listed as set by policy, never unlocked, let go when
    // its value is deleted.
    TempFolder p{L"live-p"};
    ASSERT_TRUE(WriteTextFile(p / L"doc.txt", "p"));
    ASSERT_TRUE(MakeFolder(p / L"sub") && WriteTextFile(p / L"sub\\doc.txt", "s"));
    ASSERT_EQ(0u,
              Reg(L"add", L"/v Docs /t REG_SZ /d \"" + p.Path() + L"\"", Registry::kPolicyFoldersKeyPath, L"/reg:64"));
    EXPECT_TRUE(WaitUntil([&] { return Locked(p); }, 5000)) << "a folder written under the policy key";
    const GuardMessage lists = Ask(window, GuardMessageKind::ReadLists);
    EXPECT_TRUE(!lists.locked.empty() && lists.locked.back().item.Text() == Item(p) &&
                lists.locked.back().status.setByPolicy);
    EXPECT_EQ(static_cast<std::uint32_t>(GuardRefusal::SetByPolicy),
              Ask(window, GuardMessageKind::UnlockItem, Item(p)).code);
    EXPECT_TRUE(Locked(p));
    EXPECT_EQ(ERROR_SUCCESS, OpenHere(p / L"sub\\doc.txt"));
    // folder\** takes its subfolders too.
    ASSERT_EQ(0u, Reg(L"add", L"/v Docs /t REG_SZ /d \"" + p.Path() + L"\\**\"", Registry::kPolicyFoldersKeyPath,
                      L"/reg:64"));
    EXPECT_TRUE(WaitUntil([&] { return OpenHere(p / L"sub\\doc.txt") == ERROR_SHARING_VIOLATION; }, 5000));
    EXPECT_TRUE(Locked(p));
    ASSERT_EQ(0u, Reg(L"delete", L"/v Docs", Registry::kPolicyFoldersKeyPath, L"/reg:64"));
    EXPECT_TRUE(WaitUntil([&] { return Free(p); }, 5000)) << "a folder deleted from the policy";

    // The relock settings, read again when their keys change: the policy's, then the program's own.
    const auto relocksOnLock = [&] { return Ask(window, GuardMessageKind::ReadLists).relocksOnSessionLock; };
    ASSERT_TRUE(relocksOnLock());
    ASSERT_EQ(0u, Reg(L"add", L"/v RelockOnSessionLock /t REG_DWORD /d 0", Registry::kPolicyKeyPath, L"/reg:64"));
    EXPECT_TRUE(WaitUntil([&] { return !relocksOnLock(); }, 5000)) << "the policy's relock value";
    ASSERT_EQ(0u, Reg(L"delete", L"/v RelockOnSessionLock", Registry::kPolicyKeyPath, L"/reg:64"));
    EXPECT_TRUE(WaitUntil(relocksOnLock, 5000));
    ASSERT_EQ(0u, Reg(L"add", L"/v RelockOnSessionLock /t REG_DWORD /d 0", Registry::kSettingsKeyPath));
    EXPECT_TRUE(WaitUntil([&] { return !relocksOnLock(); }, 5000)) << "the program's own relock value";
    ASSERT_EQ(0u, Reg(L"delete", L"/v RelockOnSessionLock", Registry::kSettingsKeyPath));

    // A value an administrator writes just before a window's change is
    // saved stays stored, and is locked.
    TempFolder c{L"live-c"};
    ASSERT_TRUE(WriteTextFile(c / L"doc.txt", "d"));
    ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, L"File7",
                                           Registry::RegistryValue::FromText(Item(c))));
    ASSERT_EQ(GuardMessage::Done(true), Ask(window, GuardMessageKind::RemoveItem, Item(b)));
    EXPECT_EQ((std::vector<std::wstring>{Item(folder), Item(c)}),
              Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));
    EXPECT_TRUE(WaitUntil([&] { return Locked(c) && Free(b); }, 2000));

    // The window closed: its connection needs the password again (for all
    // but reading the lists, which this process, an elevated administrator
    // under Wine, may do without).
    ASSERT_EQ(GuardMessage::Done(), Ask(window, GuardMessageKind::Leave));
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::NotAuthenticated),
              Ask(window, GuardMessageKind::RemoveItem, Item(folder)));

    // A stored password that cannot be read takes none; a missing one is none.
    const ULONGLONG unreadable = 7;
    {
        vaultmere::UniqueKey settings;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, 0, nullptr, 0,
                                    KEY_SET_VALUE | Registry::kRegistryView, nullptr, settings.Put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(settings.Get(), Registry::kPasswordValueName, 0, REG_QWORD,
                                                  reinterpret_cast<const BYTE*>(&unreadable), sizeof unreadable));
    }
    for (const wchar_t* attempt : {L"secret", L"", L"7"}) {
        EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::PasswordUnreadable, kPasswordUnreadable),
                  Ask(window, GuardMessageKind::Authenticate, attempt));
    }
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::NotAuthenticated),
              Ask(window, GuardMessageKind::RemoveItem, Item(folder)));
    // Text an administrator writes: taken and replaced, unless no one can type it.
    ASSERT_EQ(0u, Reg(L"add", L"/v UserPassword /t REG_SZ /d Secret", Registry::kSettingsKeyPath));
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::PasswordUnreadable, kPasswordUntypable),
              Ask(window, GuardMessageKind::Authenticate, L"secret"));
    ASSERT_EQ(0u, Reg(L"add", L"/v UserPassword /t REG_SZ /d secret", Registry::kSettingsKeyPath));
    EXPECT_EQ(GuardMessage::Done(), Ask(window, GuardMessageKind::Authenticate, L"SECRET"));
    EXPECT_TRUE(VerifiesPassword(Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                                            Registry::kPasswordValueName)
                                     .ToText(),
                                 L"secret"));
    ASSERT_TRUE(
        Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName));
    EXPECT_EQ(GuardMessage::Done(), Ask(window, GuardMessageKind::Authenticate, L""));
}

TEST_F(GuardServiceTest, AnAnswerHeldBackAfterAWrongPasswordKeepsNoOtherConnectionWaiting) {
    // A wrong password, and how long the next one waits: its whole turn, less
    // the moment the check took.
    const auto wrongWaiting = [](const GuardMessage& answer, std::uint32_t least, std::uint32_t most) {
        return answer.kind == GuardMessageKind::Refused &&
               answer.code == static_cast<std::uint32_t>(GuardRefusal::WrongPassword) && answer.waitMs > least &&
               answer.waitMs <= most;
    };
    GuardConnection first;
    const GuardMessage wrong = Ask(first, GuardMessageKind::Authenticate, L"guess");
    ASSERT_TRUE(wrongWaiting(wrong, 0, 1000)) << wrong.waitMs;

    // The next attempt, sent on a raw connection of its own, waits a second;
    // another connection is answered meanwhile.
    UniqueHandle held(
        ::CreateFileW(GuardPipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD bytes = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(held && ::SetNamedPipeHandleState(held.Get(), &bytes, nullptr, nullptr));
    const Bytes attempt = EncodeGuardMessage(GuardMessage::Request(GuardMessageKind::Authenticate, L"guess"));
    const ULONGLONG sent = ::GetTickCount64();
    ASSERT_TRUE(::WriteFile(held.Get(), attempt.data(), static_cast<DWORD>(attempt.size()), &bytes, nullptr));
    EXPECT_EQ(GuardMessageKind::Lists, Ask(first, GuardMessageKind::ReadLists).kind);
    auto answered = [&held, &bytes] {
        return ::PeekNamedPipe(held.Get(), nullptr, 0, nullptr, &bytes, nullptr) && bytes;
    };
    EXPECT_FALSE(answered()) << "the other connection was served only after the held answer";
    ASSERT_TRUE(WaitUntil(answered, 10000, 5));
    EXPECT_GE(::GetTickCount64() - sent, 900u);
    Bytes answer(4096);
    ASSERT_TRUE(::ReadFile(held.Get(), answer.data(), static_cast<DWORD>(answer.size()), &bytes, nullptr));
    const GuardMessage second = DecodeGuardMessage(answer.data(), bytes).value_or(GuardMessage());
    EXPECT_TRUE(wrongWaiting(second, 1000, 2000)) << second.waitMs;
}

TEST_F(GuardServiceTest, AStopForAnUpdateHandsTheFilesToTheNextGuardAndAnyOtherStopLetsGo) {
    auto stop = [this] { return guard_.Stop(); };
    auto start = [this] { return guard_.Start(); };
    const std::wstring holderCopy = BinaryFolder() + L"\\VaultmereHold.exe";
    ASSERT_TRUE(WaitUntil([&] { return Locked(folder); }, 5000));

    // Asked for another process (a guard that has gone since), or long ago
    // by an update that never stopped it: let go.
    const std::vector<unsigned char> stale = EncodeNumbers({RunningServiceProcessId(kGuardServiceName), 1});
    ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, L"RequestedBy",
                                           Registry::RegistryValue::FromBytes(stale)));
    ASSERT_TRUE(stop());
    EXPECT_TRUE(Free(folder)) << "a stop asked for long ago kept the files";
    ASSERT_TRUE(start());
    ASSERT_TRUE(WaitUntil([&] { return Locked(folder); }, 5000));
    ASSERT_EQ(ERROR_SUCCESS, AskForHandOver(RunningServiceProcessId(kGuardServiceName) + 4));
    ASSERT_TRUE(stop());
    EXPECT_TRUE(Free(folder)) << "a stop not asked of this guard kept the files";
    ASSERT_TRUE(start());
    ASSERT_TRUE(WaitUntil([&] { return Locked(folder); }, 5000));

    // Asked for this guard: shut all the while it is gone, taken by the next.
    ASSERT_EQ(ERROR_SUCCESS, AskForHandOver(RunningServiceProcessId(kGuardServiceName)));
    ASSERT_TRUE(stop());
    EXPECT_TRUE(Locked(folder)) << "let go at a stop for an update";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(holderCopy.c_str())) << "no holder";
    ASSERT_TRUE(start());
    EXPECT_TRUE(WaitUntil([&] { return ::GetFileAttributesW(holderCopy.c_str()) == INVALID_FILE_ATTRIBUTES; }, 5000))
        << "the holder stays once its files are taken";
    EXPECT_TRUE(Locked(folder));

    // The request went with that stop: an administrator's stop lets go.
    ASSERT_TRUE(stop());
    EXPECT_TRUE(Free(folder)) << "the next stop kept the files";
}

TEST_F(GuardServiceTest, ConnectionsClosedAsSoonAsMadeLeaveTheGuardAnsweringWindows) {
    GuardConnection window;
    ASSERT_EQ(GuardMessage::Done(), Ask(window, GuardMessageKind::Authenticate, L"secret"));
    std::atomic<bool> flooding{true};
    std::vector<std::thread> flood;
    flood.reserve(4);
    for (int i = 0; i < 4; ++i) {
        flood.emplace_back([&flooding] {
            while (flooding) {
                const UniqueHandle pipe(::CreateFileW(GuardPipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                      OPEN_EXISTING, 0, nullptr));
            }
        });
    }
    // A window that is connected is answered all the while.
    int asked = 0;
    int answered = 0;
    for (const ULONGLONG until = ::GetTickCount64() + 3000; ::GetTickCount64() < until; ++asked) {
        answered += Ask(window, GuardMessageKind::ReadLists).kind == GuardMessageKind::Lists;
    }
    flooding = false;
    for (std::thread& thread : flood) thread.join();
    EXPECT_EQ(asked, answered) << "a window was not answered during the flood";
    // And a new one connects once it is over.
    GuardConnection late;
    EXPECT_EQ(GuardMessage::Done(), Ask(late, GuardMessageKind::Authenticate, L"secret")) << "after the flood";
}

TEST(GuardEventsTest, AWrongPasswordIsLoggedWithTheNameOfItsUser) {
    const std::wstring sid = L"S-1-5-32-544";  // the Administrators group: named on every system
    const std::wstring name = GuardEvents::AccountName(sid);
    EXPECT_NE(std::wstring::npos, name.find(L"Administrators")) << name;
    // The entry as Event Viewer shows it, from the guard's own message table.
    UniqueModule guard(::LoadLibraryExW((BinaryFolder() + L"\\VaultmereGuard.exe").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(name.c_str()), reinterpret_cast<DWORD_PTR>(sid.c_str())};
    UniqueLocalMemory text;
    ASSERT_NE(0u, ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                       FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   guard.Get(), MSG_WRONG_PASSWORD, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   reinterpret_cast<LPWSTR>(text.Put()), 0,
                                   reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments))));
    EXPECT_EQ(L"A wrong password for Vaultmere was given by " + name + L" (" + sid + L").\r\n",
              static_cast<const wchar_t*>(text.Get()));
    EXPECT_TRUE(GuardEvents().WrongPassword(sid));

    // The other entries show every insert they are given.
    const std::wstring inserts[] = {L"\\\\.\\pipe\\x", L"process id 42", L"10", L"128,000"};
    const DWORD_PTR pointers[] = {reinterpret_cast<DWORD_PTR>(inserts[0].c_str()),
                                  reinterpret_cast<DWORD_PTR>(inserts[1].c_str()),
                                  reinterpret_cast<DWORD_PTR>(inserts[2].c_str()),
                                  reinterpret_cast<DWORD_PTR>(inserts[3].c_str())};
    for (const auto& [id, count] : {std::pair<DWORD, int>{MSG_PIPE_TAKEN, 3},
                                    {MSG_PIPE_SERVED, 1},
                                    {MSG_PASSWORD_UNREADABLE, 1},
                                    {MSG_PASSWORD_UNTYPABLE, 1},
                                    {MSG_FOLDER_REFUSED, 1},
                                    {MSG_UNEXPECTED_ERROR, 1},
                                    {MSG_LOCK_LIMIT_IGNORED, 4},
                                    {MSG_ITEM_UNLOCKED, 4},
                                    {MSG_ITEM_RELOCKED, 4},
                                    {MSG_RELOCKED_WINDOW_CLOSED, 4},
                                    {MSG_RELOCKED_SESSION_LOCKED, 4},
                                    {MSG_RELOCKED_TIME_UP, 4},
                                    {MSG_RELOCKED_BY_POLICY, 4},
                                    {MSG_ITEM_LOCKED, 4},
                                    {MSG_ITEM_REMOVED, 4},
                                    {MSG_PASSWORD_SET, 3},
                                    {MSG_POLICY_APPLIED, 2},
                                    {MSG_POLICY_VALUE_UNUSABLE, 2},
                                    {MSG_STORED_ITEM_UNUSABLE, 2}}) {
        ASSERT_NE(0u, ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                           FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                       guard.Get(), id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                       reinterpret_cast<LPWSTR>(text.Put()), 0,
                                       reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(pointers))));
        const std::wstring shown = static_cast<const wchar_t*>(text.Get());
        for (int i = 0; i < count; ++i) EXPECT_NE(std::wstring::npos, shown.find(inserts[i])) << shown;
    }
    EXPECT_TRUE(GuardEvents().LockLimitIgnored(L"SOFTWARE\\Brackwater\\Addon\\Settings\\MaxLockedFiles", L"0", 16000));
}

}  // namespace
