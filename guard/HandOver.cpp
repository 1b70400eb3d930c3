#include "guard/HandOver.h"

#include <cstdint>
#include <vector>

#include "common/AppState.h"
#include "common/TextCase.h"
#include "locker/FolderHandles.h"
#include "store/HandOverRecord.h"

namespace vaultmere {

namespace {

// How long a holder that was told to end is waited for before its file is
// deleted.
constexpr DWORD kHolderEndWaitMs = 5000;

std::vector<unsigned char> UserOfProcess(HANDLE process) {
    UniqueHandle token;
    DWORD size = 0;
    if (!::OpenProcessToken(process, TOKEN_QUERY, token.Put())) return {};
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) return {};
    return user;
}

// A holder is this guard's: it runs the holder file beside this guard, as
// this guard's user (the system). A process id recorded once may since
// belong to another process.
bool IsOurHolder(HANDLE process, const std::wstring& holderFile) {
    std::vector<wchar_t> image(32768);
    auto size = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process, 0, image.data(), &size) ||
        !EqualsIgnoringCase(std::wstring(image.data(), size), holderFile)) {
        return false;
    }
    const std::vector<unsigned char> holder = UserOfProcess(process);
    const std::vector<unsigned char> own = UserOfProcess(::GetCurrentProcess());
    return !holder.empty() && !own.empty() &&
           ::EqualSid(reinterpret_cast<const TOKEN_USER*>(holder.data())->User.Sid,
                      reinterpret_cast<const TOKEN_USER*>(own.data())->User.Sid);
}

}  // namespace

std::wstring HolderFile() {
    const std::wstring folder = ProgramFolder();
    if (folder.empty()) return std::wstring();
    return folder.back() == L'\\' ? folder + kHolderFileName : folder + L"\\" + kHolderFileName;
}

int RunHolder() {
    ::Sleep(kHolderWaitSeconds * 1000);
    return 0;
}

bool HandOverToHolder(const FileLocker& locker) {
    const std::wstring holderFile = HolderFile();
    if (holderFile.empty() || !::CopyFileW(ProgramPath().c_str(), holderFile.c_str(), FALSE)) return false;
    std::wstring commandLine = L"\"" + holderFile + L"\" " + kHolderArgument;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Nothing inherited: the holder holds only what is duplicated into it.
    if (!::CreateProcessW(holderFile.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &started)) {
        return false;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    const HolderRecord record{started.dwProcessId, locker.DuplicateHeldFiles(process.Get())};
    if (WriteHolderRecord(record) == ERROR_SUCCESS) return true;
    // A holder no guard can find would only keep the files shut for nothing.
    ::TerminateProcess(process.Get(), ERROR_CANCELLED);
    return false;
}

std::size_t TakenFiles::TakeFromHolder() {
    const HolderRecord record = TakeHolderRecord();
    const std::wstring holderFile = HolderFile();
    std::size_t taken = 0;
    const UniqueHandle holder(
        record.process == 0
            ? nullptr
            : ::OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                            FALSE, record.process));
    if (holder && IsOurHolder(holder.Get(), holderFile)) {
        std::lock_guard<std::mutex> hold(lock_);
        for (const std::uint32_t value : record.handles) {
            HANDLE file = nullptr;
            if (!::DuplicateHandle(holder.Get(), reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)),
                                   ::GetCurrentProcess(), &file, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
                continue;
            }
            UniqueHandle owned(file);
            const std::wstring path = ::GetFileType(file) == FILE_TYPE_DISK ? FinalPathOf(file) : std::wstring();
            if (path.empty()) continue;
            files_[LowerCase(path)] = std::move(owned);
            ++taken;
        }
        ::TerminateProcess(holder.Get(), 0);
        ::WaitForSingleObject(holder.Get(), kHolderEndWaitMs);
    }
    // Also a copy left by a holder that ended on its own.
    if (!holderFile.empty()) ::DeleteFileW(holderFile.c_str());
    any_ = taken > 0;
    return taken;
}

UniqueHandle TakenFiles::Take(HANDLE folder, const std::wstring& name) {
    if (!any_) return UniqueHandle();
    std::wstring path = FinalPathOf(folder);
    if (path.empty()) return UniqueHandle();
    if (path.back() != L'\\') path += L'\\';
    path = LowerCase(path + name);
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = files_.find(path);
    if (found == files_.end()) return UniqueHandle();
    UniqueHandle file = std::move(found->second);
    files_.erase(found);
    any_ = !files_.empty();
    return file;
}

void TakenFiles::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    files_.clear();
    any_ = false;
}

}  // namespace vaultmere
