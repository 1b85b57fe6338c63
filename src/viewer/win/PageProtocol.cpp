#include "PageProtocol.h"

#include "Com.h"
#include "LinkOpener.h"
#include "NameSpace.h"
#include "SiteUrl.h"
#include "WinText.h"
#include "quorvane/base/Error.h"
#include "quorvane/viewercore/HandOver.h"
#include "quorvane/viewercore/MimeTypes.h"
#include "quorvane/viewercore/ReplyPages.h"

#include <algorithm>
#include <cstring>

#include <urlmon.h>

namespace viewer {

namespace {

// The protocol's class: known to this process only, never registered.
const CLSID kProtocolClass = {0x6d1f3a52, 0x8c0e, 0x4b7a, {0x9e, 0x41, 0x27, 0xd5, 0x0b, 0x8a, 0x63, 0xc4}};

std::string Quoted(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

// The address path without query and fragment, decoded, for messages.
std::string ShownPath(std::string_view address)
{
    std::string shown = qv::PercentDecode(address.substr(0, address.find_first_of("?#")));
    while (!shown.empty() && shown.front() == '/')
        shown.erase(shown.begin());
    return shown;
}

PageReply NotServed(PageReply::Kind kind, std::string reason, std::string_view shownPath)
{
    PageReply reply;
    reply.kind = kind;
    reply.reason = std::move(reason);
    reply.mimeType = "text/html";
    const std::string page = qv::NotFoundPage(shownPath);
    reply.bytes.assign(page.begin(), page.end());
    return reply;
}

struct Context {
    const OutputFile* output;
    PageProtocol::Observer observer;
};

// Writes `text` where IInternetProtocolInfo's callers want it.
HRESULT CopyOut(std::wstring_view text, LPWSTR out, DWORD capacity, DWORD* written)
{
    if (!written)
        return E_POINTER;
    if (!out || capacity <= text.size()) {
        *written = static_cast<DWORD>(text.size() + 1);
        return S_FALSE;
    }
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = L'\0';
    *written = static_cast<DWORD>(text.size());
    return S_OK;
}

// One request: the whole reply is made when the browser starts it and read
// from memory after.
class Protocol final : public AnsweredInStart, public IInternetProtocolInfo, private RefCounted {
public:
    explicit Protocol(std::shared_ptr<const Context> context) : context_(std::move(context)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        IUnknown* found = nullptr;
        if (riid == IID_IUnknown || riid == IID_IInternetProtocolRoot || riid == IID_IInternetProtocol)
            found = static_cast<IInternetProtocol*>(this);
        else if (riid == IID_IInternetProtocolInfo)
            found = static_cast<IInternetProtocolInfo*>(this);
        return AnswerQuery(found, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink* sink, IInternetBindInfo*, DWORD flags,
                                    HANDLE_PTR) override
    {
        if (!url || !sink)
            return E_POINTER;
        if (flags & PI_PARSE_URL)
            return IsSiteUrl(url) ? S_OK : S_FALSE;
        std::wstring mimeType;
        try {
            PageReply reply = ServePage(*context_->output, url);
            if (context_->observer)
                context_->observer(reply);
            bytes_ = std::move(reply.bytes);
            mimeType = Utf8ToWide(reply.mimeType);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        position_ = 0;
        // Verified: the type comes from the entry's name, as a server's
        // header would, and the browser is not to guess another one.
        sink->ReportProgress(BINDSTATUS_VERIFIEDMIMETYPEAVAILABLE, mimeType.c_str());
        const auto size = static_cast<ULONG>(bytes_.size());
        sink->ReportData(BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION | BSCF_DATAFULLYAVAILABLE, size,
                         size);
        sink->ReportResult(S_OK, 0, nullptr);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        const size_t count = std::min<size_t>(size, bytes_.size() - position_);
        if (count)
            std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        if (read)
            *read = static_cast<ULONG>(count);
        return count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        const LONGLONG from = origin == STREAM_SEEK_SET   ? 0
                              : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                                                          : static_cast<LONGLONG>(bytes_.size());
        const LONGLONG to = from + move.QuadPart;
        if (origin > STREAM_SEEK_END || to < 0 || to > static_cast<LONGLONG>(bytes_.size()))
            return E_INVALIDARG;
        position_ = static_cast<size_t>(to);
        if (newPosition)
            newPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ParseUrl(LPCWSTR url, PARSEACTION action, DWORD, LPWSTR result, DWORD capacity,
                                       DWORD* written, DWORD) override
    {
        if (!url || !IsSiteUrl(url))
            return INET_E_DEFAULT_ACTION;
        // The whole site is one security context: every page maps to the
        // same origin, and so to the one zone the browser's host gives it.
        switch (action) {
        case PARSE_SECURITY_URL:
        case PARSE_ROOTDOCUMENT: return CopyOut(std::wstring(kSiteOrigin) + L"/", result, capacity, written);
        case PARSE_SECURITY_DOMAIN: return CopyOut(kSiteOrigin, result, capacity, written);
        case PARSE_DOMAIN: return CopyOut(kSiteOrigin.substr(kSiteScheme.size() + 3), result, capacity, written);
        default: return INET_E_DEFAULT_ACTION;
        }
    }
    HRESULT STDMETHODCALLTYPE CombineUrl(LPCWSTR base, LPCWSTR relative, DWORD, LPWSTR result, DWORD capacity,
                                         DWORD* written, DWORD) override
    {
        if (!base || !relative)
            return E_POINTER;
        try {
            const auto combined = CombineSiteUrl(base, relative);
            return combined ? CopyOut(*combined, result, capacity, written) : INET_E_DEFAULT_ACTION;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE CompareUrl(LPCWSTR, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE QueryInfo(LPCWSTR url, QUERYOPTION option, DWORD, LPVOID buffer, DWORD capacity,
                                        DWORD* written, DWORD) override
    {
        if (!url || !IsSiteUrl(url))
            return INET_E_DEFAULT_ACTION;
        DWORD answer = 0;
        switch (option) {
        case QUERY_USES_NETWORK:
        case QUERY_USES_CACHE:
        case QUERY_IS_CACHED: answer = FALSE; break;
        case QUERY_IS_SAFE:
        case QUERY_IS_SECURE:
        case QUERY_CAN_NAVIGATE: answer = TRUE; break;
        default: return INET_E_DEFAULT_ACTION;
        }
        if (!buffer || capacity < sizeof(DWORD))
            return S_FALSE;
        std::memcpy(buffer, &answer, sizeof answer);
        if (written)
            *written = sizeof answer;
        return S_OK;
    }

private:
    std::shared_ptr<const Context> context_;
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
};

} // namespace

PageReply ServePage(const OutputFile& output, std::wstring_view url)
{
    const qv::SiteArchive& site = *output.Site;
    const auto path = AddressPathOfUrl(url);
    const std::string address = path ? WideToUtf8(*path) : std::string("/");
    const std::string shown = ShownPath(address);
    const std::string fileName = WideToUtf8(output.FileName());
    const qv::SiteArchive::Target target = site.Find(address);
    switch (target.kind) {
    case qv::SiteArchive::Target::Kind::Entry: {
        PageReply reply;
        if (IsRefusedProgram(site.Reader().Entry(target.index).ArchiveName())) {
            reply.kind = PageReply::Kind::Program;
            reply.reason = Quoted(target.sitePath) + " is a program or a script: it is never started from " + fileName;
            reply.mimeType = "text/html";
            const std::string page = qv::ProgramRefusedPage(target.sitePath);
            reply.bytes.assign(page.begin(), page.end());
            return reply;
        }
        try {
            reply.bytes = site.ReadAll(target.index);
        } catch (const qv::Error& e) {
            reply.kind = PageReply::Kind::Damaged;
            reply.reason = e.what();
            reply.mimeType = "text/html";
            const std::string page = qv::DamagedPage(reply.reason);
            reply.bytes.assign(page.begin(), page.end());
            return reply;
        }
        reply.kind = PageReply::Kind::Entry;
        reply.mimeType = qv::MimeTypeOf(site.Reader().Entry(target.index).ArchiveName());
        return reply;
    }
    case qv::SiteArchive::Target::Kind::Direct:
        return NotServed(PageReply::Kind::Direct,
                         Quoted(target.sitePath) + " is not packed: it runs from the folder beside " + fileName,
                         target.sitePath);
    case qv::SiteArchive::Target::Kind::Missing: break;
    }
    if (!qv::SitePathOf(address)) {
        if (shown.find('\0') != std::string::npos)
            return NotServed(PageReply::Kind::Missing, "Not a page address: " + address, address);
        return NotServed(PageReply::Kind::Reserved, Quoted(shown) + " is the viewer's own entry and is never served",
                         shown);
    }
    if (target.sitePath.empty())
        return NotServed(PageReply::Kind::Missing, fileName + " names no home page that it holds", "");
    return NotServed(PageReply::Kind::Missing, "No entry " + Quoted(target.sitePath) + " in " + fileName,
                     target.sitePath);
}

PageProtocol::PageProtocol(const OutputFile& output, Observer observer)
{
    auto context = std::make_shared<const Context>(Context{&output, std::move(observer)});
    registration_ = std::make_unique<NameSpaceRegistration>(
        ComPtr<IClassFactory>(new ProtocolFactory<Protocol, const Context>(std::move(context))), kProtocolClass,
        std::vector<std::wstring>{std::wstring(kSiteScheme)}, "the page protocol");
}

PageProtocol::~PageProtocol() = default;

} // namespace viewer
