#include "cli/CommandLine.h"

namespace vaultmere {

const wchar_t kUsageText[] =
    L"Usage:\n"
    L"  vaultmere status [--json]           every folder on the list, locked or unlocked, with its note\n"
    L"  vaultmere lock FOLDER [--subfolders]  locks a folder and keeps it on the list\n"
    L"  vaultmere unlock ITEM|FOLDER        unlocks until relocked, this session is locked or signed out,\n"
    L"                                      or the time an administrator set is up\n"
    L"  vaultmere relock ITEM|FOLDER|--all  locks an unlocked folder again, or every one\n"
    L"  vaultmere remove ITEM|FOLDER        takes a folder off the list and unlocks it\n"
    L"  vaultmere --help\n"
    L"\n"
    L"ITEM is an entry as status lists it (c:\\data\\*.*); FOLDER is a folder's path (c:\\data).\n"
    L"Each command asks for the password without echo; --password-stdin reads it from one line\n"
    L"of standard input instead. An elevated administrator's status needs none.\n"
    L"\n"
    L"Exit codes: 0 done, 1 failed unexpectedly, 2 usage error, 3 wrong password,\n"
    L"4 refused (nothing was changed), 5 Vaultmere Guard not installed, not running or not answering.\n";

namespace {

struct Verb {
    const wchar_t* name;
    CommandLine::Command command;
};

constexpr Verb kVerbs[] = {
    {L"status", CommandLine::Command::Status}, {L"lock", CommandLine::Command::Lock},
    {L"unlock", CommandLine::Command::Unlock}, {L"relock", CommandLine::Command::Relock},
    {L"remove", CommandLine::Command::Remove},
};

}  // namespace

bool ParseCommandLine(const std::vector<std::wstring>& arguments, CommandLine& command, std::wstring& error) {
    command = CommandLine();
    for (const std::wstring& argument : arguments) {
        if (argument == L"--help" || argument == L"-h" || argument == L"/?") return true;
    }
    if (arguments.empty()) {
        error = L"No command given.";
        return false;
    }
    bool known = false;
    for (const Verb& verb : kVerbs) {
        if (arguments.front() == verb.name) {
            command.command = verb.command;
            known = true;
        }
    }
    if (!known) {
        error = L"Unknown command: " + arguments.front() + L".";
        return false;
    }
    using Command = CommandLine::Command;
    const Command verb = command.command;
    std::vector<std::wstring> targets;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != L'-') {
            targets.push_back(argument);
        } else if (argument == L"--") {
            optionsEnded = true;
        } else if (argument == L"--password-stdin") {
            command.passwordStdin = true;
        } else if (argument == L"--json" && verb == Command::Status) {
            command.json = true;
        } else if (argument == L"--subfolders" && verb == Command::Lock) {
            command.subfolders = true;
        } else if (argument == L"--all" && verb == Command::Relock) {
            command.all = true;
        } else {
            error = L"Unknown option for " + arguments.front() + L": " + argument + L".";
            return false;
        }
    }
    const std::size_t wanted = verb == Command::Status || command.all ? 0 : 1;
    if (targets.size() != wanted) {
        error = wanted == 0 ? L"Too many arguments for " + arguments.front() + L"."
                            : L"Name one " + std::wstring(verb == Command::Lock ? L"folder" : L"item or folder") +
                                  L" to " + arguments.front() + L".";
        return false;
    }
    if (wanted == 1) command.target = targets.front();
    return true;
}

}  // namespace vaultmere
