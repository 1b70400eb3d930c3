#pragma once
// What `vaultmere` is asked to do, read from its arguments, and the exit
// codes it answers with. No Windows headers.
#include <string>
#include <vector>

namespace vaultmere {

// As `vaultmere --help` and the README list them.
enum class ExitCode : int {
    Done = 0,
    Failed = 1,         // something unexpected went wrong
    Usage = 2,          // arguments that make no command, or no way to ask for the password
    WrongPassword = 3,  // nothing was changed
    Refused = 4,        // the guard or the command line refused, and says why; nothing was changed
    NoGuard = 5,        // Vaultmere Guard is not installed, not running, not answering or not verified
};

struct CommandLine {
    enum class Command { Help, Status, Lock, Unlock, Relock, Remove };
    Command command = Command::Help;
    std::wstring target;      // ITEM or FOLDER; "" for help, status and relock --all
    bool all = false;         // relock --all
    bool subfolders = false;  // lock --subfolders
    bool json = false;        // status --json
    bool passwordStdin = false;
};

// Reads the arguments after the program's name; false, with why in one
// line, when they make no command. Options may come anywhere after the
// command; "--" ends them, so that a folder may start with "-".
bool ParseCommandLine(const std::vector<std::wstring>& arguments, CommandLine& command, std::wstring& error);

// What `vaultmere --help` prints.
extern const wchar_t kUsageText[];

}  // namespace vaultmere
