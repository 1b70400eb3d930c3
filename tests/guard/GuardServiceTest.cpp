// The guard as a real service and what no window shows: the stored list
// changed in the registry while it runs, its key kept from other users, and
// wrong passwords answered ever later, asked by clients of the test's own.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <optional>
#include <thread>

#include "channel/GuardPipe.h"
#include "guard/GuardEventTexts.h"
#include "guard/GuardEvents.h"
#include "store/Registry.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using namespace vaultmere;

namespace {

const std::wstring kFilesKey = std::wstring(L"HKLM\\") + Registry::kFilesKeyPath;

// A client of the test's own on the guard's pipe: sends a request, and
// reads its answer once it has come.
class RawClient {
public:
    RawClient()
        : pipe(::CreateFileW(kGuardPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (pipe) ::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr);
    }
    bool Send(GuardMessageKind kind, const std::wstring& text = L"") {
        const Bytes bytes = EncodeGuardMessage(GuardMessage::Request(kind, text));
        DWORD written = 0;
        return ::WriteFile(pipe.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
    }
    bool Answered() const {
        DWORD available = 0;
        return ::PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0;
    }
    std::optional<GuardMessage> Take(DWORD timeoutMs = 40000) {
        if (!WaitUntil([this] { return Answered(); }, timeoutMs, 5)) return std::nullopt;
        Bytes buffer(64 * 1024);
        DWORD read = 0;
        if (!::ReadFile(pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return std::nullopt;
        }
        return DecodeGuardMessage(buffer.data(), read);
    }
    // The answer, and how long it took in ms.
    GuardMessage Ask(GuardMessageKind kind, const std::wstring& text = L"", ULONGLONG* tookMs = nullptr) {
        const ULONGLONG sent = ::GetTickCount64();
        const std::optional<GuardMessage> answer = Send(kind, text) ? Take() : std::nullopt;
        if (tookMs) *tookMs = ::GetTickCount64() - sent;
        return answer ? *answer : GuardMessage::Refusal(GuardRefusal::UnknownRequest, L"no answer");
    }

    UniqueHandle pipe;
};

class GuardServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager_.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_);
        RemoveService();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath);
        for (const TempFolder* folder : {&a, &b, &c}) ASSERT_TRUE(WriteTextFile(*folder / L"doc.txt", "d"));
        ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                               Registry::kPasswordValueName,
                                               Registry::RegistryValue::FromText(L"secret")));
        ASSERT_TRUE(Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, {Item(a)}));
        const std::wstring binary = L"\"" + BinaryFolder() + L"\\VaultmereGuard.exe\"";
        service_.Reset(::CreateServiceW(manager_.Get(), kGuardServiceName, L"Vaultmere Guard", SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                        binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service_) << ::GetLastError();
        ASSERT_TRUE(::StartServiceW(service_.Get(), 0, nullptr)) << ::GetLastError();
        ASSERT_TRUE(::WaitNamedPipeW(kGuardPipeName, 10000) ||
                    WaitUntil([] { return ::WaitNamedPipeW(kGuardPipeName, 100) != FALSE; }, 10000));
    }
    void TearDown() override {
        RemoveService();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath);
    }
    void RemoveService() {
        UniqueServiceHandle service(::OpenServiceW(manager_.Get(), kGuardServiceName, SERVICE_ALL_ACCESS));
        service_.Reset();
        if (!service) return;
        SERVICE_STATUS status{};
        ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
        WaitUntil([] { return RunningServiceProcessId(kGuardServiceName) == 0; }, 10000);
        ::DeleteService(service.Get());
    }
    static std::wstring Item(const TempFolder& folder) { return folder.Path() + L"\\*.*"; }
    static bool Locked(const TempFolder& folder) { return OpenHere(folder / L"doc.txt") == ERROR_SHARING_VIOLATION; }
    static bool Free(const TempFolder& folder) { return OpenHere(folder / L"doc.txt") == ERROR_SUCCESS; }
    // reg.exe, as an administrator's script runs it; its exit code.
    static DWORD Reg(const std::wstring& arguments) {
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        const UniqueHandle process = StartProcess(std::wstring(system) + L"\\reg.exe", arguments + L" /f /reg:32");
        return process ? WaitForExit(process.Get(), 30000) : ::GetLastError();
    }
    // The store key and each key below it carry the descriptors that keep
    // other users out.
    static bool Protected(std::initializer_list<const wchar_t*> subkeys) {
        if (Registry::KeyAccessText(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath) !=
            Registry::CanonicalAccessText(Registry::kStoreKeySecurity)) {
            return false;
        }
        for (const wchar_t* subkey : subkeys) {
            if (Registry::KeyAccessText(HKEY_LOCAL_MACHINE, std::wstring(Registry::kStoreKeyPath) + L"\\" + subkey) !=
                Registry::CanonicalAccessText(Registry::kStoreSubkeySecurity)) {
                return false;
            }
        }
        return true;
    }

    TempFolder a{L"live-a"};
    TempFolder b{L"live-b"};
    TempFolder c{L"live-c"};
    UniqueServiceHandle manager_;
    UniqueServiceHandle service_;
};

TEST_F(GuardServiceTest, TheStoredListIsAppliedAsWrittenAndItsKeyKeptFromOtherUsers) {
    ASSERT_TRUE(WaitUntil([&] { return Locked(a); }, 5000));
    EXPECT_TRUE(WaitUntil([] { return Protected({L"Files", L"Settings"}); }, 2000)) << "the key the guard found";

    ASSERT_EQ(0u, Reg(L"add " + kFilesKey + L" /v File1 /t REG_SZ /d \"" + Item(b) + L"\""));
    EXPECT_TRUE(WaitUntil([&] { return Locked(b); }, 2000)) << "an item written with reg add";

    // Rewritten whole, by the crash-safe save in another order and as a
    // deployment replaces a key (deleted, then written anew value by value,
    // a step every 150 ms): the items it keeps are never free, probed all
    // the while.
    std::atomic<bool> probing{true};
    std::atomic<int> freed{0};
    std::thread probe([&] {
        while (probing) {
            if (!Locked(a) || !Locked(b)) ++freed;
        }
    });
    EXPECT_TRUE(Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, {Item(b), Item(a)}));
    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));
    const std::vector<std::wstring> rewritten{Item(a), Item(b)};
    for (std::size_t i = 0; i < rewritten.size(); ++i) {
        ::Sleep(150);
        EXPECT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath,
                                               L"File" + std::to_wstring(i),
                                               Registry::RegistryValue::FromText(rewritten[i])));
    }
    ::Sleep(1500);
    probing = false;
    probe.join();
    EXPECT_EQ(0, freed.load()) << "an item kept across the rewrite was free in between";
    EXPECT_TRUE(WaitUntil([] { return Protected({L"Files"}); }, 2000)) << "the list's key made anew";

    // An item unlocked through a window stays unlocked as the list changes.
    RawClient window;
    ASSERT_EQ(GuardMessage::Done(), window.Ask(GuardMessageKind::Authenticate, L"secret"));
    ASSERT_EQ(GuardMessage::Done(true), window.Ask(GuardMessageKind::UnlockItem, Item(a)));
    EXPECT_TRUE(Free(a));
    ASSERT_EQ(0u, Reg(L"add " + kFilesKey + L" /v File2 /t REG_SZ /d \"" + Item(c) + L"\""));
    EXPECT_TRUE(WaitUntil([&] { return Locked(c); }, 2000));
    EXPECT_TRUE(Free(a)) << "the change of the list relocked an item a window unlocked";

    ASSERT_EQ(0u, Reg(L"delete " + kFilesKey + L" /v File1"));
    EXPECT_TRUE(WaitUntil([&] { return Free(b); }, 2000)) << "an item deleted from the list";
    EXPECT_TRUE(Locked(c));

    // The whole key deleted (as uninstalling with /REMOVESETTINGS does), then
    // a save through the guard: made with its descriptor before it answers.
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath));
    EXPECT_TRUE(WaitUntil([&] { return Free(c); }, 2000)) << "the list deleted";
    ASSERT_EQ(GuardMessage::Done(true), window.Ask(GuardMessageKind::LockFolder, Item(b)));
    EXPECT_TRUE(Protected({L"Files"}));
    ASSERT_EQ(GuardMessage::Done(), window.Ask(GuardMessageKind::SetPassword, L"secret"));
    EXPECT_TRUE(Protected({L"Files", L"Settings"}));
    EXPECT_TRUE(WaitUntil([&] { return Locked(b); }, 2000));
    ::Sleep(700);
    EXPECT_TRUE(Locked(b)) << "the guard's own save was applied again";
}

TEST_F(GuardServiceTest, WrongPasswordsAreAnsweredEverLaterForTheirUserWhileOthersAreServed) {
    RawClient first;
    ASSERT_TRUE(first.pipe) << ::GetLastError();
    const GuardMessage wrong = GuardMessage::Refusal(GuardRefusal::WrongPassword);
    ASSERT_EQ(wrong, first.Ask(GuardMessageKind::Authenticate, L"guess"));

    // The next attempt waits a second; a second connection is answered meanwhile.
    const ULONGLONG sent = ::GetTickCount64();
    ASSERT_TRUE(first.Send(GuardMessageKind::Authenticate, L"guess"));
    RawClient second;
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::NotAuthenticated), second.Ask(GuardMessageKind::ReadLists));
    EXPECT_FALSE(first.Answered()) << "the second connection was served only after the held answer";
    const std::optional<GuardMessage> held = first.Take();
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(wrong, *held);
    EXPECT_GE(::GetTickCount64() - sent, 900u);

    // The user's other connection waits its turn, twice as long; so does a new one.
    ULONGLONG took = 0;
    EXPECT_EQ(wrong, second.Ask(GuardMessageKind::Authenticate, L"guess", &took));
    EXPECT_GE(took, 1900u);
    first.pipe.Reset();
    second.pipe.Reset();
    RawClient again;
    EXPECT_EQ(wrong, again.Ask(GuardMessageKind::Authenticate, L"guess", &took));
    EXPECT_GE(took, 3900u);
}

TEST(GuardEventsTest, AWrongPasswordIsLoggedWithTheNameOfItsUser) {
    UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    unsigned char buffer[256] = {};
    DWORD size = 0;
    ASSERT_TRUE(::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size));
    UniqueLocalMemory sidText;
    ASSERT_TRUE(::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                                         reinterpret_cast<LPWSTR*>(sidText.Put())));
    const std::wstring sid = static_cast<const wchar_t*>(sidText.Get());
    wchar_t user[256] = {};
    DWORD length = 256;
    ASSERT_TRUE(::GetUserNameW(user, &length));

    const std::wstring name = GuardEvents::AccountName(sid);
    EXPECT_EQ(L"\\" + std::wstring(user), name.substr(name.find_last_of(L'\\'))) << name;
    // The entry as Event Viewer shows it, from the guard's own message table.
    UniqueModule guard(::LoadLibraryExW((BinaryFolder() + L"\\VaultmereGuard.exe").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(guard);
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
}

}  // namespace
