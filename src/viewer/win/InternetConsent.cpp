#include "InternetConsent.h"

#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/base/Error.h"

#include <vector>

#include <windows.h>

#include <bcrypt.h>
#include <shlobj.h>

namespace viewer {

namespace {

[[noreturn]] void FailHash(const std::wstring& file)
{
    throw qv::Error("Cannot compute the SHA-256 of \"" + WideToUtf8(file) + "\".");
}

// The digest of the whole file in lowercase hexadecimal.
std::string FileDigest(const std::wstring& file)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        FailHash(file);
    DWORD objectSize = 0, got = 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> object;
    bool made = BCRYPT_SUCCESS(BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                                 sizeof objectSize, &got, 0));
    if (made) {
        object.resize(objectSize); // Windows 7 wants the hash object's memory from the caller
        made = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, object.data(), objectSize, nullptr, 0, 0));
    }
    UCHAR digest[32] = {};
    try {
        Win32FileStream in(file, Win32FileStream::Mode::OpenRead);
        std::vector<UCHAR> buffer(1 << 20);
        for (size_t n; made && (n = in.Read(buffer.data(), buffer.size())) > 0;)
            made = BCRYPT_SUCCESS(BCryptHashData(hash, buffer.data(), static_cast<ULONG>(n), 0));
        made = made && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
    } catch (...) {
        if (hash)
            BCryptDestroyHash(hash);
        BCryptCloseAlgorithmProvider(algorithm, 0);
        throw;
    }
    if (hash)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!made)
        FailHash(file);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const UCHAR b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

// "%APPDATA%\Quorvane", made when `create`; empty when there is none.
std::wstring ConfigurationFolder(bool create)
{
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | (create ? CSIDL_FLAG_CREATE : 0), nullptr, 0, appData)))
        return {};
    const std::wstring folder = std::wstring(appData) + L"\\Quorvane";
    if (create)
        CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring ListPath(const std::wstring& folder) { return folder + L"\\internet-allowed.txt"; }

std::string ReadList(const std::wstring& list)
{
    if (GetFileAttributesW(list.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    Win32FileStream in(list, Win32FileStream::Mode::OpenRead);
    std::string text(static_cast<size_t>(in.Size()), '\0');
    text.resize(in.Read(text.data(), text.size()));
    return text;
}

bool Lists(const std::string& list, const std::string& digest)
{
    for (size_t at = 0; (at = list.find(digest, at)) != std::string::npos; at += digest.size())
        if ((at == 0 || list[at - 1] == '\n') &&
            (at + digest.size() == list.size() || list[at + digest.size()] == '\r' || list[at + digest.size()] == '\n'))
            return true;
    return false;
}

} // namespace

bool InternetConsent::Remembered() const
{
    try {
        const std::wstring folder = ConfigurationFolder(false);
        const std::string list = folder.empty() ? std::string() : ReadList(ListPath(folder));
        return list.find_first_not_of(" \r\n") != std::string::npos && Lists(list, FileDigest(outputPath_));
    } catch (const std::exception&) {
        return false;
    }
}

void InternetConsent::Remember() const
{
    const std::string digest = FileDigest(outputPath_);
    const std::wstring folder = ConfigurationFolder(true);
    if (folder.empty())
        throw qv::Error("Cannot find the folder for the viewer's settings.");
    const std::wstring path = ListPath(folder);
    std::string list = ReadList(path);
    if (Lists(list, digest))
        return;
    if (!list.empty() && list.back() != '\n')
        list += "\r\n";
    list += digest + "\r\n";
    Win32FileStream out(path, Win32FileStream::Mode::Create);
    out.Write(list.data(), list.size());
    out.Close();
}

} // namespace viewer
