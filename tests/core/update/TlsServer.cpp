#include "TlsServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace qvtest {

namespace {

constexpr int kMaxConnections = 64;
constexpr auto kLifetime = std::chrono::seconds(120);
constexpr auto kHoldLimit = std::chrono::seconds(20);
constexpr size_t kMaxRequestHead = 16 * 1024;

int LoopbackSocket(uint16_t& port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        throw std::runtime_error("socket failed");
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(s);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return s;
}

std::string HeaderValue(const std::string& head, const std::string& name)
{
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (head.compare(at, name.size() + 1, name + ":") == 0) {
            size_t start = head.find_first_not_of(' ', at + name.size() + 1);
            size_t end = head.find("\r\n", at);
            return head.substr(start, end - start);
        }
    }
    return {};
}

const char* StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    default: return "Status";
    }
}

} // namespace

namespace {

void RunTool(const std::string& command)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

} // namespace

TestCertificates MakeTestCertificates(const std::string& d, const std::string& openssl)
{
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    for (const char* ca : {"ca", "stranger"})
        RunTool(openssl + " req -x509" + ec + " -days 2 -keyout " + d + "/" + ca + ".key -out " + d + "/" + ca +
                ".pem -subj /CN=" + ca + "-test-authority -addext basicConstraints=critical,CA:TRUE"
                " -addext keyUsage=critical,keyCertSign");
    {
        std::ofstream ext(d + "/server.ext");
        ext << "subjectAltName=DNS:www.quorvane.example\n";
    }
    RunTool(openssl + " req" + ec + " -keyout " + d + "/server.key -out " + d + "/server.csr -subj /CN=www.quorvane.example");
    RunTool(openssl + " x509 -req -days 2 -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d +
            "/ca.key -CAcreateserial -out " + d + "/server.pem -extfile " + d + "/server.ext");
    return {d + "/ca.pem", d + "/stranger.pem", d + "/server.pem", d + "/server.key"};
}

uint16_t UnusedLoopbackPort()
{
    uint16_t port = 0;
    close(LoopbackSocket(port));
    return port;
}

TlsServer::TlsServer(const std::string& certificatePem, const std::string& keyPem)
{
    std::signal(SIGPIPE, SIG_IGN);
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, certificatePem.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, keyPem.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("the test server's certificate could not be loaded");
    }
    context_ = ctx;
    listener_ = LoopbackSocket(port_);
    listen(listener_, 8);
    thread_ = std::thread([this] { Run(); });
}

TlsServer::~TlsServer()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    thread_.join();
    close(listener_);
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

void TlsServer::Queue(Reply reply)
{
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

void TlsServer::Release()
{
    std::lock_guard lock(mutex_);
    ++releases_;
    changed_.notify_all();
}

bool TlsServer::WaitForRequests(size_t count)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return requests_.size() >= count; });
}

std::vector<TlsServer::Request> TlsServer::Requests()
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> TlsServer::Events()
{
    std::lock_guard lock(mutex_);
    return events_;
}

void TlsServer::Run()
{
    const auto deadline = std::chrono::steady_clock::now() + kLifetime;
    for (int served = 0; served < kMaxConnections && std::chrono::steady_clock::now() < deadline;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
        }
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        int s = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0)
            continue;
        timeval limit{5, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        Serve(s);
        close(s);
        ++served;
    }
}

void TlsServer::Serve(int socket)
{
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
    SSL_set_fd(ssl, socket);
    if (SSL_accept(ssl) != 1) {
        // A client that refused our certificate: nothing was asked.
        SSL_free(ssl);
        ERR_clear_error();
        return;
    }
    std::string head;
    char buffer[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead) {
        int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0)
            break;
        head.append(buffer, size_t(n));
    }
    Reply reply{500, {"no reply queued"}, false};
    size_t number = 0;
    {
        std::unique_lock lock(mutex_);
        Request request;
        request.requestLine = head.substr(0, head.find("\r\n"));
        request.userAgent = HeaderValue(head, "User-Agent");
        request.host = HeaderValue(head, "Host");
        request.rawHeaders = head;
        requests_.push_back(request);
        number = requests_.size();
        events_.push_back("request " + std::to_string(number));
        changed_.notify_all();
        if (!replies_.empty()) {
            reply = replies_.front();
            replies_.pop_front();
        }
        if (reply.hold) {
            changed_.wait_for(lock, kHoldLimit, [&] { return releases_ > 0 || stop_; });
            if (releases_ > 0)
                --releases_;
        }
        events_.push_back("reply " + std::to_string(number));
    }
    auto write = [&](const std::string& bytes) { SSL_write(ssl, bytes.data(), int(bytes.size())); };
    std::string start = "HTTP/1.1 " + std::to_string(reply.status) + " " + StatusText(reply.status) +
                        "\r\nContent-Type: text/plain\r\nConnection: close\r\n";
    if (reply.chunks.size() == 1) {
        write(start + "Content-Length: " + std::to_string(reply.chunks[0].size()) + "\r\n\r\n" + reply.chunks[0]);
    } else {
        write(start + "Transfer-Encoding: chunked\r\n\r\n");
        for (const auto& chunk : reply.chunks) {
            char size[32];
            snprintf(size, sizeof size, "%zx\r\n", chunk.size());
            write(size + chunk + "\r\n");
        }
        write("0\r\n\r\n");
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
}

} // namespace qvtest
