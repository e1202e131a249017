#include "board/http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/clock.h"

namespace kiv::board {

Answer json_answer(int status, const json& body)
{
    return Answer{status, body.dump(-1, ' ', false, json::error_handler_t::replace) + "\n", "application/json", {}};
}

Answer error(int status, const std::string& message)
{
    return json_answer(status, json{{"error", message}});
}

Answer busy(int status, const std::string& message, int retry_after)
{
    Answer a = error(status, message);
    a.headers.push_back({"Retry-After", std::to_string(retry_after)});
    return a;
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int RETRY_BUSY = 5;  // seconds a client waits when the server receives too much at once

// What the page may load and do: its own files, WebAssembly compiled from
// them, the board's API on its own site, and no framing by other sites.
// (packaging/kiv-board.nginx sends the same.)
constexpr const char* PAGE_POLICY =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'self'";

// Bodies being received by all connections together, at most
// MAX_BODIES bytes: 4096 connections of 2 MB each would be 8 GB.
constexpr long MAX_BODIES = 256L * 1024 * 1024;
std::atomic<long> bodies_held{0};

// One request as it arrives. The room its body takes is counted against
// MAX_BODIES from the moment it is reserved until the body is gone, and
// exactly that is given back.
struct Request {
    Clock::time_point start = Clock::now();
    std::string body;
    long held = 0;          // bytes of MAX_BODIES this request holds
    bool answered = false;  // an answer was queued before the body ended
    ~Request() { release(); }

    // Makes room for `size` bytes of the body, counted against MAX_BODIES;
    // false when that would pass it.
    bool hold(size_t size)
    {
        const long more = static_cast<long>(size) - held;
        if (more <= 0)
            return true;
        if (bodies_held.fetch_add(more) + more > MAX_BODIES) {
            bodies_held -= more;
            return false;
        }
        held += more;
        body.reserve(size);
        // The library may round the room up: count what it took.
        const long extra = static_cast<long>(body.capacity()) - held;
        if (extra > 0) {
            bodies_held += extra;
            held += extra;
        }
        return true;
    }
    // The body is gone: its room is free.
    void release()
    {
        bodies_held -= held;
        held = 0;
    }
};

Answer too_much_at_once()
{
    return busy(503, "The server is receiving too much at once; try again shortly.", RETRY_BUSY);
}

bool parse_address(const std::string& text, sockaddr_storage* out)
{
    std::memset(out, 0, sizeof *out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(out);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        return true;
    }
    return false;
}

// The canonical text of an IPv4 or IPv6 address, or "" for another kind.
std::string address_text(const sockaddr* a)
{
    char out[INET6_ADDRSTRLEN] = "";
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, out, sizeof out);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, out, sizeof out);
    return out;
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::string lower(std::string t)
{
    for (char& ch : t)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return t;
}

const char* content_type(const std::string& path)
{
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".wasm", "application/wasm"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".txt", "text/plain; charset=utf-8"},
        {".webmanifest", "application/manifest+json"},
    };
    for (const auto& t : types) {
        size_t n = std::strlen(t.first);
        if (path.size() > n && path.compare(path.size() - n, n, t.first) == 0)
            return t.second;
    }
    return "application/octet-stream";
}

// libmicrohttpd's own messages, but for the one that follows every cut-short
// request (see abort_request).
void log_library(void*, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    // (A client gone before its answer was sent, a watcher while its stream
    // was open: no fault of anyone's.)
    if (std::strstr(text, "Application reported internal error") == nullptr &&
        std::strstr(text, "Failed to send the") == nullptr)
        std::fprintf(stderr, "kiv-board: libmicrohttpd: %s", text);
}

// A file the web build named by its content (kiv.0123456789abcdef.wasm: a
// part of 16 lowercase hex digits between dots) never changes: browsers may
// keep it for ever.
bool named_by_content(const std::string& path)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    for (size_t dot = name.find('.'); dot != std::string::npos;) {
        const size_t next = name.find('.', dot + 1);
        if (next == std::string::npos)
            return false;
        if (next - dot - 1 == 16 && std::all_of(name.begin() + static_cast<long>(dot) + 1,
                                                name.begin() + static_cast<long>(next), [](char ch) {
                                                    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f');
                                                }))
            return true;
        dot = next;
    }
    return false;
}

// If-None-Match: "*" or a list of tags, weak ones (W/"...") compared as
// strong, as a GET may.
bool etag_matches(const std::string& field, const std::string& tag)
{
    for (size_t at = 0; at <= field.size();) {
        size_t comma = field.find(',', at);
        std::string one = trim(field.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (one.rfind("W/", 0) == 0)
            one = one.substr(2);
        if (one == "*" || one == tag)
            return true;
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return false;
}

// Accept-Encoding: whether a request takes `coding` ("gzip", "br"): named,
// or "*" when it is not, with a q-value above 0 (no q-value is 1; one that
// is no number refuses). Codings are compared without case.
bool accepts_encoding(const std::string& field, const std::string& coding)
{
    int named = -1, star = -1;  // -1 not listed, 0 refused, 1 taken
    for (size_t at = 0; at <= field.size();) {
        size_t comma = field.find(',', at);
        const std::string item = field.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        size_t semicolon = item.find(';');
        const std::string name = lower(trim(item.substr(0, semicolon)));
        double q = 1;
        for (size_t p = semicolon; p != std::string::npos;) {
            size_t next = item.find(';', p + 1);
            const std::string param = lower(trim(item.substr(p + 1, next == std::string::npos ? std::string::npos
                                                                                            : next - p - 1)));
            if (param.rfind("q=", 0) == 0) {
                const std::string value = trim(param.substr(2));
                char* end = nullptr;
                q = std::strtod(value.c_str(), &end);
                if (value.empty() || *end != '\0' || !(q >= 0 && q <= 1))
                    q = 0;
            }
            p = next;
        }
        if (name == coding)
            named = q > 0;
        else if (name == "*")
            star = q > 0;
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return named >= 0 ? named == 1 : star == 1;
}

} // namespace

std::string canonical_address(const std::string& text)
{
    sockaddr_storage a;
    return parse_address(text, &a) ? address_text(reinterpret_cast<const sockaddr*>(&a)) : "";
}

const char* HttpRequest::header(const char* name) const
{
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

const char* HttpRequest::argument(const char* name) const
{
    return MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
}

bool HttpRequest::is_json() const
{
    const char* type = header("Content-Type");
    return type && lower(trim(std::string(type).substr(0, std::string(type).find(';')))) == "application/json";
}

bool HttpRequest::from_allowed_page() const
{
    const char* origin = header("Origin");
    if (!origin)
        return true;
    const std::string o = origin;
    if (allowed_origins && std::find(allowed_origins->begin(), allowed_origins->end(), o) != allowed_origins->end())
        return true;
    const char* host = header("Host");
    if (!host || !*host)
        return false;
    const std::string h = lower(host);
    return lower(o) == "http://" + h || lower(o) == "https://" + h;
}

struct HttpServer::Impl {
    HttpOptions options;
    Handler api;
    std::vector<std::string> trusted;
    std::string web_root;  // the web directory, resolved: every file served lies under it
    MHD_Daemon* daemon = nullptr;

    static MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                                 const char* upload, size_t* upload_size, void** state)
    {
        return static_cast<Impl*>(cls)->handle(c, url, method, upload, upload_size, state);
    }
    static void on_completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
    {
        delete static_cast<Request*>(*state);
        *state = nullptr;
    }
    MHD_Result handle(MHD_Connection* c, const std::string& url, const std::string& method, const char* upload,
                      size_t* upload_size, void** state);
    Answer api_answer(MHD_Connection* c, const std::string& url, const std::string& method, Request& r);
    std::string client_address(MHD_Connection* c) const;
    Answer static_file(const std::string& url, const std::string& method, const char* if_none_match,
                       const char* accept_encoding) const;
    MHD_Result send(MHD_Connection* c, const Answer& a, bool close_after = false);
    MHD_Result abort_request(MHD_Connection* c, const Answer& a);
};

std::string HttpServer::Impl::client_address(MHD_Connection* c) const
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const std::string peer = info && info->client_addr ? address_text(info->client_addr) : "unknown";
    auto is_trusted = [this](const std::string& a) { return std::find(trusted.begin(), trusted.end(), a) != trusted.end(); };
    if (!is_trusted(peer))
        return peer;
    const char* forwarded = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "X-Forwarded-For");
    if (!forwarded)
        return peer;
    // The nearest address that none of our own proxies added.
    std::string list = forwarded;
    while (!list.empty()) {
        size_t comma = list.rfind(',');
        std::string item = canonical_address(trim(comma == std::string::npos ? list : list.substr(comma + 1)));
        if (item.empty())
            return peer;
        if (!is_trusted(item))
            return item;
        if (comma == std::string::npos)
            break;
        list.resize(comma);
    }
    return peer;
}

bool EventStream::push(const std::string& text, bool end, size_t max_bytes, bool whole)
{
    MHD_Connection* wake = nullptr;
    bool kept = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_ || ended_)
            return false;
        if (!whole && text_.size() - std::max(sent_, whole_end_) + text.size() > max_bytes) {
            ended_ = true;
            text_.clear();
            sent_ = whole_end_ = 0;
            kept = false;
        } else {
            // What was sent is let go, so that a reader that keeps a
            // backlog holds no more than the backlog.
            text_.erase(0, sent_);
            whole_end_ -= std::min(whole_end_, sent_);
            sent_ = 0;
            text_ += text;
            if (whole)
                whole_end_ = text_.size();
            ended_ = end;
        }
        std::swap(wake, sleeping_);
    }
    if (wake)
        MHD_resume_connection(wake);
    return kept;
}

void EventStream::close()
{
    push("", true, 0);
}

bool EventStream::gone()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return gone_;
}

size_t EventStream::waiting()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.size() - sent_;
}

size_t EventStream::held()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.size();
}

long EventStream::read(char* buf, size_t max, MHD_Connection* c)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t n = std::min(max, text_.size() - sent_);
        if (n > 0) {
            std::memcpy(buf, text_.data() + sent_, n);
            sent_ += n;
            return static_cast<long>(n);
        }
        if (ended_)
            return -1;
        sleeping_ = c;
    }
    // (Text pushed since is seen at once: a resume before the suspend
    // cancels it.)
    MHD_suspend_connection(c);
    return 0;
}

void EventStream::finished()
{
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    sleeping_ = nullptr;
}

namespace {

struct Streaming {
    std::shared_ptr<EventStream> stream;
    MHD_Connection* connection;
};

ssize_t read_stream(void* cls, uint64_t, char* buf, size_t max)
{
    auto* s = static_cast<Streaming*>(cls);
    const long n = s->stream->read(buf, max, s->connection);
    return n < 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(n);
}

void end_stream(void* cls)
{
    auto* s = static_cast<Streaming*>(cls);
    s->stream->finished();
    delete s;
}

} // namespace

MHD_Result HttpServer::Impl::send(MHD_Connection* c, const Answer& a, bool close_after)
{
    if (a.stream) {
        // A watcher's connection lives as long as its stream: its quiet
        // time is bounded by the comments sent every 20 s.
        MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, 60u);
    }
    MHD_Response* response =
        a.stream    ? MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &read_stream,
                                                        new Streaming{a.stream, c}, &end_stream)
        : a.fd >= 0 ? MHD_create_response_from_fd64(a.file_size, a.fd)
                  : MHD_create_response_from_buffer(a.body.size(), const_cast<char*>(a.body.data()),
                                                    MHD_RESPMEM_MUST_COPY);
    if (!response) {
        if (a.fd >= 0)
            close(a.fd);
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", a.type.c_str());
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (std::none_of(a.headers.begin(), a.headers.end(), [](const Header& h) { return h.name == "Cache-Control"; }))
        MHD_add_response_header(response, "Cache-Control", "no-store");
    for (const Header& h : a.headers)
        MHD_add_response_header(response, h.name.c_str(), h.value.c_str());
    if (close_after)
        MHD_add_response_header(response, "Connection", "close");
    MHD_Result result = MHD_queue_response(c, static_cast<unsigned>(a.status), response);
    MHD_destroy_response(response);
    return result;
}

// libmicrohttpd takes a response only before a request's body or after all
// of it. A body that comes too slowly or grows too large is cut short
// instead: this fixed answer goes straight to the socket (nothing else of
// this request's answer has been sent) and the connection is closed.
MHD_Result HttpServer::Impl::abort_request(MHD_Connection* c, const Answer& a)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info) {
        const char* reason = MHD_get_reason_phrase_for(static_cast<unsigned>(a.status));
        std::string text = "HTTP/1.1 " + std::to_string(a.status) + " " + reason +
                           "\r\nContent-Type: application/json\r\nX-Content-Type-Options: nosniff\r\n";
        for (const Header& h : a.headers)
            text += h.name + ": " + h.value + "\r\n";
        text += "Connection: close\r\nContent-Length: " + std::to_string(a.body.size()) + "\r\n\r\n" + a.body;
        if (::send(info->connect_fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
            std::fprintf(stderr, "kiv-board: could not answer %d: %s\n", a.status, std::strerror(errno));
    }
    return MHD_NO;
}

MHD_Result HttpServer::Impl::handle(MHD_Connection* c, const std::string& url, const std::string& method,
                                    const char* upload, size_t* upload_size, void** state)
{
    auto* r = static_cast<Request*>(*state);
    if (!r) {
        r = new Request;
        *state = r;
        // A body announced too large is refused before it is read.
        const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Length");
        unsigned long long announced = length ? std::strtoull(length, nullptr, 10) : 0;
        if (announced > MAX_BODY) {
            r->answered = true;
            return send(c, error(413, "The request body is larger than 2 MB."), true);
        }
        // Room for the body announced, once, rather than doubling as it comes.
        if (announced > 0 && !r->hold(static_cast<size_t>(announced)))
            return abort_request(c, too_much_at_once());
        return MHD_YES;
    }
    if (*upload_size > 0) {
        size_t n = *upload_size;
        *upload_size = 0;
        if (r->answered)
            return MHD_YES;
        if (std::chrono::duration<double>(Clock::now() - r->start).count() > options.request_timeout)
            return abort_request(c, error(408, "The request took too long to arrive."));
        if (r->body.size() + n > MAX_BODY)
            return abort_request(c, error(413, "The request body is larger than 2 MB."));
        if (r->body.size() + n > r->body.capacity() &&
            !r->hold(std::min(MAX_BODY, std::max(2 * static_cast<size_t>(r->held), r->body.size() + n))))
            return abort_request(c, too_much_at_once());
        r->body.append(upload, n);
        return MHD_YES;
    }
    if (r->answered)
        return MHD_YES;
    r->answered = true;
    if (url.rfind("/api/", 0) != 0)
        return send(c, static_file(url, method, MHD_lookup_connection_value(c, MHD_HEADER_KIND, "If-None-Match"),
                                   MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Accept-Encoding")));
    Answer a = api_answer(c, url, method, *r);
    // CORS for an allowed page origin.
    const char* origin = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Origin");
    if (origin && std::find(options.allow_origins.begin(), options.allow_origins.end(), origin) !=
                      options.allow_origins.end()) {
        a.headers.push_back({"Access-Control-Allow-Origin", origin});
        a.headers.push_back({"Vary", "Origin"});
        if (method == "OPTIONS") {
            a.headers.push_back({"Access-Control-Allow-Methods", "GET, POST, OPTIONS"});
            a.headers.push_back({"Access-Control-Allow-Headers", "Content-Type, Authorization"});
            a.headers.push_back({"Access-Control-Max-Age", "600"});
        }
    }
    return send(c, a);
}

Answer HttpServer::Impl::api_answer(MHD_Connection* c, const std::string& url, const std::string& method, Request& r)
{
    if (method == "OPTIONS")
        return Answer{204, "", "text/plain", {}};
    Answer a;
    {
        HttpRequest request;
        request.method = method;
        request.path = url;
        request.body = std::move(r.body);
        request.client = client_address(c);
        request.connection = c;
        request.allowed_origins = &options.allow_origins;
        request.arrived_ms = now_ms();
        try {
            a = api(request);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kiv-board: %s %s: %s\n", method.c_str(), url.c_str(), e.what());
            a = error(500, "The server failed to answer; try again shortly.");
        }
    }
    r.release();
    return a;
}

Answer HttpServer::Impl::static_file(const std::string& url, const std::string& method, const char* if_none_match,
                                     const char* accept_encoding) const
{
    if (method != "GET" && method != "HEAD") {
        Answer a = error(405, "Only GET and HEAD are served here.");
        a.headers.push_back({"Allow", "GET, HEAD"});
        return a;
    }
    std::string path = url == "/" ? "/index.html" : url;
    // Plain names only, from the root: no empty, hidden, "." or ".." parts,
    // no backslash or NUL.
    bool ok = !web_root.empty() && path.size() > 1 && path.size() < 512 && path[0] == '/' &&
              path.find('\\') == std::string::npos && path.find('\0') == std::string::npos;
    for (size_t i = 0; ok && i < path.size();) {
        size_t next = path.find('/', i + 1);
        std::string part = path.substr(i + 1, next == std::string::npos ? std::string::npos : next - i - 1);
        ok = !part.empty() && part[0] != '.';
        i = next == std::string::npos ? path.size() : next;
    }
    if (!ok)
        return error(404, "There is no such file.");
    // And where it leads, links followed, still under the root.
    char* real = realpath((web_root + path).c_str(), nullptr);
    const std::string full = real ? real : "", under = web_root == "/" ? "/" : web_root + "/";
    std::free(real);
    if (full.compare(0, under.size(), under) != 0)
        return error(404, "There is no such file.");
    int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            close(fd);
        return error(404, "There is no such file.");
    }
    Answer a{200, "", content_type(path), {}};
    a.headers.push_back({"Content-Security-Policy", PAGE_POLICY});
    if (named_by_content(path)) {
        a.headers.push_back({"Cache-Control", "public, max-age=31536000, immutable"});
        // The build's compressed form beside it (FILE.br, FILE.gz), to a
        // request that takes it; the smaller, brotli, first.
        a.headers.push_back({"Vary", "Accept-Encoding"});
        for (const char* coding : {"br", "gzip"}) {
            if (!accept_encoding || !accepts_encoding(accept_encoding, coding))
                continue;
            const std::string packed = full + (coding[0] == 'b' ? ".br" : ".gz");
            int other = open(packed.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            struct stat packed_st {};
            if (other >= 0 && fstat(other, &packed_st) == 0 && S_ISREG(packed_st.st_mode)) {
                close(fd);
                fd = other;
                st = packed_st;
                a.headers.push_back({"Content-Encoding", coding});
                break;
            }
            if (other >= 0)
                close(other);
        }
    } else {
        // The page, its manifest and its service worker: asked again every
        // time, answered 304 while they are the same file.
        char tag[64];
        std::snprintf(tag, sizeof tag, "\"%llx-%llx-%lx\"", static_cast<unsigned long long>(st.st_size),
                      static_cast<unsigned long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec));
        a.headers.push_back({"Cache-Control", "no-cache"});
        a.headers.push_back({"ETag", tag});
        if (if_none_match && etag_matches(if_none_match, tag)) {
            close(fd);
            a.status = 304;
            return a;
        }
    }
    a.fd = fd;
    a.file_size = static_cast<std::uint64_t>(st.st_size);
    return a;
}

HttpServer::HttpServer(const HttpOptions& options, Handler api) : impl_(std::make_unique<Impl>())
{
    impl_->options = options;
    impl_->api = std::move(api);
    for (const std::string& p : options.trusted_proxies)
        impl_->trusted.push_back(canonical_address(p));
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start()
{
    const HttpOptions& o = impl_->options;
    sockaddr_storage address;
    if (!parse_address(o.listen, &address)) {
        std::fprintf(stderr, "kiv-board: --listen takes an IPv4 or IPv6 address, not %s\n", o.listen.c_str());
        return false;
    }
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
    if (address.ss_family == AF_INET6) {
        flags |= MHD_USE_IPv6;
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(static_cast<uint16_t>(o.port));
    } else {
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(o.port));
    }
    if (o.web_dir.empty()) {
        // The API alone.
    } else if (char* real = realpath(o.web_dir.c_str(), nullptr)) {
        impl_->web_root = real;
        std::free(real);
    } else {
        std::fprintf(stderr, "kiv-board: no page is served: --web %s: %s\n", o.web_dir.c_str(), std::strerror(errno));
    }
    impl_->daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Impl::on_request, impl_.get(), MHD_OPTION_EXTERNAL_LOGGER, &log_library,
        nullptr, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(o.threads),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(std::ceil(o.request_timeout)),
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(MAX_CONNECTIONS), MHD_OPTION_NOTIFY_COMPLETED,
        &Impl::on_completed, impl_.get(),
        MHD_OPTION_END);
    if (!impl_->daemon) {
        std::fprintf(stderr, "kiv-board: cannot listen on %s port %d\n", o.listen.c_str(), o.port);
        return false;
    }
    return true;
}

unsigned HttpServer::port() const
{
    const MHD_DaemonInfo* info = impl_->daemon ? MHD_get_daemon_info(impl_->daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    return info ? info->port : 0;
}

void HttpServer::stop()
{
    if (impl_ && impl_->daemon) {
        MHD_stop_daemon(impl_->daemon);
        impl_->daemon = nullptr;
    }
}

} // namespace kiv::board
