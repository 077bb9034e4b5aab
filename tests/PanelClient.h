// A small HTTP and WebSocket client for the panel's tests: every call is
// bounded in time, and a push channel can be dropped the hard way.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace korvane::test {

struct HttpReply {
    int status = 0;  // 0: no answer in time
    std::string body;
    std::map<std::string, std::string> headers;
    std::string received;  // the answer's bytes as they came
    nlohmann::json Json() const { return nlohmann::json::parse(body, nullptr, false); }
    std::string Error() const { return Json().is_object() ? Json().value("error", "") : ""; }
};

// A bare TCP connection, for bytes no well-behaved client sends: raw bytes,
// a request left half-sent, a HEAD whose answer must end at its header.
class CRawConnection {
public:
    explicit CRawConnection(std::uint16_t port) : m_socket(m_io)
    {
        boost::system::error_code error;
        m_socket.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port), error);
    }
    void Send(const std::string& bytes)
    {
        boost::system::error_code error;
        boost::asio::write(m_socket, boost::asio::buffer(bytes), error);
    }
    // Everything that arrives until the server closes (true) or the time is up (false).
    bool ReadToEnd(std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool ended = false;  // by an error: the end of the stream, or a reset
        boost::asio::async_read(m_socket, boost::asio::dynamic_buffer(m_received),
                                [&](boost::system::error_code, std::size_t) { ended = true; });
        m_io.restart();
        while (!ended && std::chrono::steady_clock::now() < deadline) m_io.run_one_until(deadline);
        if (!ended) {
            boost::system::error_code ignored;
            m_socket.cancel(ignored);
            m_io.restart();
            m_io.run_for(std::chrono::milliseconds(100));
        }
        return ended;
    }
    const std::string& Received() const { return m_received; }

private:
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::socket m_socket;
    std::string m_received;
};

// One request, its target and body sent as they are, answered and closed; a
// chunked answer is joined by Beast's parser, a HEAD's ends at its header.
inline HttpReply Http(std::uint16_t port, const std::string& method, const std::string& target,
                      const std::string& body = {}, std::map<std::string, std::string> headers = {},
                      std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    namespace http = boost::beast::http;
    headers.emplace("Host", "127.0.0.1:" + std::to_string(port));
    if (!body.empty()) headers.emplace("Content-Type", "application/json");
    std::string request = method + " " + target + " HTTP/1.1\r\nConnection: close\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    CRawConnection connection(port);
    connection.Send(request + "\r\n" + body);
    HttpReply reply;
    if (!connection.ReadToEnd(limit)) return reply;
    reply.received = connection.Received();
    http::response_parser<http::string_body> parser;
    parser.eager(true);
    parser.skip(method == "HEAD");
    parser.body_limit(boost::none);
    boost::beast::error_code error;
    parser.put(boost::asio::buffer(connection.Received()), error);
    if (!error && !parser.is_done()) parser.put_eof(error);
    if (error || !parser.is_done()) return reply;
    reply.status = static_cast<int>(parser.get().result_int());
    reply.body = parser.get().body();
    for (const auto& field : parser.get()) reply.headers[std::string(field.name_string())] = std::string(field.value());
    return reply;
}

inline HttpReply Post(std::uint16_t port, const std::string& target, const nlohmann::json& body = nullptr,
                      std::map<std::string, std::string> headers = {})
{
    return Http(port, "POST", target, body.is_null() ? "" : body.dump(), std::move(headers));
}

// One page's push channel.
class CPushClient {
public:
    // Opens ws://127.0.0.1:port/target; status() is 101 when it opened, or the
    // HTTP status of the refusal.
    CPushClient(std::uint16_t port, const std::string& target = "/api/events",
                std::map<std::string, std::string> headers = {})
        : m_ws(m_io)
    {
        namespace beast = boost::beast;
        auto& lowest = beast::get_lowest_layer(m_ws);
        lowest.expires_after(std::chrono::seconds(5));
        m_ws.set_option(beast::websocket::stream_base::decorator([headers](beast::websocket::request_type& request) {
            for (const auto& [name, value] : headers) request.set(name, value);
        }));
        lowest.async_connect(
            boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), port), [&](beast::error_code error) {
                if (error) return;
                m_ws.async_handshake(m_response, "127.0.0.1:" + std::to_string(port), target,
                                     [&](beast::error_code) { m_nStatus = static_cast<int>(m_response.result_int()); });
            });
        m_io.run();
        lowest.expires_never();
    }

    int Status() const { return m_nStatus; }

    // The next message, or nothing when none comes in time (or the channel ended).
    std::optional<nlohmann::json> Next(std::chrono::milliseconds limit = std::chrono::seconds(3))
    {
        if (!m_got && !m_bReading) {
            m_bReading = true;
            m_ws.async_read(m_buffer, [this](boost::beast::error_code error, std::size_t) {
                m_bReading = false;
                if (error) return;  // the channel ended
                m_got = boost::beast::buffers_to_string(m_buffer.data());
                m_buffer.consume(m_buffer.size());
            });
        }
        m_io.restart();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!m_got && m_bReading && std::chrono::steady_clock::now() < deadline) m_io.run_one_until(deadline);
        if (!m_got) return std::nullopt;
        const auto message = nlohmann::json::parse(*m_got, nullptr, false);
        m_got.reset();
        return message;
    }

    // Skips messages until one matches, all within the time.
    template <typename Match>
    std::optional<nlohmann::json> NextMatching(Match match, std::chrono::milliseconds limit = std::chrono::seconds(3))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::optional<nlohmann::json> message;
        do {
            message = Next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        } while (message && !match(*message));
        return message;
    }

    bool Send(const nlohmann::json& message) { return SendText(message.dump()); }
    // A binary frame carries what a text frame may not: bytes that are no UTF-8.
    bool SendText(const std::string& text, bool binary = false)
    {
        bool done = false, ok = false;
        m_ws.text(!binary);
        m_ws.async_write(boost::asio::buffer(text), [&](boost::beast::error_code error, std::size_t) {
            done = true;
            ok = !error;
        });
        m_io.restart();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!done && std::chrono::steady_clock::now() < deadline) m_io.run_one_until(deadline);
        return ok;
    }

    // The connection ends without a closing handshake, as when a browser is killed.
    void Drop()
    {
        boost::beast::error_code ignored;
        boost::beast::get_lowest_layer(m_ws).socket().close(ignored);
    }

private:
    boost::asio::io_context m_io;
    boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
    boost::beast::websocket::response_type m_response;
    boost::beast::flat_buffer m_buffer;
    int m_nStatus = 0;
    bool m_bReading = false;
    std::optional<std::string> m_got;
};

}  // namespace korvane::test
