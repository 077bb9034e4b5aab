#include "sim/OnvifCamera.h"

#include "sim/OnvifServices.h"

#include "sim/Arrivals.h"
#include "sim/ProbeResponder.h"
#include "onvif/Soap.h"
#include "onvif/WsSecurity.h"
#include "platform/Crypto.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#ifdef KORVANE_SIM_TLS
#include "sim/SelfSignedTls.h"

#include <boost/beast/ssl.hpp>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace korvane::sim {

namespace beast = boost::beast;
namespace http = beast::http;
using boost::asio::ip::tcp;
using onvif::Child;
using onvif::Descendant;
using onvif::LocalName;
using Response = http::response<http::string_body>;
using Request = http::request<http::string_body>;

namespace {

std::string Md5Hex(const std::string& text)
{
    const platform::Md5Digest digest = platform::Md5(text.data(), text.size());
    std::string hex;
    char two[3];
    for (const std::uint8_t byte : digest) {
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

// key="value" pairs of an HTTP Digest Authorization header.
std::map<std::string, std::string> DigestFields(const std::string& header)
{
    std::map<std::string, std::string> fields;
    if (header.rfind("Digest ", 0) != 0) return fields;
    std::size_t at = 7;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ',')) ++at;
        const std::size_t equals = header.find('=', at);
        if (equals == std::string::npos) break;
        const std::string key = header.substr(at, equals - at);
        std::string value;
        at = equals + 1;
        if (at < header.size() && header[at] == '"') {
            const std::size_t close = header.find('"', at + 1);
            if (close == std::string::npos) break;
            value = header.substr(at + 1, close - at - 1);
            at = close + 1;
        } else {
            const std::size_t comma = header.find(',', at);
            value = header.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            at = comma == std::string::npos ? header.size() : comma;
        }
        fields[key] = value;
    }
    return fields;
}

std::optional<onvif::UtcSeconds> ParseCreated(const std::string& text)
{
    int year, month, day, hour, minute, second;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
        return std::nullopt;
    return onvif::UtcFromFields(year, month, day, hour, minute, second);
}

}  // namespace

struct COnvifCamera::Impl {
    boost::asio::io_context io;
    tcp::acceptor acceptor{io};
    OnvifCameraOptions options;
    std::uint16_t port = 0;
    const std::string realm = "korvane-sim";
    const std::string nonce = "5f3a9c1e7d2b4a60";

    std::string fingerprint;
#ifdef KORVANE_SIM_TLS
    std::unique_ptr<boost::asio::ssl::context> tls;
#endif
    std::unique_ptr<CProbeResponder> probes;

    CArrivals<OnvifRequest> requests;
    std::mutex mutex;  // what follows
    std::size_t httpRequests = 0;
    std::size_t connections = 0;
    OnvifFault fault = OnvifFault::None;
    OnvifPace pace;
    std::map<std::string, OnvifPace> operationPaces;  // before pace, by operation
    std::atomic<long long> clockOffset{0};             // seconds; steps at run time
    std::vector<std::string> authorizations;
    unsigned staleNonces = 0;
    // The services and the camera's state, under mutex.
    std::unique_ptr<COnvifServices> services;

    void Accept();
    // The answer, or nothing when the camera is to stay silent.
    // operation receives the request's operation, for its pace.
    std::optional<Response> Handle(const Request& request, std::string& operation);
    bool HttpDigestOk(const Request& request) const;
    bool HttpBasicOk(const Request& request) const;
    onvif::UtcSeconds CameraNow() const
    {
        return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now()) +
               std::chrono::seconds(clockOffset.load());
    }
    OnvifPace Pace(const std::string& operation)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = operationPaces.find(operation);
        return found != operationPaces.end() ? found->second : pace;
    }
    bool TokenOk(pugi::xml_node envelope) const;
    std::string ServiceUrl(const char* service) const
    {
        return (options.serviceBase.empty() ? Origin() : options.serviceBase) + "/onvif/" + service;
    }
    std::string Origin() const
    {
        return std::string(options.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
    }
};

namespace {

// One connection, over plain TCP or TLS.
template <typename Stream>
struct Session : std::enable_shared_from_this<Session<Stream>> {
    using std::enable_shared_from_this<Session<Stream>>::shared_from_this;

    template <typename... Tls>
    Session(tcp::socket socket, COnvifCamera::Impl& camera, Tls&... tls)
        : stream(std::move(socket), tls...), camera(camera)
    {
    }

    // TLS first, when there is any; a failed handshake ends the connection.
    void Start()
    {
#ifdef KORVANE_SIM_TLS
        if constexpr (!std::is_same_v<Stream, beast::tcp_stream>) {
            stream.async_handshake(boost::asio::ssl::stream_base::server,
                                   [self = shared_from_this()](beast::error_code error) {
                                       if (!error) self->Read();
                                   });
            return;
        }
#endif
        Read();
    }

    void Read()
    {
        request = {};
        http::async_read(stream, buffer, request, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (!error) self->Respond();
        });
    }

    void Respond()
    {
        std::string operation;
        auto answer = camera.Handle(request, operation);
        if (!answer) {
            Read();  // silent: the client waits until its time-out
            return;
        }
        response = std::move(*answer);
        // A length given already is a body cut short: sent as it is, and then
        // the connection ends.
        const bool cutShort = response.has_content_length();
        response.keep_alive(!cutShort && request.keep_alive());
        if (!cutShort) response.prepare_payload();
        pace = camera.Pace(operation);
        if (pace.delay.count() <= 0) {
            Write();
            return;
        }
        timer.expires_after(pace.delay);
        timer.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error) self->Write();
        });
    }

    void Write()
    {
        if (pace.drip.count() > 0) {
            std::ostringstream raw;
            raw << response;
            dripping = raw.str();
            const std::size_t headerEnd = dripping.find("\r\n\r\n");
            dripped = 0;
            Drip(headerEnd == std::string::npos ? dripping.size() : headerEnd + 4);
            return;
        }
        http::async_write(stream, response, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (!error) self->Written();
        });
    }

    // The status line and headers first, then one byte per drip interval.
    void Drip(std::size_t count)
    {
        boost::asio::async_write(
            stream, boost::asio::buffer(dripping.data() + dripped, count),
            [self = shared_from_this()](beast::error_code error, std::size_t written) {
                if (error) return;  // the client gave up
                self->dripped += written;
                if (self->dripped >= self->dripping.size()) {
                    self->Written();
                    return;
                }
                self->timer.expires_after(self->pace.drip);
                self->timer.async_wait([self](beast::error_code waited) {
                    if (!waited) self->Drip(1);
                });
            });
    }

    void Written()
    {
        if (!response.keep_alive()) {
            beast::error_code ignored;
            beast::get_lowest_layer(stream).socket().shutdown(tcp::socket::shutdown_send, ignored);
            return;
        }
        Read();
    }

    Stream stream;
    COnvifCamera::Impl& camera;
    beast::flat_buffer buffer;
    Request request;
    Response response;
    OnvifPace pace;
    boost::asio::steady_timer timer{beast::get_lowest_layer(stream).get_executor()};
    std::string dripping;
    std::size_t dripped = 0;
};

}  // namespace

void COnvifCamera::Impl::Accept()
{
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error) return;  // closed
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++connections;
        }
#ifdef KORVANE_SIM_TLS
        if (tls) {
            std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(std::move(socket), *this, *tls)->Start();
            Accept();
            return;
        }
#endif
        std::make_shared<Session<beast::tcp_stream>>(std::move(socket), *this)->Start();
        Accept();
    });
}

bool COnvifCamera::Impl::HttpDigestOk(const Request& request) const
{
    auto fields = DigestFields(std::string(request[http::field::authorization]));
    if (fields["username"] != options.user || fields["realm"] != realm || fields["nonce"] != nonce) return false;
    const std::string ha1 = Md5Hex(options.user + ":" + realm + ":" + options.password);
    const std::string ha2 = Md5Hex("POST:" + fields["uri"]);
    const std::string expected = fields.count("qop")
                                     ? Md5Hex(ha1 + ":" + nonce + ":" + fields["nc"] + ":" + fields["cnonce"] + ":" +
                                              fields["qop"] + ":" + ha2)
                                     : Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return fields["response"] == expected;
}

bool COnvifCamera::Impl::HttpBasicOk(const Request& request) const
{
    const std::string text = options.user + ":" + options.password;
    return std::string(request[http::field::authorization]) ==
           "Basic " + onvif::Base64Encode(std::vector<std::uint8_t>(text.begin(), text.end()));
}

bool COnvifCamera::Impl::TokenOk(pugi::xml_node envelope) const
{
    const pugi::xml_node token = Descendant(Child(Child(envelope, "Header"), "Security"), "UsernameToken");
    const std::string user = Child(token, "Username").child_value();
    const pugi::xml_node password = Child(token, "Password");
    const std::string created = Child(token, "Created").child_value();
    const auto nonceBytes = onvif::Base64Decode(Child(token, "Nonce").child_value());
    if (!token || user != options.user || !nonceBytes) return false;
    if (std::string(password.attribute("Type").value()) != onvif::kPasswordDigestType) return false;
    if (!options.claimedDate.empty())  // a camera whose clock is no clock checks no time
        return onvif::PasswordDigest(*nonceBytes, created, options.password) == password.child_value();
    const auto when = ParseCreated(created);
    const auto cameraNow = CameraNow();
    if (!when || *when > cameraNow + std::chrono::minutes(5) || *when < cameraNow - std::chrono::minutes(5))
        return false;  // tokens dated far from the camera's clock are replays to it
    return onvif::PasswordDigest(*nonceBytes, created, options.password) == password.child_value();
}

std::optional<Response> COnvifCamera::Impl::Handle(const Request& request, std::string& operationName)
{
    OnvifFault mode;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++httpRequests;
        mode = fault;
        if (!request[http::field::authorization].empty())
            authorizations.emplace_back(request[http::field::authorization]);
    }
    Response response{http::status::ok, request.version()};
    response.set(http::field::content_type, "application/soap+xml; charset=utf-8");
    if (mode == OnvifFault::EndlessStaleDigest) {
        std::string fresh;
        {
            std::lock_guard<std::mutex> lock(mutex);
            fresh = nonce + std::to_string(++staleNonces);
        }
        response.result(http::status::unauthorized);
        response.set(http::field::www_authenticate, "Digest realm=\"" + realm + "\", qop=\"auth\", nonce=\"" + fresh +
                                                        "\", algorithm=MD5, stale=true");
        response.body() = "401 Unauthorized";
        return response;
    }
    if (mode == OnvifFault::BasicChallenge && !HttpBasicOk(request)) {
        response.result(http::status::unauthorized);
        response.set(http::field::www_authenticate, "Basic realm=\"" + realm + "\"");
        response.body() = "401 Unauthorized";
        return response;
    }
    if (options.requireHttpDigest && !HttpDigestOk(request)) {
        response.result(http::status::unauthorized);
        response.set(http::field::www_authenticate,
                     "Digest realm=\"" + realm + "\", qop=\"auth\", nonce=\"" + nonce + "\", algorithm=MD5");
        response.body() = "401 Unauthorized";
        return response;
    }

    OnvifRequest record;
    record.arrived = std::chrono::steady_clock::now();
    record.path = std::string(request.target());
    record.body = request.body();
    pugi::xml_document document;
    const bool parsed = document.load_buffer(request.body().data(), request.body().size());
    const pugi::xml_node envelope = Child(document.root(), "Envelope");
    pugi::xml_node operation;
    for (pugi::xml_node child : Child(envelope, "Body").children())
        if (child.type() == pugi::node_element) {
            operation = child;
            break;
        }
    record.operation = parsed && operation ? LocalName(operation) : "(not SOAP)";
    record.authorized = record.operation == "GetSystemDateAndTime" || TokenOk(envelope);
    record.values["created"] = Descendant(Child(envelope, "Header"), "Created").child_value();

    int status = 200;
    std::string body;
    switch (mode) {
    case OnvifFault::NoAnswer: break;
    case OnvifFault::MalformedXml: body = "<env:Envelope><env:Body><ptz:Oops></env:Bo"; break;
    case OnvifFault::SoapFault: status = 500; body = Fault("Receiver", "ter:Action", "Simulated failure"); break;
    case OnvifFault::Http401: status = 401; body = "401 Unauthorized"; break;
    case OnvifFault::Http500: status = 500; body = "500 Internal Server Error"; break;
    case OnvifFault::EmptyBody: break;
    // A 3 MiB body announced, a few bytes sent, then the connection ends:
    // the client refuses it on the header. (Sending the whole body to a
    // client that closed meanwhile hung now and then under wine.)
    case OnvifFault::HugeBody: body = Answer(" "); break;
    case OnvifFault::None:
    case OnvifFault::BasicChallenge:  // Basic credentials came
    case OnvifFault::EndlessStaleDigest:
        if (!parsed || !operation) {
            status = 400;
            body = Fault("Sender", "ter:WellFormed", "Not a SOAP request");
        } else if (!record.authorized) {
            status = 400;
            body = Fault("Sender", "ter:NotAuthorized", "Sender not Authorized");
        } else {
            std::lock_guard<std::mutex> lock(mutex);
            body = services->Dispatch(record, operation, status);
        }
        break;
    }
    operationName = record.operation;
    requests.Push(std::move(record));
    if (mode == OnvifFault::NoAnswer) return std::nullopt;
    response.result(static_cast<http::status>(status));
    response.body() = std::move(body);
    if (mode == OnvifFault::HugeBody) response.content_length(3 << 20);
    return response;
}

COnvifCamera::COnvifCamera(OnvifCameraOptions options, std::uint16_t port) : m_pImpl(std::make_unique<Impl>())
{
    m_pImpl->options = std::move(options);
    m_pImpl->clockOffset = m_pImpl->options.clockOffset.count();
    m_pImpl->services = std::make_unique<COnvifServices>(
        m_pImpl->options, [impl = m_pImpl.get()](const char* service) { return impl->ServiceUrl(service); },
        [impl = m_pImpl.get()] { return impl->CameraNow(); });
    const tcp::endpoint at(boost::asio::ip::address_v4::loopback(), port);
    m_pImpl->acceptor.open(at.protocol());
    m_pImpl->acceptor.set_option(tcp::acceptor::reuse_address(true));
    m_pImpl->acceptor.bind(at);
    m_pImpl->acceptor.listen();
    m_nPort = m_pImpl->port = m_pImpl->acceptor.local_endpoint().port();
    if (m_pImpl->options.tls) {
#ifdef KORVANE_SIM_TLS
        m_pImpl->tls = MakeSelfSignedContext(m_pImpl->options.tlsExpired, m_pImpl->fingerprint);
#else
        throw std::runtime_error("HTTPS is not available in this build");
#endif
    }
    if (!m_pImpl->options.probeInterface.empty()) {
        const std::string scopes = m_pImpl->options.scopes.empty()
                                       ? "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/type/ptz "
                                         "onvif://www.onvif.org/name/Korvane%20sim "
                                         "onvif://www.onvif.org/hardware/SimPTZ-1"
                                       : m_pImpl->options.scopes;
        m_pImpl->probes = std::make_unique<CProbeResponder>(m_pImpl->io, m_pImpl->options.probeInterface,
                                                            m_pImpl->Origin() + "/onvif/device_service", scopes);
    }
    m_pImpl->Accept();
    m_thread = std::thread([impl = m_pImpl.get()] { impl->io.run(); });
}

COnvifCamera::~COnvifCamera()
{
    m_pImpl->io.stop();
    m_thread.join();
}

std::string COnvifCamera::Origin() const { return m_pImpl->Origin(); }

std::string COnvifCamera::TlsFingerprint() const { return m_pImpl->fingerprint; }

std::size_t COnvifCamera::ProbesAnswered() { return m_pImpl->probes ? m_pImpl->probes->Answered() : 0; }

void COnvifCamera::SetFault(OnvifFault fault)
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->fault = fault;
}

void COnvifCamera::SetPace(OnvifPace pace)
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->pace = pace;
}

void COnvifCamera::SetPace(const std::string& operation, OnvifPace pace)
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->operationPaces[operation] = pace;
}

void COnvifCamera::SetClockOffset(std::chrono::seconds offset) { m_pImpl->clockOffset = offset.count(); }

std::vector<std::string> COnvifCamera::AuthorizationHeaders()
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->authorizations;
}

std::optional<OnvifRequest> COnvifCamera::NextRequest(std::chrono::milliseconds timeout)
{
    return m_pImpl->requests.Next(timeout);
}

std::optional<OnvifRequest> COnvifCamera::NextOf(const std::string& operation, std::chrono::milliseconds timeout)
{
    return m_pImpl->requests.NextMatching([&](const OnvifRequest& next) { return next.operation == operation; },
                                          timeout);
}

std::size_t COnvifCamera::HttpRequestCount()
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->httpRequests;
}

std::size_t COnvifCamera::ConnectionCount()
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->connections;
}

std::map<std::string, std::string> COnvifCamera::Presets()
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->services->state.presets;
}

std::pair<float, bool> COnvifCamera::Focus()
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    const FocusMotion& focus = m_pImpl->services->state.focus;
    return {focus.Now(), focus.speed != 0.0f};
}

std::string COnvifCamera::Describe(const OnvifRequest& request)
{
    std::string line = request.operation;
    if (!request.authorized) line += " (not authorized)";
    static const char* const kOrder[] = {"profile", "configuration", "name", "token", "pan", "tilt", "zoom", "pantilt", "space", "timeout", "source", "focus"};
    for (const char* key : kOrder) {
        const auto found = request.values.find(key);
        if (found != request.values.end() && !found->second.empty()) line += std::string(" ") + key + " " + found->second;
    }
    return line;
}

}  // namespace korvane::sim
