#include "PageProtocol.h"

#include "Com.h"
#include "LinkOpener.h"
#include "NameSpace.h"
#include "PageTransfer.h"
#include "RequestHeaders.h"
#include "SearchPages.h"
#include "SiteUrl.h"
#include "Win32FileStream.h"
#include "WinText.h"
#include "quorvane/base/Error.h"
#include "quorvane/viewercore/HandOver.h"
#include "quorvane/viewercore/MimeTypes.h"
#include "quorvane/viewercore/PageAddress.h"
#include "quorvane/viewercore/ReplyPages.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>

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

// `url` with "/" after its path, before any query.
std::wstring WithFinalSlash(std::wstring_view url)
{
    std::wstring slashed(url);
    slashed.insert(std::min(slashed.find_first_of(L"?#"), slashed.size()), 1, L'/');
    return slashed;
}

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

// What a part of a page (a picture, a script) gets instead of a page
// saying why there is nothing: a failure its element can tell.
HRESULT FailureOf(PageReply::Kind kind)
{
    return kind == PageReply::Kind::Damaged ? INET_E_DATA_NOT_AVAILABLE : INET_E_RESOURCE_NOT_FOUND;
}

std::wstring TakeString(LPOLESTR text)
{
    std::wstring taken = text ? text : L"";
    CoTaskMemFree(text);
    return taken;
}

// What the binding tells of a request besides its address.
struct Asked {
    bool document = false;
    bool needsFile = false;
    std::wstring headers;
    ComPtr<IHttpNegotiate> negotiate;
};

Asked AskedOf(LPCWSTR url, IInternetProtocolSink* sink, IInternetBindInfo* bindInfo)
{
    Asked asked;
    if (bindInfo) {
        DWORD flags = 0;
        BINDINFO info = {};
        info.cbSize = sizeof info;
        if (SUCCEEDED(bindInfo->GetBindInfo(&flags, &info))) {
            asked.needsFile = (flags & BINDF_NEEDFILE) != 0;
            ReleaseBindInfo(&info);
        }
        // A navigation binds to a document object, a picture or a script
        // to storage: the one string the binding offers for that. What it
        // accepts is the second witness, for a binding that does not say.
        LPOLESTR toObject = nullptr;
        ULONG fetched = 0;
        std::wstring bindToObject;
        if (SUCCEEDED(bindInfo->GetBindString(BINDSTRING_FLAG_BIND_TO_OBJECT, &toObject, 1, &fetched)) && fetched)
            bindToObject = TakeString(toObject);
        LPOLESTR types[16] = {};
        std::wstring accepted;
        fetched = 0;
        if (SUCCEEDED(bindInfo->GetBindString(BINDSTRING_ACCEPT_MIMES, types, 16, &fetched)))
            for (ULONG i = 0; i < fetched && i < 16; ++i)
                accepted += TakeString(types[i]) + L", ";
        asked.document = WantsDocument(bindToObject, accepted);
    }
    // Range requests come as headers, the way the browser adds them to any
    // binding: through the client's IHttpNegotiate.
    ComPtr<IServiceProvider> services;
    if (SUCCEEDED(sink->QueryInterface(IID_IServiceProvider, services.OutVoid())) &&
        SUCCEEDED(services->QueryService(IID_IHttpNegotiate, IID_IHttpNegotiate, asked.negotiate.OutVoid()))) {
        LPWSTR extra = nullptr;
        if (SUCCEEDED(asked.negotiate->BeginningTransaction(url, L"", 0, &extra)))
            asked.headers = TakeString(extra);
    }
    return asked;
}

// The entry's file name, for a copy of it on disk.
std::wstring LeafName(const qv::SiteArchive& site, size_t entry)
{
    const std::string name = site.Reader().Entry(entry).ArchiveName();
    return AnsiToWide(name.substr(name.find_last_of("\\/") + 1));
}

PageReply SearchReply(SearchPages& search, const qv::SearchRequest& request)
{
    PageReply reply;
    reply.mimeType = "text/html";
    std::string page;
    try {
        page = search.Answer(request);
        reply.kind = PageReply::Kind::Search;
    } catch (const qv::Error& e) {
        reply.kind = PageReply::Kind::Damaged;
        reply.reason = e.what();
        page = qv::DamagedPage(reply.reason);
    }
    reply.bytes.assign(page.begin(), page.end());
    return reply;
}

} // namespace

struct PageProtocol::Context {
    const OutputFile* output = nullptr;
    std::unique_ptr<SearchPages> search;
    Observer observer;
    TransferWorkers workers;
    // Copies of whole entries on disk, made and used on the window's thread only.
    std::wstring folder;
    std::map<size_t, std::wstring> copies;
    unsigned made = 0;

    // Ends the workers and removes the copies; a copy the engine still
    // holds open stays behind.
    void Close()
    {
        workers.Stop();
        for (const auto& copy : copies)
            DeleteFileW(copy.second.c_str());
        if (!folder.empty())
            RemoveDirectoryW(folder.c_str());
    }
    std::wstring NewCopyPath(size_t entry)
    {
        if (folder.empty())
            folder = MakeTemporaryFolder();
        return folder + L'\\' + std::to_wstring(++made) + L'-' + LeafName(*output->Site, entry);
    }
};

namespace {

using Context = PageProtocol::Context;

// One request. Small replies are made whole in Start and read from memory;
// larger entries come from a PageTransfer, its news reaching this, the
// window's thread, through the sink's Switch and our Continue.
class Protocol final : public AnsweredInStart, public IInternetProtocolInfo, private RefCounted {
public:
    explicit Protocol(std::shared_ptr<Context> context) : context_(std::move(context)) {}

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

    HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink* sink, IInternetBindInfo* bindInfo,
                                    DWORD flags, HANDLE_PTR) override
    {
        if (!url || !sink)
            return E_POINTER;
        if (flags & PI_PARSE_URL)
            return IsSiteUrl(url) ? S_OK : S_FALSE;
        try {
            Asked asked = AskedOf(url, sink, bindInfo);
            PageReply reply = ServePage(*context_->output, *context_->search, url);
            if (context_->observer)
                context_->observer(reply);
            if (reply.kind == PageReply::Kind::Redirect) {
                // The documented way for a protocol to move a request:
                // urlmon's binding tells its client (BINDSTATUS_REDIRECTING,
                // which gives the document its new address and so the base
                // of its relative links) and starts again at `location`, as
                // it does for an http redirect. Nothing of this object is
                // touched after: the binding may have let go of it already.
                sink->ReportResult(INET_E_REDIRECTING, 0, reply.location.c_str());
                return S_OK;
            }
            const bool served = reply.kind == PageReply::Kind::Entry || reply.kind == PageReply::Kind::Search;
            if (!served && !asked.document) {
                sink->ReportResult(FailureOf(reply.kind), 0, nullptr);
                return S_OK;
            }
            mimeType_ = Utf8ToWide(reply.mimeType);
            const auto range = reply.kind == PageReply::Kind::Entry ? RequestedRange(asked.headers, reply.size)
                                                                    : std::nullopt;
            if (range && asked.negotiate)
                AnswerPartially(*asked.negotiate.Get(), url, *range, reply.size);
            if (!reply.Streamed()) {
                bytes_ = std::move(reply.bytes);
                if (range)
                    bytes_ = std::vector<uint8_t>(bytes_.begin() + range->first, bytes_.begin() + range->last + 1);
                position_ = 0;
                ReportWhole(sink);
                return S_OK;
            }
            StartTransfer(sink, reply, range.value_or(ByteRange{0, reply.size - 1}), asked, !range);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            sink->ReportResult(E_FAIL, 0, nullptr);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Continue(PROTOCOLDATA*) override
    {
        if (!transfer_ || !sink_)
            return S_OK;
        const PageTransfer::State state = transfer_->Look();
        if (state.failed) {
            Failed(state.error);
            return S_OK;
        }
        if (!reported_) {
            // Judged on the first block, which is the entry's start; a block
            // shorter than kPageStartLength is judged as far as it goes.
            if (judgeType_)
                mimeType_ = Utf8ToWide(ShownType(context_->output->Site->Reader().Entry(entry_).ArchiveName(),
                                                 transfer_->Peek(qv::kPageStartLength)));
            sink_->ReportProgress(BINDSTATUS_VERIFIEDMIMETYPEAVAILABLE, mimeType_.c_str());
        }
        if (state.done && !writing_.empty()) {
            context_->copies.emplace(entry_, writing_);
            copy_ = std::exchange(writing_, {});
        }
        if (state.done && !copy_.empty())
            sink_->ReportProgress(BINDSTATUS_CACHEFILENAMEAVAILABLE, copy_.c_str());
        DWORD flags = reported_ ? BSCF_INTERMEDIATEDATANOTIFICATION : BSCF_FIRSTDATANOTIFICATION;
        if (state.done)
            flags |= BSCF_LASTDATANOTIFICATION | BSCF_DATAFULLYAVAILABLE;
        reported_ = true;
        sink_->ReportData(flags, Progress(state.received), Progress(total_));
        if (state.done)
            sink_->ReportResult(S_OK, 0, nullptr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Abort(HRESULT reason, DWORD) override
    {
        StopTransfer();
        if (sink_)
            sink_->ReportResult(reason, 0, nullptr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Terminate(DWORD) override
    {
        StopTransfer();
        sink_.Reset();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        if (read)
            *read = 0;
        if (!buffer && size)
            return E_POINTER;
        if (transfer_) {
            const size_t taken = transfer_->Take(static_cast<uint8_t*>(buffer), size);
            if (read)
                *read = static_cast<ULONG>(taken);
            return taken ? S_OK : transfer_->Drained() ? S_FALSE : E_PENDING;
        }
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
        if (transfer_)
            return E_FAIL; // a large entry is asked for by ranges instead
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
        case QUERY_IS_CACHED:
        // Pages come from a stranger's file, not over a checked connection:
        // claiming more would let them treat http content as their equal
        // instead of mixed content.
        case QUERY_IS_SAFE:
        case QUERY_IS_SECURE: answer = FALSE; break;
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
    ~Protocol() override { StopTransfer(); }

    static ULONG Progress(int64_t bytes) { return static_cast<ULONG>(std::min<int64_t>(bytes, ULONG_MAX)); }

    // A part of the entry, told the way a server tells it.
    static void AnswerPartially(IHttpNegotiate& negotiate, LPCWSTR url, const ByteRange& range, int64_t size)
    {
        const std::wstring headers = L"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                     std::to_wstring(range.first) + L"-" + std::to_wstring(range.last) + L"/" +
                                     std::to_wstring(size) + L"\r\nContent-Length: " +
                                     std::to_wstring(range.Count()) + L"\r\nAccept-Ranges: bytes\r\n\r\n";
        negotiate.OnResponse(206, headers.c_str(), url, nullptr);
    }

    void ReportWhole(IInternetProtocolSink* sink)
    {
        // Verified: the type is ours, as a server's header would be, and the
        // browser is not to guess another one. It goes without the charset
        // quorvane-view adds: urlmon finds the document's class by the bare
        // type (its own http protocol strips the parameters before it
        // reports one), and the engine takes a charset from response
        // headers only.
        sink->ReportProgress(BINDSTATUS_VERIFIEDMIMETYPEAVAILABLE, mimeType_.c_str());
        const auto size = static_cast<ULONG>(bytes_.size());
        sink->ReportData(BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION | BSCF_DATAFULLYAVAILABLE, size,
                         size);
        sink->ReportResult(S_OK, 0, nullptr);
    }

    void StartTransfer(IInternetProtocolSink* sink, const PageReply& reply, const ByteRange& range,
                       const Asked& asked, bool whole)
    {
        const qv::SiteArchive& site = *context_->output->Site;
        sink_ = ComPtr<IInternetProtocolSink>(sink);
        sink->AddRef();
        entry_ = reply.entry;
        total_ = range.Count();
        document_ = asked.document;
        judgeType_ = range.first == 0 && reply.mimeType == qv::kUnknownType;
        // Audio and video want to seek, which the engine does in a file of
        // the whole entry when it has one.
        const bool media = reply.mimeType.rfind("audio/", 0) == 0 || reply.mimeType.rfind("video/", 0) == 0;
        if (whole && (media || asked.needsFile)) {
            if (const auto known = context_->copies.find(entry_); known != context_->copies.end())
                copy_ = known->second;
            else
                writing_ = context_->NewCopyPath(entry_);
        }
        switchData_.grfFlags = PD_FORCE_SWITCH;
        switchData_.dwState = 1;
        IInternetProtocolSink* target = sink;
        PROTOCOLDATA* data = &switchData_;
        transfer_ = PageTransfer::Start({&site, entry_, range, writing_}, context_->workers,
                                        [target, data] { target->Switch(data); });
    }

    // The worker could not read the entry: a document not begun shows why,
    // anything else fails.
    void Failed(const std::string& error)
    {
        StopTransfer();
        if (reported_ || !document_) {
            sink_->ReportResult(INET_E_DATA_NOT_AVAILABLE, 0, nullptr);
            return;
        }
        const std::string page = qv::DamagedPage(error);
        bytes_.assign(page.begin(), page.end());
        position_ = 0;
        mimeType_ = L"text/html";
        ReportWhole(sink_.Get());
    }

    void StopTransfer()
    {
        if (transfer_)
            std::exchange(transfer_, nullptr)->Stop();
    }

    std::shared_ptr<Context> context_;
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    std::wstring mimeType_;
    // A transfer from a worker.
    std::shared_ptr<PageTransfer> transfer_;
    ComPtr<IInternetProtocolSink> sink_;
    PROTOCOLDATA switchData_ = {};
    size_t entry_ = 0;
    int64_t total_ = 0;
    bool document_ = false;
    bool judgeType_ = false; // by the entry's first bytes, once they are in
    bool reported_ = false;
    std::wstring writing_; // the copy the worker writes
    std::wstring copy_;    // a whole copy on disk, told once all data is in
};

} // namespace

std::string ShownType(std::string_view entryName, const std::vector<uint8_t>& head)
{
    const std::string_view start(reinterpret_cast<const char*>(head.data()), std::min(head.size(), qv::kPageStartLength));
    return std::string(qv::EntryTypeOf(entryName, start));
}

std::string ShownTypeOf(const qv::SiteArchive& site, size_t index)
{
    const qv::ArchiveEntry& entry = site.Reader().Entry(index);
    std::vector<uint8_t> head;
    if (qv::MimeTypeOf(entry.ArchiveName()) == qv::kUnknownType)
        site.Read(index, 0, std::min<int64_t>(entry.FileSize, qv::kPageStartLength),
                  [&head](const uint8_t* data, size_t size) { head.insert(head.end(), data, data + size); });
    return ShownType(entry.ArchiveName(), head);
}

qv::SiteArchive::Target FindPage(const qv::SiteArchive& site, std::string_view addressPath)
{
    qv::SiteArchive::Target target = site.Find(addressPath);
    if (target.kind == qv::SiteArchive::Target::Kind::Entry || GetACP() == kWindows1252)
        return target;
    const auto sitePath = qv::SitePathOf(addressPath);
    const std::string home = sitePath && sitePath->empty() ? site.HomeAddress() : std::string();
    const auto name = qv::EntryNameOf(home.empty() ? addressPath : std::string_view(home), Windows1252Codec());
    const int64_t index = name && !name->empty() ? site.IndexOf(*name) : -1;
    if (index >= 0) {
        target.kind = qv::SiteArchive::Target::Kind::Entry;
        target.index = static_cast<size_t>(index);
    }
    return target;
}

PageReply ServePage(const OutputFile& output, SearchPages& search, std::wstring_view url)
{
    const qv::SiteArchive& site = *output.Site;
    const auto path = AddressPathOfUrl(url);
    if (!path)
        return NotServed(PageReply::Kind::Missing, "Not a page address: " + WideToUtf8(url), WideToUtf8(url));
    const std::string address = WideToUtf8(*path);
    if (const auto request = qv::SearchRequestOf(address))
        return SearchReply(search, *request);
    const std::string shown = ShownPath(address);
    const std::string fileName = WideToUtf8(output.FileName());
    const qv::SiteArchive::Target target = FindPage(site, address);
    switch (target.kind) {
    case qv::SiteArchive::Target::Kind::Entry: {
        PageReply reply;
        if (target.slashMissing) {
            reply.kind = PageReply::Kind::Redirect;
            reply.location = WithFinalSlash(url);
            return reply;
        }
        const qv::ArchiveEntry& entry = site.Reader().Entry(target.index);
        if (IsRefusedProgram(entry.ArchiveName())) {
            reply.kind = PageReply::Kind::Program;
            reply.reason = Quoted(target.sitePath) + " is a program or a script: it is never started from " + fileName;
            reply.mimeType = "text/html";
            const std::string page = qv::ProgramRefusedPage(target.sitePath);
            reply.bytes.assign(page.begin(), page.end());
            return reply;
        }
        reply.kind = PageReply::Kind::Entry;
        reply.entry = target.index;
        reply.size = entry.FileSize;
        reply.mimeType = qv::MimeTypeOf(entry.ArchiveName());
        if (reply.Streamed())
            return reply;
        try {
            reply.bytes = site.ReadAll(target.index);
            reply.mimeType = ShownType(entry.ArchiveName(), reply.bytes);
        } catch (const qv::Error& e) {
            reply.kind = PageReply::Kind::Damaged;
            reply.reason = e.what();
            reply.mimeType = "text/html";
            const std::string page = qv::DamagedPage(reply.reason);
            reply.bytes.assign(page.begin(), page.end());
        }
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

PageProtocol::PageProtocol(const OutputFile& output, Observer observer) : context_(std::make_shared<Context>())
{
    context_->output = &output;
    context_->search = std::make_unique<SearchPages>(*output.Site);
    context_->observer = std::move(observer);
    registration_ = std::make_unique<NameSpaceRegistration>(
        ComPtr<IClassFactory>(new ProtocolFactory<Protocol, Context>(context_)), kProtocolClass,
        std::vector<std::wstring>{std::wstring(kSiteScheme)}, "the page protocol");
}

PageProtocol::~PageProtocol()
{
    registration_.reset();
    // Requests the browser still holds keep the context; their workers end now.
    context_->Close();
}

} // namespace viewer
