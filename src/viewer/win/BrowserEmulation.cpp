#include "BrowserEmulation.h"

#include <windows.h>

namespace viewer {

void RequestIe11DocumentMode(const std::wstring& programName)
{
    constexpr wchar_t kKey[] =
        L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
    constexpr DWORD kIe11 = 11001;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, programName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kIe11), sizeof kIe11);
    RegCloseKey(key);
}

} // namespace viewer
