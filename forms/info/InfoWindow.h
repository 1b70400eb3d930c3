#pragma once
// The program's one message window: an icon, a wrapping message label and
// an OK button. Callers fill it and show it; it only closes itself.
#include <string>

#include "forms/FormKit.h"

namespace vaultmere {

class InfoWindow final : public ui::Form {
public:
    enum ControlId { IDC_MESSAGE_LABEL = 100, IDC_OK_BUTTON, IDC_PROGRAM_ICON };

    // Each of these loads the window (hidden) when it is not loaded.
    void SetCaptionText(const std::wstring& caption);
    void SetMessage(const std::wstring& text);
    void SetOkVisible(bool visible);
    // The message as the caller set it, carriage returns and all.
    const std::wstring& Message() const { return message_; }

    void OnOk();
    void OnSurfaceClick();

protected:
    void Load() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int id, int notifyCode, HWND control) override;
    void OnUnloaded() override { message_.clear(); }

private:
    std::wstring message_;
};

// Text for a static control: a lone carriage return starts a new line.
std::wstring WithLineBreaks(const std::wstring& text);

}  // namespace vaultmere
