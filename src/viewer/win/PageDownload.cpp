#include "PageDownload.h"

#include "Com.h"
#include "WinText.h"
#include "quorvane/base/Error.h"

#include <cstring>

#include <urlmon.h>

namespace viewer {

namespace {

// Collects what the binding delivers and notes when it stops.
class Collector final : public IBindStatusCallback, public IHttpNegotiate, private RefCounted {
public:
    Collector(std::wstring headers, DownloadNotes* notes) : headers_(std::move(headers)), notes_(notes) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        IUnknown* found = nullptr;
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback)
            found = static_cast<IBindStatusCallback*>(this);
        else if (riid == IID_IHttpNegotiate)
            found = static_cast<IHttpNegotiate*>(this);
        return AnswerQuery(found, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG status, LPCWSTR text) override
    {
        if (!notes_ || !text)
            return S_OK;
        if (status == BINDSTATUS_REDIRECTING)
            notes_->redirects.emplace_back(text);
        else if (status == BINDSTATUS_MIMETYPEAVAILABLE || status == BINDSTATUS_VERIFIEDMIMETYPEAVAILABLE)
            notes_->type = text;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) override
    {
        result_ = result;
        stopped_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override
    {
        if (!flags || !info)
            return E_POINTER;
        *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION |
                 BINDF_NOWRITECACHE;
        const ULONG size = info->cbSize;
        ZeroMemory(info, size);
        info->cbSize = size;
        info->dwBindVerb = BINDVERB_GET;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override
    {
        if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm)
            return S_OK;
        uint8_t buffer[16384];
        for (;;) {
            ULONG read = 0;
            const HRESULT hr = medium->pstm->Read(buffer, sizeof buffer, &read);
            bytes_.insert(bytes_.end(), buffer, buffer + read);
            if (hr != S_OK || read == 0)
                return S_OK;
        }
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override
    {
        if (!additional)
            return E_POINTER;
        *additional = nullptr;
        if (headers_.empty())
            return S_OK;
        const size_t bytes = (headers_.size() + 1) * sizeof(wchar_t);
        *additional = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*additional)
            return E_OUTOFMEMORY;
        std::memcpy(*additional, headers_.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD, LPCWSTR, LPCWSTR, LPWSTR* additional) override
    {
        if (additional)
            *additional = nullptr;
        return S_OK;
    }

    bool Stopped() const { return stopped_; }
    HRESULT Result() const { return result_; }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::wstring headers_;
    DownloadNotes* notes_;
    bool stopped_ = false;
    HRESULT result_ = E_PENDING;
    std::vector<uint8_t> bytes_;
};

[[noreturn]] void Fail(const std::wstring& url, HRESULT hr)
{
    throw qv::Error("Cannot read " + WideToUtf8(url) + ". " + WideToUtf8(SystemMessage(static_cast<DWORD>(hr))));
}

} // namespace

std::vector<uint8_t> DownloadUrl(const std::wstring& url, const std::wstring& headers, DownloadNotes* notes)
{
    ComPtr<Collector> collector(new Collector(headers, notes));
    ComPtr<IMoniker> moniker;
    HRESULT hr = CreateURLMonikerEx(nullptr, url.c_str(), moniker.Out(), URL_MK_UNIFORM);
    ComPtr<IBindCtx> context;
    if (SUCCEEDED(hr))
        hr = CreateAsyncBindCtx(0, collector.Get(), nullptr, context.Out());
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr))
        hr = moniker->BindToStorage(context.Get(), nullptr, IID_IStream, stream.OutVoid());
    if (FAILED(hr))
        Fail(url, hr);
    // The binding reports through this thread's messages.
    MSG msg;
    while (!collector->Stopped() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (FAILED(collector->Result()))
        Fail(url, collector->Result());
    return std::move(collector->Bytes());
}

} // namespace viewer
