#include "installer/helper/LogonTask.h"

#include "common/UniqueHandle.h"

namespace vaultmere {

namespace {

constexpr DWORD kTaskSchedulerWaitMs = 60000;

std::wstring EscapedForXml(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t ch : text) {
        switch (ch) {
        case L'&':
            escaped += L"&amp;";
            break;
        case L'<':
            escaped += L"&lt;";
            break;
        case L'>':
            escaped += L"&gt;";
            break;
        default:
            escaped += ch;
        }
    }
    return escaped;
}

std::wstring FolderOf(const std::wstring& file) {
    const std::size_t slash = file.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash);
}

std::wstring DefinitionFile(const std::wstring& programFile) { return FolderOf(programFile) + L"\\" + kLogonTaskFile; }

// Runs the system's schtasks.exe with arguments and returns its exit code.
DWORD RunTaskScheduler(const std::wstring& arguments) {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ::GetLastError();
    const std::wstring program = std::wstring(system) + L"\\schtasks.exe";
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &started))
        return ::GetLastError();
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    if (::WaitForSingleObject(process.Get(), kTaskSchedulerWaitMs) != WAIT_OBJECT_0) return ERROR_TIMEOUT;
    DWORD code = 0;
    return ::GetExitCodeProcess(process.Get(), &code) ? code : ::GetLastError();
}

}  // namespace

std::wstring LogonTaskDefinition(const std::wstring& programFile) {
    return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
           L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
           L"  <RegistrationInfo>\r\n"
           L"    <Author>Brackwater Software</Author>\r\n"
           L"    <Description>Starts Vaultmere at every logon.</Description>\r\n"
           L"  </RegistrationInfo>\r\n"
           L"  <Triggers>\r\n"
           L"    <LogonTrigger>\r\n"
           L"      <Enabled>true</Enabled>\r\n"
           L"    </LogonTrigger>\r\n"
           L"  </Triggers>\r\n"
           L"  <Principals>\r\n"
           L"    <Principal id=\"Users\">\r\n"
           L"      <GroupId>S-1-5-32-545</GroupId>\r\n"
           L"      <RunLevel>LeastPrivilege</RunLevel>\r\n"
           L"    </Principal>\r\n"
           L"  </Principals>\r\n"
           L"  <Settings>\r\n"
           L"    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>\r\n"
           L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
           L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
           L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
           L"    <Priority>4</Priority>\r\n"
           L"    <Enabled>true</Enabled>\r\n"
           L"  </Settings>\r\n"
           L"  <Actions Context=\"Users\">\r\n"
           L"    <Exec>\r\n"
           L"      <Command>\"" +
           EscapedForXml(programFile) +
           L"\"</Command>\r\n"
           // The signed-in user's own profile, expanded by the Task
           // Scheduler for each user it starts the program for: where the
           // add dialog opens.
           L"      <WorkingDirectory>%USERPROFILE%</WorkingDirectory>\r\n"
           L"    </Exec>\r\n"
           L"  </Actions>\r\n"
           L"</Task>\r\n";
}

DWORD RegisterLogonTask(const std::wstring& programFile, const std::wstring& taskName) {
    const std::wstring file = DefinitionFile(programFile);
    const std::wstring text = L"\xFEFF" + LogonTaskDefinition(programFile);
    {
        const UniqueHandle out(
            ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return ::GetLastError();
        const DWORD bytes = static_cast<DWORD>(text.size()) * static_cast<DWORD>(sizeof(wchar_t));
        DWORD written = 0;
        if (!::WriteFile(out.Get(), text.data(), bytes, &written, nullptr)) return ::GetLastError();
        if (written != bytes) return ERROR_WRITE_FAULT;
    }
    return RunTaskScheduler(L"/Create /F /TN \"" + taskName + L"\" /XML \"" + file + L"\"");
}

DWORD RemoveLogonTask(const std::wstring& programFile, const std::wstring& taskName) {
    // Asked first: deleting a task that is not there fails.
    if (RunTaskScheduler(L"/Query /TN \"" + taskName + L"\"") == 0) {
        const DWORD deleted = RunTaskScheduler(L"/Delete /F /TN \"" + taskName + L"\"");
        if (deleted != 0) return deleted;
    }
    if (!::DeleteFileW(DefinitionFile(programFile).c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return ::GetLastError();
    return NO_ERROR;
}

}  // namespace vaultmere
