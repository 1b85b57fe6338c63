#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// HTTPS requests of the version check. Synchronous; call from a worker.
namespace qv::http {

struct Options {
    std::string host;                       // also the name the certificate must carry
    uint16_t port = 443;
    std::string userAgent = "CheckUpdates/1.0";
    std::string caBundle;                   // PEM file; empty: the system's trust store
    // Connect to this address instead of resolving `host` (tests on the
    // loopback). The certificate is still checked against `host`, and no
    // proxy is used.
    std::string connectAddress;
    size_t maxBody = 64 * 1024;             // a longer reply is a failure
    long connectTimeoutSeconds = 30;
    long totalTimeoutSeconds = 60;          // a server that never answers must not hold us forever
};

struct Response {
    long status = 0;
    std::string body;                       // the whole body, as bytes
};

// GET of `object` (path and query, e.g. "/a/b?c=d") over TLS, HTTP/1.1, no
// redirects followed. Throws qv::Error with the reason when no reply with
// a body of at most maxBody bytes could be had; any status is returned.
Response Get(const Options& options, const std::string& object);

// The URL path of an address, without query or fragment, as it stands in
// the address; empty when the address cannot be split or its path is
// longer than 2048 characters.
std::string ExtractUrlPath(const std::string& url);

} // namespace qv::http
