#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

// A tiny HTTPS server on 127.0.0.1 for the version check: serves queued
// replies in order, one per connection, and records what it was asked.
// Its loop is bounded in connections and time and ends by itself.
class TlsServer {
public:
    struct Reply {
        int status = 200;
        std::vector<std::string> chunks;   // one piece: Content-Length; more: chunked, written apart
        bool hold = false;                 // wait for Release() before answering
    };
    struct Request {
        std::string requestLine;
        std::string userAgent;
        std::string host;
        std::string rawHeaders;
    };

    TlsServer(const std::string& certificatePem, const std::string& keyPem);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    uint16_t port() const { return port_; }
    void Queue(Reply reply);
    void Queue(int status, const std::string& body) { Queue(Reply{status, {body}, false}); }
    // Lets the next held reply go.
    void Release();
    // Waits (bounded) until `count` requests have come in.
    bool WaitForRequests(size_t count);
    std::vector<Request> Requests();
    // "request N" and "reply N" in the order they happened.
    std::vector<std::string> Events();

private:
    void Run();
    void Serve(int socket);

    void* context_ = nullptr;   // SSL_CTX
    int listener_ = -1;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Reply> replies_;
    std::vector<Request> requests_;
    std::vector<std::string> events_;
    size_t releases_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (taken and given back).
uint16_t UnusedLoopbackPort();

// Certificates made with the openssl command in `folder`: a test authority
// ("ca.pem"), a server certificate for www.quorvane.example signed by it
// ("server.pem", "server.key"), and a stranger authority that signed
// nothing ("stranger.pem"). Throws when the command fails.
struct TestCertificates {
    std::string authority, stranger, certificate, key;
};
TestCertificates MakeTestCertificates(const std::string& folder, const std::string& openssl);

} // namespace qvtest
