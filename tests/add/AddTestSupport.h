#pragma once
// Folders and sources shared by the add dialog's tests.
#include <windows.h>

#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "forms/add/Win32FolderSource.h"
#include "locker/ItemPath.h"
#include "tests/support/TestSupport.h"

namespace add_tests {

// A letter no drive of this machine has; 0 when every letter is taken.
inline wchar_t MissingDriveLetter() {
    const DWORD present = ::GetLogicalDrives();
    for (int bit = 25; bit >= 2; --bit) {
        if (!(present & (1u << bit))) return static_cast<wchar_t>(L'a' + bit);
    }
    return L'\0';
}

// The real disks, plus a removable drive that is never ready: one whose
// letter no drive has. Tests may tell other facts of any drive, or make the
// missing letter stand for a folder as subst does (which Wine does not
// show: its subst letters cannot be read).
class DisksWithEmptyDrive final : public vaultmere::FolderSource {
public:
    DisksWithEmptyDrive() : letter_(MissingDriveLetter()) {}
    wchar_t Letter() const { return letter_; }
    std::wstring Root() const { return std::wstring{letter_, L':', L'\\'}; }

    std::map<wchar_t, vaultmere::DriveFacts> facts;  // by lower-case letter
    std::wstring substTarget;                        // the folder the missing letter stands for

    std::vector<vaultmere::DriveEntry> Drives() override {
        std::vector<vaultmere::DriveEntry> drives = disks_.Drives();
        vaultmere::DriveEntry empty;
        empty.letter = letter_;
        empty.kind = substTarget.empty() ? vaultmere::DriveKind::Removable : vaultmere::DriveKind::Fixed;
        drives.push_back(empty);
        return drives;
    }
    bool ResolveFolder(const std::wstring& path, std::wstring& folder) override {
        return disks_.ResolveFolder(path, folder);
    }
    bool ReadFolder(const std::wstring& folder, const std::wstring& pattern,
                    vaultmere::FolderContents& contents) override {
        return disks_.ReadFolder(Behind(folder), pattern, contents);
    }
    vaultmere::DriveFacts DriveFactsOf(wchar_t letter) override {
        const auto told = facts.find(static_cast<wchar_t>(::towlower(letter)));
        if (told != facts.end()) return told->second;
        if (::towlower(letter) == letter_ && !substTarget.empty()) {
            return vaultmere::DriveFacts{vaultmere::DriveKind::Fixed, L"\\??\\" + substTarget};
        }
        return disks_.DriveFactsOf(letter);
    }

private:
    // A path on the missing letter, as the folder it stands for.
    std::wstring Behind(const std::wstring& path) const {
        if (substTarget.empty() || path.size() < 3 || ::towlower(path[0]) != letter_ || path[1] != L':') return path;
        return vaultmere::NormalizeFolderPath(substTarget + L"\\" + path.substr(3));
    }

    vaultmere::Win32FolderSource disks_;
    wchar_t letter_;
};

// A tree to browse:
//   root\Alpha\Beta\Deep, root\Alpha\gamma (hidden), root\Alpha\Zeta
//   root\Alpha: one.txt, Two.TXT, README, hidden.txt (hidden), system.sys (system)
//   root\Alpha\Beta: inner.txt
class BrowseTree {
public:
    BrowseTree() {
        using testing_support::MakeFolder;
        using testing_support::WriteTextFile;
        MakeFolder(Alpha());
        MakeFolder(Alpha() + L"\\Zeta");
        MakeFolder(Alpha() + L"\\Beta");
        MakeFolder(Alpha() + L"\\gamma");
        ::SetFileAttributesW((Alpha() + L"\\gamma").c_str(), FILE_ATTRIBUTE_HIDDEN);
        MakeFolder(Beta() + L"\\Deep");
        WriteTextFile(Alpha() + L"\\one.txt", "1");
        WriteTextFile(Alpha() + L"\\Two.TXT", "2");
        WriteTextFile(Alpha() + L"\\README", "r");
        WriteTextFile(Alpha() + L"\\hidden.txt", "h");
        ::SetFileAttributesW((Alpha() + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        WriteTextFile(Alpha() + L"\\system.sys", "s");
        ::SetFileAttributesW((Alpha() + L"\\system.sys").c_str(), FILE_ATTRIBUTE_SYSTEM);
        WriteTextFile(Beta() + L"\\inner.txt", "i");
    }
    const std::wstring& Root() const { return root_.Path(); }
    std::wstring Alpha() const { return root_ / L"Alpha"; }
    std::wstring Beta() const { return Alpha() + L"\\Beta"; }
    std::vector<std::wstring> AlphaFiles() const {
        return {L"hidden.txt", L"one.txt", L"README", L"system.sys", L"Two.TXT"};
    }
    std::vector<std::wstring> AlphaFolders() const { return {Beta(), Alpha() + L"\\gamma", Alpha() + L"\\Zeta"}; }

private:
    testing_support::TempFolder root_{L"add"};
};

}  // namespace add_tests
