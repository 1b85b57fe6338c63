#include "quorvane/platform/Http.h"

#include "quorvane/base/Error.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace qv::http {

namespace {

void InitialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw Error("The HTTPS library could not be initialised");
    });
}

struct Body {
    std::string bytes;
    size_t limit = 0;
    bool overflow = false;
};

size_t Collect(char* data, size_t size, size_t count, void* context)
{
    auto* body = static_cast<Body*>(context);
    const size_t n = size * count;
    if (n > body->limit - body->bytes.size()) {
        body->overflow = true;
        return 0;   // makes curl stop with a write error
    }
    body->bytes.append(data, n);
    return n;
}

constexpr size_t kMaxUrlPath = 2048;

} // namespace

Response Get(const Options& options, const std::string& object)
{
    InitialiseOnce();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        throw Error("The HTTPS library could not start a request");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl_slist_free_all);
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> resolve(nullptr, curl_slist_free_all);

    CURL* h = curl.get();
    const std::string port = std::to_string(options.port);
    const std::string url = "https://" + options.host + ":" + port + object;
    Body body;
    body.limit = options.maxBody;
    char reason[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_USERAGENT, options.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, options.totalTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, reason);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    // The request carries no accept types.
    headers.reset(curl_slist_append(nullptr, "Accept:"));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (!options.caBundle.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, options.caBundle.c_str());
    if (!options.connectAddress.empty()) {
        const std::string entry = options.host + ":" + port + ":" + options.connectAddress;
        resolve.reset(curl_slist_append(nullptr, entry.c_str()));
        curl_easy_setopt(h, CURLOPT_RESOLVE, resolve.get());
        curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    }

    const CURLcode rc = curl_easy_perform(h);
    if (body.overflow)
        throw Error("The reply of " + options.host + " is longer than " + std::to_string(options.maxBody) +
                    " bytes");
    if (rc != CURLE_OK)
        throw Error("Could not reach " + options.host + ": " + (reason[0] ? reason : curl_easy_strerror(rc)));
    Response response;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(body.bytes);
    return response;
}

std::string ExtractUrlPath(const std::string& url)
{
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
    if (!handle)
        return {};
    // Only full addresses split; a bare path or a name without scheme does not.
    if (curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return {};
    char* part = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_PATH, &part, 0) != CURLUE_OK || !part)
        return {};
    std::string path = part;
    curl_free(part);
    if (path.size() > kMaxUrlPath)
        return {};
    return path;
}

} // namespace qv::http
