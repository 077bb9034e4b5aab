#include "Server.h"

#include "Operations.h"
#include "PanelDiscovery.h"
#include "Room.h"
#include "WebAssets.h"

#include "../CameraFile.h"
#include "../CommandLine.h"

#include "platform/Files.h"
#include "platform/Process.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace korvane::tool::panel {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace asio = boost::asio;
using asio::ip::tcp;
using nlohmann::json;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

namespace {

constexpr std::size_t kBodyLimit = 16 * 1024;
constexpr std::size_t kQueueLimit = 1000;  // messages waiting for a slow page before it is dropped
// Connections at once; beyond it the oldest one still waiting for its request goes.
constexpr std::size_t kConnectionLimit = 256;
// A request's header (and body) must arrive within this, so that half-sent
// requests cannot hold descriptors for long.
constexpr std::chrono::seconds kRequestDeadline{5};

// Texts from outside (a camera's name in the path, a message, a body) reach
// the JSON; bytes that are no UTF-8 become U+FFFD instead of an exception.
std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

bool SameText(const std::string& given, const std::string& token)
{
    if (given.size() != token.size() || token.empty()) return false;
    // Every byte is compared, so the time taken does not tell where a guess went wrong.
    unsigned char differ = 0;
    for (std::size_t i = 0; i < token.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ token[i]);
    return differ == 0;
}

std::string PercentDecode(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex = text.substr(i + 1, 2);
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        // '+' stays '+': a token may hold one (base64), and no value here is a form's text.
        out += text[i];
    }
    return out;
}

struct Target {
    std::string path;
    std::map<std::string, std::string> query;
};

Target SplitTarget(beast::string_view target)
{
    Target out;
    const std::string text(target);
    const std::size_t question = text.find('?');
    out.path = text.substr(0, question);
    if (question == std::string::npos) return out;
    std::size_t at = question + 1;
    while (at <= text.size()) {
        std::size_t amp = text.find('&', at);
        if (amp == std::string::npos) amp = text.size();
        const std::string pair = text.substr(at, amp - at);
        const std::size_t equals = pair.find('=');
        if (!pair.empty())
            out.query[PercentDecode(pair.substr(0, equals))] =
                equals == std::string::npos ? "" : PercentDecode(pair.substr(equals + 1));
        at = amp + 1;
    }
    return out;
}

// "host:port" or "[v6]:port" -> the host part.
std::string HostName(const std::string& host)
{
    if (!host.empty() && host[0] == '[') return host.substr(0, host.find(']') + 1);
    return host.substr(0, host.find(':'));
}

Response Answer(const Request& request, http::status status, const json& body)
{
    Response response{status, request.version()};
    response.set(http::field::content_type, "application/json");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.body() = Dump(body);
    response.keep_alive(request.keep_alive());
    response.prepare_payload();
    return response;
}

Response Failure(const Request& request, http::status status, const std::string& message)
{
    Response response = Answer(request, status, {{"error", message}});
    if (status == http::status::unauthorized) response.set(http::field::www_authenticate, "Bearer");
    return response;
}

const std::string& Page()
{
    // The style and script go inline so that the page is one request: a token in
    // its address then covers everything it needs.
    static const std::string page = [] {
        std::string html = kPanelHtml;
        const auto put = [&](const std::string& mark, const std::string& text) {
            const std::size_t at = html.find(mark);
            if (at != std::string::npos) html.replace(at, mark.size(), text);
        };
        put("/*PANEL_CSS*/", kPanelCss);
        put("/*PANEL_JS*/", kPanelJs);
        return html;
    }();
    return page;
}

// "Bearer TOKEN", the scheme in any case (RFC 7235), -> TOKEN.
std::optional<std::string> BearerToken(const std::string& header)
{
    const std::string scheme = "bearer";
    if (header.size() <= scheme.size() || header[scheme.size()] != ' ') return std::nullopt;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i]) return std::nullopt;
    const std::size_t start = header.find_first_not_of(' ', scheme.size());
    if (start == std::string::npos) return std::nullopt;
    return header.substr(start);
}

// Why a search found nothing, in the terms of what to try next.
std::string DiscoverHint(const std::string& interfaceIp, int timeoutMs, const std::string& error)
{
    const auto interfaces = platform::Ipv4Interfaces();
    if (!interfaceIp.empty() && std::none_of(interfaces.begin(), interfaces.end(),
                                             [&](const platform::Ipv4Interface& each) { return each.address == interfaceIp; }))
        return "wrong interface: no interface of this machine has the address " + interfaceIp +
               " (GET /api/interfaces lists them)";
    if (!error.empty())
        return "no multicast route" + std::string(interfaceIp.empty() ? "" : " from " + interfaceIp) +
               ": the search could not be sent (" + error + "); pick the interface that reaches the cameras";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", timeoutMs / 1000.0);
    return std::string("nothing answered within ") + seconds + " s" +
           (interfaceIp.empty() ? " (the system's default interface)" : " from " + interfaceIp) +
           ": are the cameras on this network and switched on, or is another interface the one that reaches them?";
}

}  // namespace

bool IsLoopback(const std::string& address)
{
    boost::system::error_code error;
    const auto parsed = asio::ip::make_address(address, error);
    return !error && parsed.is_loopback();
}

struct CPanelServer::Impl {
    explicit Impl(const ServerOptions& options) : options(options) {}

    asio::io_context io;
    tcp::acceptor acceptor{io};
    ServerOptions options;
    CRoom* room = nullptr;
    std::thread thread;
    std::vector<std::weak_ptr<struct PushSession>> sessions;  // the io thread only
    std::list<std::weak_ptr<struct HttpSession>> connections;  // the io thread only, oldest first
    asio::steady_timer pause{io};
    std::uint64_t nextPage = 0;
    CPanelDiscovery discovery;  // after io, so it ends first: its answer is posted there

    void Accept();
    void RunIo();
    bool MakeRoom();
    // Handle, with every failure an answer: no request can end the server's thread.
    Response Respond(const Request& request);
    bool Authorized(const Request& request, const Target& target) const;
    std::optional<Response> Refuse(const Request& request, const Target& target) const;
    Response Handle(const Request& request);
    Response Post(const Request& request, const std::string& name, const std::string& action);
    // A found camera joins: written to the camera file and opened; its state.
    json AddCamera(const json& body);
    // The operation's fields; RoomError when the body is none.
    static json Body(const Request& request);
    // GET or POST /api/discover, answered once the search is over (false:
    // answer Respond's way instead).
    bool Discover(const Request& request, const Target& target, const std::shared_ptr<struct HttpSession>& session);
    // POST /api/cameras/NAME/OP, answered once the camera made the command
    // (false: answer Respond's way instead).
    bool Command(const Request& request, const Target& target, const std::shared_ptr<struct HttpSession>& session);
    void Deliver(const std::shared_ptr<const json>& message);
};

namespace {

// One message from a page, run as the operation it names; the error to
// answer it with, if any. Nothing it holds escapes as an exception.
// A failure that comes later (the camera's) goes to later, when given.
std::optional<std::string> HandleMessage(CRoom& room, const std::string& holder, const std::string& text,
                                         std::function<void(std::string)> later = {})
{
    std::string camera;  // named in the error once known: the page shows it on that camera
    const auto error = [&camera](const std::string& message) {
        json answer = {{"type", "error"}, {"message", message}};
        if (!camera.empty()) answer["camera"] = camera;
        return Dump(answer);
    };
    try {
        const json message = json::parse(text);
        if (!message.is_object()) return error("a message is a JSON object, e.g. {\"op\": \"hold\", ...}");
        camera = message.value("camera", "");
        RunOperation(room, Caller{holder, kPageLease}, message.value("op", ""), camera, message,
                     [later = std::move(later), camera](int status, const json& answer) {
                         if (status / 100 != 2 && later)
                             later(Dump({{"type", "error"}, {"camera", camera}, {"message", answer.value("error", "")}}));
                     });
    } catch (const RoomError& failure) {
        return error(failure.what());
    } catch (const json::exception& failure) {
        return error(std::string("not JSON, or a field of the wrong type: ") + failure.what());
    } catch (const std::exception& failure) {
        return error(std::string("not handled: ") + failure.what());
    }
    return std::nullopt;
}

}  // namespace

// One open page's push channel: every room message out; its held moves in.
struct PushSession : std::enable_shared_from_this<PushSession> {
    PushSession(tcp::socket socket, CPanelServer::Impl& server, std::string holder)
        : ws(std::move(socket)), server(&server), holder(std::move(holder))
    {
    }

    void Accept(Request request)
    {
        websocket::stream_base::timeout timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
        // Pings find a page whose network went away; its moves stop by their lease long before.
        timeouts.idle_timeout = std::chrono::seconds(10);
        timeouts.keep_alive_pings = true;
        ws.set_option(timeouts);
        ws.read_message_max(kBodyLimit);
        ws.async_accept(request, [self = shared_from_this()](beast::error_code error) {
            if (error) return;
            self->server->sessions.push_back(self);
            self->watching = true;
            self->server->room->Watch(1);
            json hello = self->server->room->Snapshot(self->holder);
            hello["type"] = "hello";
            hello["holder"] = self->holder;
            hello["lease_ms"] = kPageLease.count();
            self->Send(std::make_shared<const std::string>(Dump(hello)));
            self->Read();
        });
    }

    void Read()
    {
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) {
                self->Gone();
                return;
            }
            self->Handle(beast::buffers_to_string(self->buffer.data()));
            self->buffer.consume(self->buffer.size());
            self->Read();
        });
    }

    void Handle(const std::string& text)
    {
        // The camera's failure comes later, on its thread: the page hears of it here.
        auto later = [weak = std::weak_ptr<PushSession>(shared_from_this()), &io = server->io](std::string text) {
            asio::post(io, [weak, text = std::make_shared<const std::string>(std::move(text))] {
                if (const auto self = weak.lock()) self->Send(text);
            });
        };
        if (auto answer = HandleMessage(*server->room, holder, text, std::move(later)))
            Send(std::make_shared<const std::string>(std::move(*answer)));
    }

    void Send(std::shared_ptr<const std::string> text)
    {
        if (closed) return;
        if (queue.size() >= kQueueLimit) {
            // A page this far behind has gone away in all but name.
            closed = true;
            beast::get_lowest_layer(ws).socket().close();
            return;
        }
        queue.push_back(std::move(text));
        if (queue.size() == 1) Write();
    }

    void Write()
    {
        ws.text(true);
        ws.async_write(asio::buffer(*queue.front()), [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) return;  // the read side sees the end and releases the moves
            self->queue.pop_front();
            if (!self->queue.empty()) self->Write();
        });
    }

    // The page went away (closed, lost, or dropped): nothing it holds moves on.
    void Gone()
    {
        closed = true;
        server->room->ReleaseAll(holder, "the page that held it went away", true);
        if (watching) server->room->Watch(-1);
        watching = false;
    }

    websocket::stream<beast::tcp_stream> ws;
    CPanelServer::Impl* server;  // outlives the session's handlers: it joins their thread
    std::string holder;
    beast::flat_buffer buffer;
    std::deque<std::shared_ptr<const std::string>> queue;
    bool closed = false;
    bool watching = false;  // counted among the room's watchers
};

struct HttpSession : std::enable_shared_from_this<HttpSession> {
    HttpSession(tcp::socket socket, CPanelServer::Impl& server) : stream(std::move(socket)), server(&server)
    {
    }

    void Read()
    {
        parser.emplace();
        parser->body_limit(kBodyLimit);
        parser->header_limit(8 * 1024);
        stream.expires_after(kRequestDeadline);
        waiting = true;
        http::async_read(stream, buffer, *parser, [self = shared_from_this()](beast::error_code error, std::size_t) {
            self->OnRead(error);
        });
    }

    // Gives the descriptor back for a newer client.
    void Close()
    {
        beast::error_code ignored;
        stream.socket().close(ignored);
    }

    void OnRead(beast::error_code error)
    {
        waiting = false;
        if (error == http::error::body_limit) {
            Request head;
            head.version(11);
            head.keep_alive(false);
            return Write(Failure(head, http::status::payload_too_large, "the body is larger than 16 KiB"));
        }
        if (error) return;  // closed, timed out, or not HTTP: nothing to answer
        Request request = parser->release();
        const Target target = SplitTarget(request.target());
        if (websocket::is_upgrade(request)) {
            if (auto refusal = server->Refuse(request, target)) return Write(std::move(*refusal));
            if (target.path != "/api/events")
                return Write(Failure(request, http::status::not_found, "the push channel is /api/events"));
            stream.expires_never();
            const std::string holder = "page-" + std::to_string(++server->nextPage);
            std::make_shared<PushSession>(stream.release_socket(), *server, holder)->Accept(std::move(request));
            return;
        }
        if (server->Discover(request, target, shared_from_this())) return;
        if (server->Command(request, target, shared_from_this())) return;
        Write(server->Respond(request));
    }

    void Write(Response answer)
    {
        response = std::move(answer);
        http::async_write(stream, response, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error) return;
            if (!self->response.keep_alive()) {
                beast::error_code ignored;
                self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
                return;
            }
            self->Read();
        });
    }

    beast::tcp_stream stream;
    CPanelServer::Impl* server;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    Response response;
    bool waiting = false;  // for a request (idle), not answering one
};

void CPanelServer::Impl::Accept()
{
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (error) {
            // Out of descriptors (or another passing failure): free one if a
            // connection idles and try again, else after a pause instead of spinning.
            if (MakeRoom()) return Accept();
            pause.expires_after(std::chrono::milliseconds(50));
            pause.async_wait([this](beast::error_code wait) {
                if (!wait) Accept();
            });
            return;
        }
        connections.remove_if([](const std::weak_ptr<HttpSession>& weak) { return weak.expired(); });
        if (connections.size() >= kConnectionLimit && !MakeRoom()) {
            beast::error_code ignored;
            socket.close(ignored);  // every connection is busy: this one is refused
        } else {
            auto session = std::make_shared<HttpSession>(std::move(socket), *this);
            connections.push_back(session);
            session->Read();
        }
        Accept();
    });
}

bool CPanelServer::Impl::MakeRoom()
{
    for (auto it = connections.begin(); it != connections.end(); ++it) {
        const auto session = it->lock();
        if (!session || !session->waiting) continue;
        session->Close();
        connections.erase(it);
        return true;
    }
    return false;
}

void CPanelServer::Impl::RunIo()
{
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::exception&) {
            // A handler failed past every answer: its connection is lost, the server goes on.
        }
    }
}

Response CPanelServer::Impl::Respond(const Request& request)
{
    Response response;
    try {
        response = Handle(request);
    } catch (const RoomError& error) {
        response = Failure(request, static_cast<http::status>(error.status), error.what());
    } catch (const std::exception& error) {
        response = Failure(request, http::status::internal_server_error, std::string("not handled: ") + error.what());
    }
    if (request.method() == http::verb::head) response.body().clear();  // its length stays in the header
    return response;
}

bool CPanelServer::Impl::Authorized(const Request& request, const Target& target) const
{
    if (options.token.empty()) return true;
    const auto bearer = BearerToken(std::string(request[http::field::authorization]));
    if (bearer && SameText(*bearer, options.token)) return true;
    const auto query = target.query.find("token");
    return query != target.query.end() && SameText(query->second, options.token);
}

std::optional<Response> CPanelServer::Impl::Refuse(const Request& request, const Target& target) const
{
    if (!Authorized(request, target))
        return Failure(request, http::status::unauthorized,
                       "this panel wants its token: Authorization: Bearer TOKEN, or ?token=TOKEN");
    const std::string host(request[http::field::host]);
    // Without a token only loopback names are served, so that a web site whose
    // name points at 127.0.0.1 cannot drive the room from a visitor's browser.
    if (options.token.empty()) {
        const std::string name = HostName(host);
        if (name != "127.0.0.1" && name != "localhost" && name != "[::1]")
            return Failure(request, http::status::forbidden, "this panel answers to 127.0.0.1 only");
    }
    // Another site's page may not use the push channel or the API (the browser
    // says where a request comes from).
    const std::string origin(request[http::field::origin]);
    if (!origin.empty() && origin != "http://" + host)
        return Failure(request, http::status::forbidden, "requests from another site's page are refused");
    // A search holds the network for seconds and one runs at a time: without
    // a token only the panel's own page (whose POST says its origin) starts
    // one, not any page or program on this machine that keeps it busy.
    if (options.token.empty() && target.path == "/api/discover" && origin.empty())
        return Failure(request, http::status::forbidden,
                       "a search is started from the panel's own page (its request says its Origin), "
                       "or with the panel's token");
    return std::nullopt;
}

Response CPanelServer::Impl::Handle(const Request& request)
{
    const Target target = SplitTarget(request.target());
    if (auto refusal = Refuse(request, target)) return std::move(*refusal);
    const bool get = request.method() == http::verb::get || request.method() == http::verb::head;
    if (target.path == "/" || target.path == "/index.html") {
        if (!get) return Failure(request, http::status::method_not_allowed, "the page is read with GET");
        Response response{http::status::ok, request.version()};
        response.set(http::field::content_type, "text/html; charset=utf-8");
        response.set(http::field::cache_control, "no-store");
        response.set("Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                     "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        response.set("X-Content-Type-Options", "nosniff");
        response.body() = Page();
        response.keep_alive(request.keep_alive());
        response.prepare_payload();
        return response;
    }
    if (target.path == "/api/cameras" && request.method() == http::verb::post)
        return Answer(request, http::status::created, {{"camera", AddCamera(Body(request))}});
    if (target.path == "/api/cameras" || target.path == "/api/feed") {
        if (!get) return Failure(request, http::status::method_not_allowed, target.path + " is read with GET or POST");
        return Answer(request, http::status::ok, target.path == "/api/cameras" ? room->Cameras("api") : room->Feed());
    }
    if (target.path == "/api/events")
        return Failure(request, http::status::bad_request, "/api/events is a WebSocket: open it as one");
    if (target.path == "/api/interfaces") {
        if (!get) return Failure(request, http::status::method_not_allowed, "/api/interfaces is read with GET");
        json list = json::array();
        for (const platform::Ipv4Interface& each : platform::Ipv4Interfaces())
            list.push_back({{"name", each.name}, {"address", each.address}});
        return Answer(request, http::status::ok, {{"interfaces", list}});
    }
    if (target.path == "/api/discover") {
        if (request.method() != http::verb::get && request.method() != http::verb::post)
            return Failure(request, http::status::method_not_allowed, "a search is started with GET or POST");
        // Reached only without a connection to answer on later (the fuzz target).
        return Failure(request, http::status::service_unavailable, "a search answers over a connection only");
    }
    const std::string prefix = "/api/cameras/";
    if (target.path.rfind(prefix, 0) == 0) {
        const std::string rest = target.path.substr(prefix.size());
        const std::size_t slash = rest.find('/');
        const std::string name = PercentDecode(rest.substr(0, slash));
        if (!room->Has(name)) return Failure(request, http::status::not_found, "no camera named '" + name + "'");
        if (slash == std::string::npos) {
            if (!get) return Failure(request, http::status::method_not_allowed, "a camera is read with GET");
            const json cameras = room->Cameras("api");
            for (const json& camera : cameras["cameras"])
                if (camera["name"] == name) return Answer(request, http::status::ok, camera);
        }
        const std::string action = rest.substr(slash + 1);
        if (request.method() != http::verb::post)
            return Failure(request, http::status::method_not_allowed, "camera commands are sent with POST");
        try {
            return Post(request, name, action);
        } catch (const RoomError& error) {
            return Failure(request, static_cast<http::status>(error.status), error.what());
        }
    }
    return Failure(request, http::status::not_found, "nothing at " + target.path);
}

json CPanelServer::Impl::Body(const Request& request)
{
    json body = json::object();
    if (!request.body().empty()) {
        const std::string type(request[http::field::content_type]);
        // A plain form from another site cannot send this type without asking first.
        if (type.rfind("application/json", 0) != 0)
            throw RoomError(415, "send the body as Content-Type: application/json");
        try {
            body = json::parse(request.body());
        } catch (const json::exception& error) {
            throw RoomError(400, std::string("the body is not JSON: ") + error.what());
        }
        if (!body.is_object()) throw RoomError(400, "the body is a JSON object, e.g. {\"direction\": \"left\"}");
    }
    return body;
}

json CPanelServer::Impl::AddCamera(const json& body)
{
    if (options.cameraFile.empty()) throw RoomError(409, "this panel has no camera file to add a camera to");
    const auto text = [&](const char* field, bool needed) -> std::string {
        if (!body.contains(field)) {
            if (needed) throw RoomError(400, std::string("wants \"") + field + "\"");
            return "";
        }
        if (!body[field].is_string() || body[field].get<std::string>().empty())
            throw RoomError(400, std::string("\"") + field + "\" wants some text");
        return body[field].get<std::string>();
    };
    for (const auto& item : body.items())
        if (item.key() != "name" && item.key() != "mode" && item.key() != "address" && item.key() != "user" &&
            item.key() != "password" && item.key() != "password_file" && item.key() != "tls_fingerprint")
            throw RoomError(400, "unknown field '" + item.key() +
                                     "' (name, mode, address, user, password or password_file, tls_fingerprint)");
    if (text("mode", true) != "onvif") throw RoomError(400, "\"mode\": only \"onvif\" cameras join from the page");
    // The camera file's entry: "host:port" splits, a URL stays the host as discover writes it.
    json entry = {{"name", text("name", true)}, {"mode", "onvif"}};
    const std::string address = text("address", true);
    const std::size_t colon = address.rfind(':');
    const bool hostPort = address.find("://") == std::string::npos && colon != std::string::npos &&
                          address.find(':') == colon && colon + 1 < address.size() && colon + 6 >= address.size() &&
                          std::all_of(address.begin() + colon + 1, address.end(), [](unsigned char c) { return std::isdigit(c); });
    entry["host"] = hostPort ? address.substr(0, colon) : address;
    if (hostPort) entry["port"] = std::stoul(address.substr(colon + 1));
    for (const char* field : {"user", "password", "password_file", "tls_fingerprint"})
        if (const std::string value = text(field, false); !value.empty()) entry[field] = value;
    if (room->Has(entry["name"])) throw RoomError(409, "a camera named '" + entry["name"].get<std::string>() + "' is already in the room");

    const std::string& path = options.cameraFile;
    std::vector<NamedCamera> added;
    try {
        // What the file says of a camera, it says of this one (a password file beside it, the fingerprint's form).
        added = ParseCameraFile(json{{"cameras", json::array({entry})}}.dump(), path);
    } catch (const UsageError& error) {
        throw RoomError(400, error.what());
    }
    {
        // Read, add and write as one step, as discover --write does: another writer waits.
        const platform::CFileLock lock(path);
        if (!lock.Locked()) throw RoomError(500, "cannot lock " + path + ": " + lock.Error());
        json document = {{"cameras", json::array()}};
        if (std::ifstream in(path, std::ios::binary); in) {
            std::ostringstream read;
            read << in.rdbuf();
            try {
                for (const NamedCamera& camera : ParseCameraFile(read.str(), path))
                    if (camera.name == entry["name"])
                        throw RoomError(409, "a camera named '" + camera.name + "' is already in " + path);
                document = json::parse(read.str());
            } catch (const UsageError& error) {
                throw RoomError(500, std::string("the camera file is not as it should be: ") + error.what());
            }
        }
        document["cameras"].push_back(entry);
        const std::string written = document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
        std::string error;
        if (!platform::WriteWholeFile(path, written, error))
            throw RoomError(500, "cannot write " + path + ": " + error + " (the file is as it was)");
        if (entry.contains("password")) platform::RestrictToOwner(path);  // a password is its owner's to read
    }
    return room->Add(std::move(added.front()));
}

// Reached only without a connection to answer on later (the fuzz target): a
// command the camera has not made yet is answered 202.
Response CPanelServer::Impl::Post(const Request& request, const std::string& name, const std::string& action)
{
    const auto answered = std::make_shared<std::optional<std::pair<int, json>>>();
    const auto mutex = std::make_shared<std::mutex>();
    RunOperation(*room, Caller{"api", kApiLease, true}, action, name, Body(request),
                 [answered, mutex](int status, const json& answer) {
                     std::lock_guard<std::mutex> lock(*mutex);
                     answered->emplace(status, answer);
                 });
    std::lock_guard<std::mutex> lock(*mutex);
    if (!*answered) return Answer(request, http::status::accepted, {{"ok", true}, {"pending", true}});
    return Answer(request, static_cast<http::status>((*answered)->first), (*answered)->second);
}

bool CPanelServer::Impl::Command(const Request& request, const Target& target,
                                 const std::shared_ptr<HttpSession>& session)
{
    const std::string prefix = "/api/cameras/";
    if (request.method() != http::verb::post || target.path.rfind(prefix, 0) != 0 || Refuse(request, target))
        return false;
    const std::string rest = target.path.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos || !room->Has(PercentDecode(rest.substr(0, slash)))) return false;
    const Request head = [&] {
        Request copy{request.method(), request.target(), request.version()};
        copy.keep_alive(request.keep_alive());
        return copy;
    }();
    try {
        // The answer waits for the camera (an ONVIF request may take seconds), past the request deadline.
        session->stream.expires_never();
        RunOperation(*room, Caller{"api", kApiLease, true}, rest.substr(slash + 1), PercentDecode(rest.substr(0, slash)),
                     Body(request), [this, session, head](int status, const json& answer) {
                         asio::post(io, [session, head, status, answer] {
                             session->stream.expires_after(kRequestDeadline);
                             session->Write(Answer(head, static_cast<http::status>(status), answer));
                         });
                     });
    } catch (const RoomError& error) {
        session->stream.expires_after(kRequestDeadline);
        session->Write(Failure(request, static_cast<http::status>(error.status), error.what()));
    } catch (const std::exception& error) {
        session->stream.expires_after(kRequestDeadline);
        session->Write(Failure(request, http::status::internal_server_error, std::string("not handled: ") + error.what()));
    }
    return true;
}

bool CPanelServer::Impl::Discover(const Request& request, const Target& target,
                                  const std::shared_ptr<HttpSession>& session)
{
    if (target.path != "/api/discover" || Refuse(request, target)) return false;
    if (request.method() != http::verb::get && request.method() != http::verb::post) return false;
    const auto answer = [&](Response response) {
        session->Write(std::move(response));
        return true;
    };
    int timeout = 3000;
    if (const auto given = target.query.find("timeout_ms"); given != target.query.end()) {
        const std::string& text = given->second;
        const bool digits = !text.empty() && text.size() < 6 &&
                            std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
        timeout = digits ? std::stoi(text) : 0;
        if (timeout < 100 || timeout > 10000)
            return answer(Failure(request, http::status::bad_request, "timeout_ms is a number from 100 to 10000"));
    }
    std::string interfaceIp;
    if (const auto given = target.query.find("interface"); given != target.query.end()) {
        boost::system::error_code error;
        asio::ip::make_address_v4(given->second, error);
        if (error || given->second.find('\0') != std::string::npos)
            return answer(Failure(request, http::status::bad_request, "interface is an IPv4 address of this machine"));
        interfaceIp = given->second;
    }
    // The answer waits for the search, past the request deadline.
    session->stream.expires_never();
    const Request head = [&] {
        Request copy{request.method(), request.target(), request.version()};
        copy.keep_alive(request.keep_alive());
        return copy;
    }();
    const bool started = discovery.Start(timeout, interfaceIp, [this, session, head, timeout, interfaceIp](json found) {
        if (found["cameras"].empty()) found["hint"] = DiscoverHint(interfaceIp, timeout, found.value("error", ""));
        asio::post(io, [session, head, found = std::move(found)] {
            session->stream.expires_after(kRequestDeadline);
            session->Write(Answer(head, http::status::ok, found));
        });
    });
    if (!started) return answer(Failure(request, http::status::conflict, "a search for cameras is already running"));
    return true;
}

void CPanelServer::Impl::Deliver(const std::shared_ptr<const json>& message)
{
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [](const std::weak_ptr<PushSession>& weak) {
                                      const auto session = weak.lock();
                                      return !session || session->closed;
                                  }),
                   sessions.end());
    // A message for one page ("to") goes to it alone; a camera's state tells
    // each page whether it is the one holding the camera.
    const std::string to = message->value("to", "");
    const std::string holder = message->value("type", "") == "state" ? message->value("holder", "") : "";
    std::shared_ptr<const std::string> texts[2];
    const auto text = [&](bool yours) {
        if (!texts[yours]) {
            json copy = *message;
            copy.erase("to");
            if (copy.contains("held_by_you")) copy["held_by_you"] = yours;
            texts[yours] = std::make_shared<const std::string>(Dump(copy));
        }
        return texts[yours];
    };
    for (const auto& weak : sessions) {
        const auto session = weak.lock();
        if (to.empty() || session->holder == to) session->Send(text(!holder.empty() && session->holder == holder));
    }
}

CPanelServer::CPanelServer(const ServerOptions& options) : m_pImpl(std::make_unique<Impl>(options))
{
    boost::system::error_code error;
    const auto address = asio::ip::make_address(options.address, error);
    if (error) throw std::runtime_error("'" + options.address + "' is no IP address");
    const tcp::endpoint endpoint(address, options.port);
    tcp::acceptor& acceptor = m_pImpl->acceptor;
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        throw std::runtime_error("cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " +
                                 error.message());
}

CPanelServer::~CPanelServer() { Stop(); }

std::uint16_t CPanelServer::Port() const { return m_pImpl->acceptor.local_endpoint().port(); }

void CPanelServer::Start(CRoom& room)
{
    m_pImpl->room = &room;
    m_pImpl->Accept();
    m_pImpl->thread = std::thread([impl = m_pImpl.get()] { impl->RunIo(); });
}

void CPanelServer::Stop()
{
    if (!m_pImpl->thread.joinable()) return;
    m_pImpl->io.stop();
    m_pImpl->thread.join();
}

std::string CPanelServer::AnswerBytes(const std::string& bytes)
{
    http::request_parser<http::string_body> parser;
    parser.body_limit(kBodyLimit);
    parser.header_limit(8 * 1024);
    parser.eager(true);
    beast::error_code error;
    std::size_t used = 0;
    while (!error && !parser.is_done() && used < bytes.size()) {
        const std::size_t taken = parser.put(asio::buffer(bytes.data() + used, bytes.size() - used), error);
        if (error == http::error::need_more) error = {};
        if (taken == 0) break;
        used += taken;
    }
    if (!error && !parser.is_done()) parser.put_eof(error);
    if (error || !parser.is_done()) return {};
    const Request request = parser.release();
    if (websocket::is_upgrade(request)) return {};
    std::ostringstream out;
    out << m_pImpl->Respond(request);
    return out.str();
}

std::string CPanelServer::AnswerMessage(const std::string& text)
{
    return HandleMessage(*m_pImpl->room, "page-fuzz", text).value_or("");
}

void CPanelServer::Broadcast(const json& message)
{
    auto shared = std::make_shared<const json>(message);
    asio::post(m_pImpl->io, [impl = m_pImpl.get(), shared] { impl->Deliver(shared); });
}

}  // namespace korvane::tool::panel
