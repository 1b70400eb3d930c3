#pragma once
// One run of `vaultmere`: the password given, the lists read, the command
// sent to the guard as the window sends it, and what came of it printed.
// The console, the disks and the guard's link come from outside, so that
// this builds and is tested without Windows.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/GuardBook.h"
#include "cli/CommandLine.h"
#include "forms/add/ChooserLists.h"

namespace vaultmere {

class CommandConsole {
public:
    virtual ~CommandConsole() = default;
    // One line of standard input, or the password asked for on the console
    // without echo; false when there is no console to ask on.
    virtual bool ReadPassword(bool fromStandardInput, std::wstring& password) = 0;
    // Text to standard output, and to standard error; lines end in "\n".
    virtual void Print(const std::wstring& text) = 0;
    virtual void PrintError(const std::wstring& text) = 0;
    // An unlocked item's "until 14:35", as the window says it; "" for never.
    virtual std::wstring UntilText(std::uint64_t relockAt) = 0;
};

// The listed entries (locked and unlocked) that are the same item as item,
// or folder's item with or without its subfolders; folder is absolute, or
// "" for none.
std::vector<std::wstring> ItemsNamed(const GuardMessage& lists, const std::wstring& item, const std::wstring& folder);

class CommandRun {
public:
    // earlyRefusal: the admission rule's answer for this process's user on
    // the folder alone (locker/Admission.h), so that a folder no one may
    // lock is refused before a password is asked for; "" to go on.
    CommandRun(GuardLink& link, FolderSource& disks, CommandConsole& console,
               std::function<std::wstring(const std::wstring& item)> earlyRefusal)
        : link_(link), disks_(disks), console_(console), earlyRefusal_(std::move(earlyRefusal)) {}

    ExitCode Run(const CommandLine& command);

private:
    // The guard's answer; nothing when it could not be asked, said and coded.
    std::optional<GuardMessage> Ask(const GuardMessage& request, ExitCode& failed);
    ExitCode GivePassword(bool fromStandardInput);
    // The lists, after the password where the guard asks for it.
    ExitCode ReadLists(const CommandLine& command, GuardMessage& lists);
    // The item a folder's path stands for, as Lock Folder in the add dialog makes it.
    ExitCode PlanLock(const CommandLine& command, std::wstring& item, std::wstring& confirmation);
    // The listed entries that an argument names, as an item or as a folder
    // (a relative one in the current folder).
    std::vector<std::wstring> Named(const GuardMessage& lists, const std::wstring& itemOrFolder);
    ExitCode OnListedItem(const CommandLine& command, const GuardMessage& lists);
    // Sends a command on one item and prints done, or the refusal.
    ExitCode Send(GuardMessageKind kind, const std::wstring& item, const std::wstring& done);
    // What an unlock from here lasts, as the lists say.
    std::wstring UnlockedUntil(const std::wstring& item);

    GuardLink& link_;
    FolderSource& disks_;
    CommandConsole& console_;
    std::function<std::wstring(const std::wstring& item)> earlyRefusal_;
};

}  // namespace vaultmere
