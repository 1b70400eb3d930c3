#pragma once
// Folders and sources shared by the add dialog's tests.
#include <windows.h>

#include <string>
#include <vector>

#include "forms/add/Win32FolderSource.h"
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
// letter no drive has.
class DisksWithEmptyDrive final : public vaultmere::FolderSource {
public:
    DisksWithEmptyDrive() : letter_(MissingDriveLetter()) {}
    wchar_t Letter() const { return letter_; }

    std::vector<vaultmere::DriveEntry> Drives() override {
        std::vector<vaultmere::DriveEntry> drives = disks_.Drives();
        vaultmere::DriveEntry empty;
        empty.letter = letter_;
        empty.kind = vaultmere::DriveKind::Removable;
        drives.push_back(empty);
        return drives;
    }
    bool ResolveFolder(const std::wstring& path, std::wstring& folder) override {
        return disks_.ResolveFolder(path, folder);
    }
    bool ReadFolder(const std::wstring& folder, const std::wstring& pattern,
                    vaultmere::FolderContents& contents) override {
        return disks_.ReadFolder(folder, pattern, contents);
    }
    bool IsSameFolder(const std::wstring& a, const std::wstring& b) override { return disks_.IsSameFolder(a, b); }

private:
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
