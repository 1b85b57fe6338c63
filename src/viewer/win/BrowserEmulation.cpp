#include "BrowserEmulation.h"

#include <windows.h>

namespace viewer {

namespace {

constexpr wchar_t kKey[] = L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

} // namespace

DocumentModeRequest::DocumentModeRequest(const std::wstring& programName) : name_(programName)
{
    constexpr DWORD kIe11 = 11001;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExW(key, name_.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND)
        written_ = RegSetValueExW(key, name_.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kIe11),
                                  sizeof kIe11) == ERROR_SUCCESS;
    RegCloseKey(key);
}

DocumentModeRequest::~DocumentModeRequest()
{
    if (written_)
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, name_.c_str());
}

} // namespace viewer
