#pragma once

// A small HTTP/1.1 server for read-only answers, hard to tie up: a request's line and headers
// are bounded (431, or 400 for anything that does not parse, then the connection closes), a
// request must arrive within the time-out, and connections beyond the cap are closed as soon as
// they are accepted. One thread serves every connection, so answers are made one at a time.

#include "Site.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace ovractl {

struct HttpLimits {
    std::size_t headerBytes = 8192;                   // request line and headers together
    std::chrono::milliseconds requestTimeout{10000};  // for each request, and between requests
    std::size_t maxConnections = 64;
};

class HttpServer {
public:
    using Handler = std::function<HttpAnswer(const std::string& method, const std::string& target)>;

    explicit HttpServer(Handler handler, HttpLimits limits = HttpLimits());
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds "ADDRESS:PORT" ("[v6]:PORT" too; port 0 takes a free one). Empty on success, else why
    // it failed.
    std::string Listen(const std::string& address);
    // The bound address, "127.0.0.1:9469" (brackets around IPv6).
    std::string Address() const;
    // Serves on the calling thread until Stop.
    void Run();
    // From any thread, a signal handler's thread included; open connections are dropped.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace ovractl
