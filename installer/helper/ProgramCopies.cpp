#include "installer/helper/ProgramCopies.h"

#include <windows.h>

#include <taskschd.h>
#include <tlhelp32.h>

#include "common/ProcessImage.h"
#include "common/UniqueHandle.h"

namespace vaultmere {

namespace {

struct ProcessEntry {
    DWORD id;
    DWORD session;
    std::wstring fileName;  // as the snapshot names it, without a folder
};

std::vector<ProcessEntry> RunningProcesses() {
    std::vector<ProcessEntry> processes;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == ::GetCurrentProcessId()) continue;
        DWORD session = 0;
        ::ProcessIdToSessionId(entry.th32ProcessID, &session);
        processes.push_back({entry.th32ProcessID, session, entry.szExeFile});
    }
    return processes;
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The processes that run one of the program files; the file name is
// compared first, so that only few processes are asked for their path.
std::vector<DWORD> ProgramCopies(const std::vector<std::wstring>& programFiles) {
    std::vector<DWORD> copies;
    for (const ProcessEntry& process : RunningProcesses()) {
        for (const std::wstring& file : programFiles) {
            if (!SameText(process.fileName, FileNameOf(file))) continue;
            if (SameProgramFile(ProcessImagePath(process.id), file)) {
                copies.push_back(process.id);
                break;
            }
        }
    }
    return copies;
}

bool TokenIsSystem(HANDLE token) {
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return false;
    return ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid) != FALSE;
}

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : text_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { ::SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return text_; }

private:
    BSTR text_;
};

template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (pointer_) pointer_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* operator->() const { return pointer_; }
    Interface** Put() { return &pointer_; }
    void** PutVoid() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

// The Task Scheduler's class and interface, named here so that no import
// library of taskschd.dll is needed.
const CLSID kTaskSchedulerClass = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const IID kTaskServiceInterface = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};

// The task runs as the user signed in to that session, with the rights its
// definition gives them.
bool RunTaskInSession(const std::wstring& taskName, DWORD session) {
    constexpr LONG kRunInSession = 0x4;  // TASK_RUN_USE_SESSION_ID
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
    bool started = false;
    {
        ComRef<ITaskService> service;
        ComRef<ITaskFolder> root;
        ComRef<IRegisteredTask> task;
        ComRef<IRunningTask> running;
        VARIANT none;
        ::VariantInit(&none);
        const Bstr rootPath(L"\\");
        const Bstr name(taskName);
        started = SUCCEEDED(::CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER,
                                               kTaskServiceInterface, service.PutVoid())) &&
                  SUCCEEDED(service->Connect(none, none, none, none)) &&
                  SUCCEEDED(service->GetFolder(rootPath.Get(), root.Put())) &&
                  SUCCEEDED(root->GetTask(name.Get(), task.Put())) &&
                  SUCCEEDED(task->RunEx(none, kRunInSession, static_cast<LONG>(session), nullptr, running.Put()));
    }
    ::CoUninitialize();
    return started;
}

// The session's shell: the process of the shell window, or else the
// system's explorer.exe running in that session (Wine keeps it in the system
// folder).
DWORD SessionShell(DWORD session) {
    DWORD shell = 0;
    if (HWND window = ::GetShellWindow()) ::GetWindowThreadProcessId(window, &shell);
    if (shell != 0) return shell;
    std::wstring windows(MAX_PATH, L'\0'), system(MAX_PATH, L'\0');
    windows.resize(::GetWindowsDirectoryW(&windows[0], MAX_PATH));
    system.resize(::GetSystemDirectoryW(&system[0], MAX_PATH));
    for (const ProcessEntry& process : RunningProcesses()) {
        if (process.session != session || !SameText(process.fileName, L"explorer.exe")) continue;
        const std::wstring image = ProcessImagePath(process.id);
        if (SameProgramFile(image, windows + L"\\explorer.exe") || SameProgramFile(image, system + L"\\explorer.exe"))
            return process.id;
    }
    return 0;
}

StartOutcome StartWithShellToken(const std::wstring& program, DWORD session) {
    const DWORD shellId = SessionShell(session);
    if (shellId == 0) return StartOutcome::NoSignedInUser;
    UniqueHandle shell(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellId));
    UniqueHandle token, primary;
    if (!shell || !::OpenProcessToken(shell.Get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, token.Put()))
        return StartOutcome::Failed;
    if (TokenIsSystem(token.Get())) return StartOutcome::NoSignedInUser;
    if (!::DuplicateTokenEx(token.Get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                            nullptr, SecurityImpersonation, TokenPrimary, primary.Put()))
        return StartOutcome::Failed;
    std::wstring command = L"\"" + program + L"\"";
    const size_t slash = program.find_last_of(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : program.substr(0, slash);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessWithTokenW(primary.Get(), 0, program.c_str(), &command[0], 0, nullptr,
                                   folder.empty() ? nullptr : folder.c_str(), &startup, &started))
        return StartOutcome::Failed;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return StartOutcome::Started;
}

}  // namespace

void EnableDebugPrivilege() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) return;
    // Without it only this user's own processes can be ended; those that
    // remain are reported.
    ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
}

bool AnyProgramCopyRuns(const std::vector<std::wstring>& programFiles) {
    EnableDebugPrivilege();
    return !ProgramCopies(programFiles).empty();
}

EndOutcome EndProgramCopies(const std::vector<std::wstring>& programFiles) {
    EnableDebugPrivilege();
    constexpr int kRounds = 10;
    bool ended = false;
    for (int round = 0; round < kRounds; ++round) {
        const std::vector<DWORD> copies = ProgramCopies(programFiles);
        if (copies.empty()) return ended ? EndOutcome::Ended : EndOutcome::NoneRan;
        for (DWORD id : copies) {
            UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
            if (!process) return EndOutcome::SomeRemain;
            // Already ending is as good as ended.
            if (!::TerminateProcess(process.Get(), 1) && ::WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0)
                return EndOutcome::SomeRemain;
            if (::WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0) return EndOutcome::SomeRemain;
            ended = true;
        }
    }
    return ProgramCopies(programFiles).empty() ? EndOutcome::Ended : EndOutcome::SomeRemain;
}

StartOutcome StartForSignedInUser(const std::wstring& program, const std::wstring& taskName) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session) || session == 0) return StartOutcome::NoSignedInUser;
    UniqueHandle own;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.Put()) && TokenIsSystem(own.Get()))
        return StartOutcome::NoSignedInUser;
    if (!taskName.empty() && RunTaskInSession(taskName, session)) return StartOutcome::Started;
    return StartWithShellToken(program, session);
}

}  // namespace vaultmere
