#include "cli/CommandRun.h"

#include <algorithm>

#include "app/PasswordPrompt.h"
#include "cli/StatusReport.h"
#include "common/SecureText.h"
#include "forms/add/AddChooser.h"
#include "forms/add/FolderItem.h"
#include "locker/Item.h"

namespace vaultmere {

namespace {

bool IsUnlocked(const GuardMessage& lists, const std::wstring& item) {
    return std::find(lists.unlocked.begin(), lists.unlocked.end(), Item(item)) != lists.unlocked.end();
}

bool IsRefusal(const GuardMessage& answer, GuardRefusal why) {
    return answer.kind == GuardMessageKind::Refused && answer.code == static_cast<std::uint32_t>(why);
}

}  // namespace

std::vector<std::wstring> ItemsNamed(const GuardMessage& lists, const std::wstring& item, const std::wstring& folder) {
    std::vector<Item> wanted{Item(item)};
    if (!folder.empty()) {
        wanted.emplace_back(FolderItem(folder));
        wanted.emplace_back(FolderItem(folder, true));
    }
    std::vector<std::wstring> named;
    auto take = [&](const Item& entry) {
        if (std::find(wanted.begin(), wanted.end(), entry) != wanted.end()) named.push_back(entry.Text());
    };
    for (const ListedItem& listed : lists.locked) take(listed.item);
    for (const Item& entry : lists.unlocked) take(entry);
    return named;
}

std::vector<std::wstring> CommandRun::Named(const GuardMessage& lists, const std::wstring& itemOrFolder) {
    std::wstring folder;
    if (!disks_.ResolveFolder(itemOrFolder, folder)) folder.clear();
    return ItemsNamed(lists, itemOrFolder, folder);
}

ExitCode CommandRun::Run(const CommandLine& command) {
    using Command = CommandLine::Command;
    if (command.command == Command::Help) {
        console_.Print(kUsageText);
        return ExitCode::Done;
    }
    // A folder that cannot be locked is refused before the password is asked for.
    std::wstring item;
    std::wstring confirmation;
    if (command.command == Command::Lock) {
        const ExitCode planned = PlanLock(command, item, confirmation);
        if (planned != ExitCode::Done) return planned;
    }
    GuardMessage lists;
    const ExitCode read = ReadLists(command, lists);
    if (read != ExitCode::Done) return read;
    switch (command.command) {
    case Command::Status:
        console_.Print(command.json ? StatusJson(lists) : StatusText(lists, [this](std::uint64_t relockAt) {
            return console_.UntilText(relockAt);
        }));
        return ExitCode::Done;
    case Command::Lock: {
        // Lock Folder on a listed item locks it again, or changes nothing.
        const std::vector<std::wstring> listed = ItemsNamed(lists, item, std::wstring());
        if (listed.empty()) return Send(GuardMessageKind::LockFolder, item, confirmation + L"\n");
        if (!IsUnlocked(lists, listed.front())) {
            console_.Print(listed.front() + L" is on the list and locked.\n");
            return ExitCode::Done;
        }
        return Send(GuardMessageKind::LockFolder, item, L"Locked " + listed.front() + L" again.\n");
    }
    default:
        return OnListedItem(command, lists);
    }
}

std::optional<GuardMessage> CommandRun::Ask(const GuardMessage& request, ExitCode& failed) {
    std::optional<GuardMessage> answer = link_.Exchange(request);
    if (!answer) {
        const std::wstring problem = link_.Problem();
        console_.PrintError((problem.empty() ? std::wstring(kGuardNotAnswering) : problem) + L"\n");
        failed = ExitCode::NoGuard;
    }
    return answer;
}

ExitCode CommandRun::GivePassword(bool fromStandardInput) {
    GuardMessage request = GuardMessage::Request(GuardMessageKind::Authenticate);
    if (!console_.ReadPassword(fromStandardInput, request.text)) {
        console_.PrintError(L"There is no console to ask for the password on: give it with --password-stdin.\n");
        return ExitCode::Usage;
    }
    ExitCode failed = ExitCode::Done;
    const std::optional<GuardMessage> answer = Ask(request, failed);
    WipeText(request.text);
    if (!answer) return failed;
    if (answer->kind == GuardMessageKind::Done) return ExitCode::Done;
    if (IsRefusal(*answer, GuardRefusal::WrongPassword)) {
        console_.PrintError(WrongPasswordNotice(answer->waitMs) + L"\n");
        return ExitCode::WrongPassword;
    }
    console_.PrintError(RefusalText(*answer) + L"\n");
    return ExitCode::Refused;
}

ExitCode CommandRun::ReadLists(const CommandLine& command, GuardMessage& lists) {
    const GuardMessage request = GuardMessage::Request(GuardMessageKind::ReadLists);
    ExitCode failed = ExitCode::Done;
    std::optional<GuardMessage> answer;
    // An elevated administrator's status is answered without the password.
    if (command.command == CommandLine::Command::Status && !(answer = Ask(request, failed))) return failed;
    if (!answer || IsRefusal(*answer, GuardRefusal::NotAuthenticated)) {
        const ExitCode given = GivePassword(command.passwordStdin);
        if (given != ExitCode::Done) return given;
        if (!(answer = Ask(request, failed))) return failed;
    }
    if (answer->kind != GuardMessageKind::Lists) {
        console_.PrintError(RefusalText(*answer) + L"\n");
        return ExitCode::Refused;
    }
    lists = std::move(*answer);
    return ExitCode::Done;
}

ExitCode CommandRun::PlanLock(const CommandLine& command, std::wstring& item, std::wstring& confirmation) {
    // Taken as the add dialog's path box takes a folder typed into it, once
    // made absolute: that box takes a relative one in the folder it shows.
    std::wstring folder;
    if (!disks_.ResolveFolder(command.target, folder)) folder = command.target;
    AddChooser chooser(disks_);
    const TypedFolderOutcome opened = chooser.OpenTypedFolder(folder);
    const LockFolderPlan plan = opened.result == TypedFolderOutcome::Result::Opened
                                    ? chooser.PlanLockFolder(command.subfolders)
                                    : LockFolderPlan();
    std::wstring why = opened.result == TypedFolderOutcome::Result::Opened ? plan.refusal : opened.message;
    if (plan.action == LockFolderPlan::Action::Add && earlyRefusal_) why = earlyRefusal_(plan.item);
    if (plan.action != LockFolderPlan::Action::Add || !why.empty()) {
        console_.PrintError((why.empty() ? command.target + L" is not a folder." : why) + L"\n");
        return ExitCode::Refused;
    }
    item = plan.item;
    confirmation = plan.confirmation;
    return ExitCode::Done;
}

ExitCode CommandRun::OnListedItem(const CommandLine& command, const GuardMessage& lists) {
    using Command = CommandLine::Command;
    if (command.all) {
        if (lists.unlocked.empty()) console_.Print(L"No folder is unlocked.\n");
        ExitCode worst = ExitCode::Done;
        for (const Item& unlocked : lists.unlocked) {
            const std::wstring& item = unlocked.Text();
            const ExitCode code = Send(GuardMessageKind::RelockItem, item, L"Locked " + item + L" again.\n");
            if (code != ExitCode::Done) worst = code;
        }
        return worst;
    }
    const std::vector<std::wstring> named = Named(lists, command.target);
    if (named.empty()) {
        console_.PrintError(command.target + L" is not on the list. Nothing was changed.\n");
        return ExitCode::Refused;
    }
    if (named.size() > 1) {
        std::wstring text = command.target + L" stands for more than one item on the list; name one of them:\n";
        for (const std::wstring& item : named) text += L"  " + item + L"\n";
        console_.PrintError(text);
        return ExitCode::Usage;
    }
    const std::wstring& item = named.front();
    const bool unlocked = IsUnlocked(lists, item);
    switch (command.command) {
    case Command::Unlock: {
        // One unlocked in a window lasts as that window's: not longer for being asked here.
        if (unlocked) {
            console_.PrintError(item +
                                L" is unlocked already; relock it first to unlock it from here. Nothing was "
                                L"changed.\n");
            return ExitCode::Refused;
        }
        const ExitCode code = Send(GuardMessageKind::UnlockForSession, item, L"");
        if (code == ExitCode::Done) console_.Print(UnlockedUntil(item));
        return code;
    }
    case Command::Relock:
        if (!unlocked) {
            console_.Print(item + L" is locked.\n");
            return ExitCode::Done;
        }
        return Send(GuardMessageKind::RelockItem, item, L"Locked " + item + L" again.\n");
    default:
        return Send(GuardMessageKind::RemoveItem, item, L"Removed " + item + L" from the list: it is not locked.\n");
    }
}

ExitCode CommandRun::Send(GuardMessageKind kind, const std::wstring& item, const std::wstring& done) {
    ExitCode failed = ExitCode::Done;
    const std::optional<GuardMessage> answer = Ask(GuardMessage::Request(kind, item), failed);
    if (!answer) return failed;
    if (answer->kind != GuardMessageKind::Done) {
        console_.PrintError(RefusalText(*answer) + L"\n");
        return ExitCode::Refused;
    }
    console_.Print(done);
    return ExitCode::Done;
}

std::wstring CommandRun::UnlockedUntil(const std::wstring& item) {
    const std::optional<GuardMessage> lists = link_.Exchange(GuardMessage::Request(GuardMessageKind::ReadLists));
    if (!lists || lists->kind != GuardMessageKind::Lists) return L"Unlocked " + item + L".\n";
    std::wstring until;
    for (std::size_t i = 0; i < lists->unlocked.size() && i < lists->unlockedRelockAt.size(); ++i) {
        if (lists->unlocked[i] == Item(item)) until = console_.UntilText(lists->unlockedRelockAt[i]);
    }
    return L"Unlocked " + item + L". It locks again when you relock it" +
           (lists->relocksOnSessionLock ? L", lock this session" : L"") + L" or sign out" +
           (until.empty() ? L"" : L", and stays unlocked " + until + L" at the latest") + L".\n";
}

}  // namespace vaultmere
