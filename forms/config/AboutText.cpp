#include "forms/config/AboutText.h"

namespace vaultmere {

std::wstring BuildAboutText(const VersionRecord& version) {
    const std::wstring cr(1, L'\r');
    std::wstring text = L"Vaultmere" + cr;
    text += L"Version " + std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + L"." +
            std::to_wstring(version.revision) + cr + cr;
    text += version.copyright + cr + cr;
    text += version.comments;
    return text;
}

}  // namespace vaultmere
