#include "common/SystemError.h"

#include <cwctype>

namespace vaultmere {

std::wstring SystemErrorText(LONG code) {
    wchar_t buffer[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          static_cast<DWORD>(code), 0, buffer,
                                          static_cast<DWORD>(sizeof buffer / sizeof buffer[0]), nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'.' || std::iswspace(text.back()))) text.pop_back();
    if (text.empty()) text = L"error " + std::to_wstring(code);
    return text;
}

}  // namespace vaultmere
