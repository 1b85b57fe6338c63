#include "StartDialogs.h"

#include "WinText.h"

#include <vector>

#include <windows.h>

namespace viewer {

namespace {

constexpr WORD kEditId = 100;

// A dialog template built in memory (DLGTEMPLATE and its items), so the
// program needs no dialog resource.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, std::wstring_view title)
    {
        Add32(style | DS_SETFONT);
        Add32(0);      // extended style
        words_.push_back(0); // item count, set as items are added
        Add16(0, 0, cx, cy);
        words_.push_back(0); // no menu
        words_.push_back(0); // the standard dialog class
        AddText(title);
        words_.push_back(9);
        AddText(L"Segoe UI");
    }

    void AddItem(WORD atom, DWORD style, short x, short y, short cx, short cy, WORD id, std::wstring_view text)
    {
        if (words_.size() % 2)
            words_.push_back(0); // items start on a DWORD boundary
        Add32(style | WS_CHILD | WS_VISIBLE);
        Add32(0);
        Add16(x, y, cx, cy);
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(atom);
        AddText(text);
        words_.push_back(0); // no creation data
        ++words_[4];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Add32(DWORD value)
    {
        words_.push_back(LOWORD(value));
        words_.push_back(HIWORD(value));
    }
    void Add16(short x, short y, short cx, short cy)
    {
        for (const short v : {x, y, cx, cy})
            words_.push_back(static_cast<WORD>(v));
    }
    void AddText(std::wstring_view text)
    {
        words_.insert(words_.end(), text.begin(), text.end());
        words_.push_back(0);
    }

    std::vector<WORD> words_;
};

struct PasswordState {
    std::wstring typed;
};

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetForegroundWindow(dialog);
        SetFocus(GetDlgItem(dialog, kEditId));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* state = reinterpret_cast<PasswordState*>(GetWindowLongPtrW(dialog, DWLP_USER));
            const HWND edit = GetDlgItem(dialog, kEditId);
            state->typed.assign(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
            const int n = GetWindowTextW(edit, state->typed.data(), static_cast<int>(state->typed.size()));
            state->typed.resize(static_cast<size_t>(n));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void Forget(std::wstring& secret)
{
    SecureZeroMemory(secret.data(), secret.size() * sizeof(wchar_t));
    secret.clear();
}

} // namespace

void WindowsStartPrompts::Message(std::string_view caption, std::string_view text)
{
    const UINT icon = caption == qv::start_text::kExpiredCaption ? MB_ICONERROR : MB_ICONWARNING;
    MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), MB_OK | icon | MB_SETFOREGROUND);
}

std::optional<std::string> WindowsStartPrompts::AskPassword(std::string_view caption, std::string_view text)
{
    DialogTemplate dialog(DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU, 220, 68,
                          Utf8ToWide(caption));
    constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;
    dialog.AddItem(kStatic, SS_LEFT, 7, 7, 206, 10, 0xFFFF, Utf8ToWide(text));
    dialog.AddItem(kEdit, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 21, 206, 13, kEditId, L"");
    dialog.AddItem(kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, 109, 46, 50, 14, IDOK, L"OK");
    dialog.AddItem(kButton, BS_PUSHBUTTON | WS_TABSTOP, 163, 46, 50, 14, IDCANCEL, L"Cancel");
    PasswordState state;
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), nullptr, PasswordProc,
                                                   reinterpret_cast<LPARAM>(&state));
    if (result != IDOK) {
        Forget(state.typed);
        return std::nullopt;
    }
    std::string typed = WideToUtf8(state.typed);
    Forget(state.typed);
    return typed;
}

bool PassStartRules(const qv::SiteArchive& site)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WindowsStartPrompts prompts;
    return qv::RunStartRules(site.Settings(), site.Codec(), qv::DateSerial(now.wYear, now.wMonth, now.wDay),
                             prompts);
}

} // namespace viewer
