#pragma once
// The windows that show the chooser lists: an owner-drawn drop-down list of
// drives, an owner-drawn folder list drawn as an indented tree, and a file
// list. The form builds the windows from its control table; a view attaches
// to one, fills it from a plain list, draws its entries when the form passes
// WM_DRAWITEM on, and reports what the user picked.
#include <windows.h>

#include <functional>

#include "common/UniqueHandle.h"
#include "forms/add/ChooserLists.h"

namespace ui {

// Height of one entry: a small icon or a line of text in font, whichever is taller.
int ChooserItemHeight(HFONT font);

class DriveListView {
public:
    DriveListView() = default;
    DriveListView(const DriveListView&) = delete;
    DriveListView& operator=(const DriveListView&) = delete;

    // comboBox: CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS.
    void Attach(HWND comboBox);
    void Detach() { combo_ = nullptr; }
    HWND Handle() const { return combo_; }

    void Show(const vaultmere::DriveList& drives);
    void ShowSelection(int index);
    int SelectedIndex() const;
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    HWND combo_ = nullptr;
    vaultmere::UniqueIcon icons_[6];  // by DriveKind
};

class FolderListView {
public:
    FolderListView() = default;
    ~FolderListView() { Detach(); }
    FolderListView(const FolderListView&) = delete;
    FolderListView& operator=(const FolderListView&) = delete;

    // listBox: LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY. onClick runs
    // when a mouse click on an entry ends, with that entry selected.
    void Attach(HWND listBox, std::function<void()> onClick);
    void Detach();
    HWND Handle() const { return list_; }

    void Show(const vaultmere::FolderList& folders);
    // The selected entry as a FolderList index.
    int SelectedListIndex() const;
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data);
    bool IsOnSelectedEntry(LPARAM point) const;

    HWND list_ = nullptr;
    int pathDepth_ = 0;
    bool pressed_ = false;
    std::function<void()> onClick_;
    vaultmere::UniqueIcon closedFolder_;
    vaultmere::UniqueIcon openFolder_;
};

class FileListView {
public:
    void Attach(HWND listBox) { list_ = listBox; }
    void Detach() { list_ = nullptr; }
    HWND Handle() const { return list_; }
    void Show(const vaultmere::FileList& files);

private:
    HWND list_ = nullptr;
};

}  // namespace ui
