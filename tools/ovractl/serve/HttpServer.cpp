#include "HttpServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <exception>
#include <optional>

namespace ovractl {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// What every connection shares.
struct Core {
    HttpServer::Handler handler;
    HttpLimits limits;
    std::atomic<std::size_t> connections{0};
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, Core& server) : m_stream(std::move(socket)), m_server(server) {
        ++m_server.connections;
    }
    ~Session() { --m_server.connections; }

    void Read() {
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(m_server.limits.headerBytes));
        m_parser->body_limit(m_server.limits.headerBytes);  // nothing served reads a body
        m_stream.expires_after(m_server.limits.requestTimeout);
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

private:
    void OnRead(beast::error_code ec) {
        const auto& httpErrors = http::make_error_code(http::error::end_of_stream).category();
        if (ec == http::error::header_limit) return Refuse(431, "request header too large");
        if (ec && ec != http::error::end_of_stream && ec.category() == httpErrors)
            return Refuse(400, "malformed request");
        if (ec == beast::error::timeout || ec == asio::error::operation_aborted) return;
        if (ec) return Close();  // the client said all it had to say
        const auto& request = m_parser->get();
        const bool head = request.method() == http::verb::head;
        HttpAnswer answer{500, "text/plain; charset=utf-8", "internal error\n", ""};
        try {
            answer = m_server.handler(std::string(request.method_string()),
                                      std::string(request.target()));
        } catch (const std::exception&) {
            // One answer failed (out of memory, text that JSON cannot carry); the server goes on.
        }
        Send(answer, head, request.keep_alive(), request.version());
    }

    void Refuse(int status, const char* why) {
        HttpAnswer answer{status, "text/plain; charset=utf-8", std::string(why) + "\n", ""};
        Send(answer, false, false, 11);
    }

    void Send(HttpAnswer& answer, bool head, bool keepAlive, unsigned version) {
        m_response = {};
        m_response.result(static_cast<unsigned>(answer.status));
        m_response.version(version);
        m_response.set(http::field::server, "ovractl");
        m_response.set(http::field::content_type, answer.contentType);
        m_response.set(http::field::cache_control, "no-store");
        if (!answer.allow.empty()) m_response.set(http::field::allow, answer.allow);
        m_response.keep_alive(keepAlive);
        m_response.content_length(answer.body.size());
        if (!head) m_response.body() = std::move(answer.body);
        m_stream.expires_after(m_server.limits.requestTimeout);
        http::async_write(
            m_stream, m_response,
            [self = shared_from_this(), keepAlive](beast::error_code ec, std::size_t) {
                if (!ec && keepAlive) return self->Read();
                self->Close();
            });
    }

    // Says the answer is complete, then reads and drops what the client still sends until it
    // closes too (or the time-out): closing with unread input would reset the connection and could
    // lose the answer on the way.
    void Close() {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.expires_after(m_server.limits.requestTimeout);
        Drain();
    }

    void Drain() {
        m_stream.async_read_some(asio::buffer(m_discard),
                                 [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                     if (!ec) self->Drain();
                                 });
    }

    beast::tcp_stream m_stream;
    Core& m_server;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    char m_discard[4096];
};

}  // namespace

struct HttpServer::Impl {
    void Accept();

    Core core;
    // After the core: pending handlers that hold sessions go with it.
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
};

void HttpServer::Impl::Accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            if (core.connections.load() >= core.limits.maxConnections) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                std::make_shared<Session>(std::move(socket), core)->Read();
            }
        }
        Accept();
    });
}

HttpServer::HttpServer(Handler handler, HttpLimits limits) : m_impl(new Impl) {
    m_impl->core.handler = std::move(handler);
    m_impl->core.limits = limits;
}

HttpServer::~HttpServer() = default;

std::string HttpServer::Listen(const std::string& address) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) return "no port in " + address;
    std::string host = address.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string portText = address.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(portText) > 65535)
        return "bad port in " + address;
    beast::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(host, ec);
    if (ec) return "bad address " + host;
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(std::stoul(portText)));
    tcp::acceptor& a = m_impl->acceptor;
    a.open(endpoint.protocol(), ec);
    if (!ec) a.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) a.bind(endpoint, ec);
    if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        a.close();
        return "cannot listen on " + address + ": " + ec.message();
    }
    return "";
}

std::string HttpServer::Address() const {
    beast::error_code ec;
    const tcp::endpoint endpoint = m_impl->acceptor.local_endpoint(ec);
    if (ec) return "";
    const std::string host = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
           std::to_string(endpoint.port());
}

void HttpServer::Run() {
    m_impl->Accept();
    m_impl->io.run();
}

void HttpServer::Stop() {
    m_impl->io.stop();
}

}  // namespace ovractl
