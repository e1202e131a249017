#include "board/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>
#include <sodium.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <utility>

#include "board/fields.h"
#include "board/names.h"
#include "board/rate.h"
#include "frame/loop.h"
#include "replay/file.h"

namespace kiv::board {

namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

constexpr size_t MAX_BODY = 2 * 1024 * 1024;
constexpr int TOP_ROWS = 100;
constexpr int RETRY_BUSY = 5;  // seconds a client waits when the queue is full or a worker failed

// What the page may load and do: its own files, WebAssembly compiled from
// them, the board's API on its own site, and no framing by other sites.
// (packaging/kiv-board.nginx sends the same.)
constexpr const char* PAGE_POLICY =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'self'";

struct Header {
    std::string name, value;
};

struct Answer {
    int status = 200;
    std::string body;
    std::string type = "application/json";
    std::vector<Header> headers;
    int fd = -1;  // a file to send instead of the body, closed once sent
    std::uint64_t file_size = 0;
};

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

// Why a ticket does not admit a game.
Answer ticket_refused(TakeResult why)
{
    if (why == TakeResult::unknown_ticket)
        return error(404, "There is no such ticket.");
    if (why == TakeResult::used_ticket)
        return error(409, "The ticket was used already: each game needs a ticket of its own.");
    return error(409, "The ticket has expired.");
}

// A submission waiting for its verdict, shared by the request and the
// verification thread that answers it.
struct Submission {
    MHD_Connection* connection = nullptr;
    std::string ticket;
    std::string name;
    std::int64_t arrived_ms = 0;
    Answer answer;
};

// One request as it arrives.
// Bodies being received by all connections together, at most
// MAX_BODIES bytes: 4096 connections of 2 MB each would be 8 GB.
constexpr long MAX_BODIES = 256L * 1024 * 1024;
std::atomic<long> bodies_held{0};

// Makes room for `size` bytes of a request's body, counted against
// MAX_BODIES; false when that would pass it.
struct Request;
bool hold_body(Request& r, size_t size);

struct Request {
    Clock::time_point start = Clock::now();
    std::string body;
    bool answered = false;   // an answer was queued before the body ended
    std::shared_ptr<Submission> submission;
    ~Request() { release_body(); }
    // Once read, a body is let go of before its game waits for a worker.
    void release_body()
    {
        bodies_held -= static_cast<long>(body.capacity());
        std::string().swap(body);
    }
};

bool hold_body(Request& r, size_t size)
{
    long more = static_cast<long>(size) - static_cast<long>(r.body.capacity());
    if (more <= 0)
        return true;
    if (bodies_held.fetch_add(more) + more > MAX_BODIES) {
        bodies_held -= more;
        return false;
    }
    const size_t before = r.body.capacity();
    r.body.reserve(size);
    // The library may round the room up: count what it took.
    bodies_held += static_cast<long>(r.body.capacity() - before) - more;
    return true;
}

Answer too_much_at_once()
{
    return busy(503, "The server is receiving too much at once; try again shortly.", RETRY_BUSY);
}

// The top games of each period, at most `max_age` seconds old, so that a
// crowd asking for the board costs one query a second; each answer is
// rendered once for each limit asked for.
class TopCache {
public:
    std::string get(int period, long limit, Store& store, double max_age)
    {
        Entry& e = entries_[period];
        std::lock_guard<std::mutex> lock(e.mutex);
        if (e.stale || std::chrono::duration<double>(Clock::now() - e.at).count() >= max_age)
            load(e, period, store);
        std::string& body = e.rendered[limit];
        if (body.empty())
            body = render(e.rows, period, limit);
        return body;
    }
    // After a game went on the board: this server shows it at once.
    void renew(Store& store)
    {
        for (int p = 0; p < 3; p++) {
            std::lock_guard<std::mutex> lock(entries_[p].mutex);
            load(entries_[p], p, store);
        }
    }
    static int find(const std::string& s)
    {
        for (int p = 0; p < 3; p++)
            if (s == PERIODS[p])
                return p;
        return -1;
    }

private:
    static constexpr const char* PERIODS[3] = {"day", "week", "all"};
    struct Entry {
        std::mutex mutex;
        bool stale = true;
        std::vector<Game> rows;
        std::string rendered[TOP_ROWS + 1];
        Clock::time_point at;
    };
    void load(Entry& e, int period, Store& store)
    {
        std::int64_t since = 0;
        period_start(PERIODS[period], now_ms(), &since);
        e.rows = store.top(since, TOP_ROWS);
        for (std::string& r : e.rendered)
            r.clear();
        e.at = Clock::now();
        e.stale = false;
    }
    static std::string render(const std::vector<Game>& rows, int period, long limit)
    {
        json games = json::array();
        for (size_t i = 0; i < rows.size() && i < static_cast<size_t>(limit); i++) {
            const Game& g = rows[i];
            games.push_back(json{{"id", g.id}, {"name", g.name}, {"score", g.score}, {"time", iso_time(g.time_ms)}});
        }
        return json{{"period", PERIODS[period]}, {"games", games}}.dump(-1, ' ', false,
                                                                       json::error_handler_t::replace) +
               "\n";
    }
    Entry entries_[3];
};

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

// The canonical text of an address, or "" when it is none.
std::string canonical_address(const std::string& text)
{
    sockaddr_storage a;
    return parse_address(text, &a) ? address_text(reinterpret_cast<const sockaddr*>(&a)) : "";
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A request whose Content-Type is application/json (parameters aside).
bool json_request(MHD_Connection* c)
{
    const char* type = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Type");
    std::string media = type ? trim(std::string(type).substr(0, std::string(type).find(';'))) : "";
    for (char& ch : media)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return media == "application/json";
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
    if (std::strstr(text, "Application reported internal error") == nullptr)
        std::fprintf(stderr, "kiv-board: libmicrohttpd: %s", text);
}

class Server {
public:
    explicit Server(const ServerOptions& options)
        : options_(options), verify_(options.verify),
          ticket_limit_(options.tickets_per_minute, options.board_tickets_per_minute),
          game_limit_(options.games_per_minute)
    {
        for (const std::string& p : options.trusted_proxies)
            trusted_.push_back(canonical_address(p));
    }

    int run();

private:
    static MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method,
                                 const char* version, const char* upload, size_t* upload_size, void** state)
    {
        (void)version;
        return static_cast<Server*>(cls)->handle(c, url, method, upload, upload_size, state);
    }
    static void on_completed(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
    {
        delete static_cast<Request*>(*state);
        *state = nullptr;
    }

    MHD_Result handle(MHD_Connection* c, const char* url, const char* method, const char* upload,
                      size_t* upload_size, void** state);
    Answer route(MHD_Connection* c, const std::string& url, const std::string& method, Request& r, bool* suspend);
    Answer create_ticket(MHD_Connection* c, const Request& r);
    bool from_allowed_page(MHD_Connection* c);
    Answer submit_game(MHD_Connection* c, Request& r, bool* suspend);
    void finish(Submission& s, const std::string& replay_bytes, const Verdict& v);
    Answer top(MHD_Connection* c);
    Answer game(const std::string& id_text, bool replay);
    Answer static_file(const std::string& url, const std::string& method);
    MHD_Result send(MHD_Connection* c, const Answer& a, bool close_after = false);
    MHD_Result abort_request(MHD_Connection* c, const Answer& a);
    std::string client_address(MHD_Connection* c);
    Store& store();

    ServerOptions options_;
    VerifyQueue verify_;
    RateLimit ticket_limit_, game_limit_;
    std::vector<std::string> trusted_;
    std::string web_root_;  // --web, resolved: every file served lies under it
    TopCache top_;
};

Store& Server::store()
{
    // One connection per thread, opened at its first use.
    thread_local std::unique_ptr<Store> mine;
    if (!mine)
        mine = open_store(options_.store);
    return *mine;
}

std::string Server::client_address(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const std::string peer = info && info->client_addr ? address_text(info->client_addr) : "unknown";
    auto trusted = [this](const std::string& a) {
        return std::find(trusted_.begin(), trusted_.end(), a) != trusted_.end();
    };
    if (!trusted(peer))
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
        if (!trusted(item))
            return item;
        if (comma == std::string::npos)
            break;
        list.resize(comma);
    }
    return peer;
}

MHD_Result Server::send(MHD_Connection* c, const Answer& a, bool close_after)
{
    MHD_Response* response =
        a.fd >= 0 ? MHD_create_response_from_fd64(a.file_size, a.fd)
                  : MHD_create_response_from_buffer(a.body.size(), const_cast<char*>(a.body.data()),
                                                    MHD_RESPMEM_MUST_COPY);
    if (!response) {
        if (a.fd >= 0)
            close(a.fd);
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", a.type.c_str());
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (a.fd < 0)
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
MHD_Result Server::abort_request(MHD_Connection* c, const Answer& a)
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

MHD_Result Server::handle(MHD_Connection* c, const char* url_text, const char* method_text, const char* upload,
                          size_t* upload_size, void** state)
{
    std::string url = url_text, method = method_text;
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
        if (announced > 0 && !hold_body(*r, static_cast<size_t>(announced)))
            return abort_request(c, too_much_at_once());
        return MHD_YES;
    }
    if (*upload_size > 0) {
        size_t n = *upload_size;
        *upload_size = 0;
        if (r->answered)
            return MHD_YES;
        if (std::chrono::duration<double>(Clock::now() - r->start).count() > options_.request_timeout)
            return abort_request(c, error(408, "The request took too long to arrive."));
        if (r->body.size() + n > MAX_BODY)
            return abort_request(c, error(413, "The request body is larger than 2 MB."));
        if (r->body.size() + n > r->body.capacity() &&
            !hold_body(*r, std::min(MAX_BODY, std::max(2 * r->body.capacity(), r->body.size() + n))))
            return abort_request(c, too_much_at_once());
        r->body.append(upload, n);
        return MHD_YES;
    }
    if (r->answered)
        return MHD_YES;
    if (r->submission) {
        // Resumed: the verdict is in.
        r->answered = true;
        Answer a = r->submission->answer;
        return send(c, a);
    }
    bool suspend = false;
    Answer a;
    try {
        a = route(c, url, method, *r, &suspend);
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv-board: %s\n", e.what());
        a = busy(503, "The board's database cannot be reached; try again shortly.", RETRY_BUSY);
    }
    if (suspend)
        return MHD_YES;
    r->answered = true;
    // CORS for an allowed page origin.
    if (url.rfind("/api/", 0) == 0) {
        const char* origin = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Origin");
        if (origin && std::find(options_.allow_origins.begin(), options_.allow_origins.end(), origin) !=
                          options_.allow_origins.end()) {
            a.headers.push_back({"Access-Control-Allow-Origin", origin});
            a.headers.push_back({"Vary", "Origin"});
            if (method == "OPTIONS") {
                a.headers.push_back({"Access-Control-Allow-Methods", "GET, POST, OPTIONS"});
                a.headers.push_back({"Access-Control-Allow-Headers", "Content-Type"});
                a.headers.push_back({"Access-Control-Max-Age", "600"});
            }
        }
    }
    return send(c, a);
}

Answer Server::route(MHD_Connection* c, const std::string& url, const std::string& method, Request& r,
                     bool* suspend)
{
    if (url.rfind("/api/", 0) != 0)
        return static_file(url, method);
    if (method == "OPTIONS")
        return Answer{204, "", "text/plain", {}};
    // What changes the board comes from this board's page or an allowed one,
    // as JSON: another site's page can send JSON only after a preflight,
    // which it gets no leave from.
    if (method == "POST" && (url == "/api/tickets" || url == "/api/games")) {
        if (!from_allowed_page(c))
            return error(403, "Requests from other sites' pages are not taken.");
        if (!json_request(c))
            return error(400, "Send the request as JSON (Content-Type: application/json).");
    }
    if (url == "/api/tickets") {
        if (method != "POST")
            return error(405, "Use POST for a ticket.");
        return create_ticket(c, r);
    }
    if (url == "/api/games") {
        if (method != "POST")
            return error(405, "Use POST to submit a game.");
        return submit_game(c, r, suspend);
    }
    if (url == "/api/top") {
        if (method != "GET" && method != "HEAD")
            return error(405, "Use GET for the board.");
        return top(c);
    }
    if (url.rfind("/api/games/", 0) == 0) {
        if (method != "GET" && method != "HEAD")
            return error(405, "Use GET for a game.");
        std::string rest = url.substr(11);
        const std::string suffix = "/replay";
        if (rest.size() > suffix.size() && rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0)
            return game(rest.substr(0, rest.size() - suffix.size()), true);
        return game(rest, false);
    }
    return error(404, "There is no such API endpoint.");
}

// No Origin (not a browser, or a same-origin GET), this board's own (the
// scheme's host and port those of the request's Host), or one of
// --allow-origin.
bool Server::from_allowed_page(MHD_Connection* c)
{
    const char* origin = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Origin");
    if (!origin)
        return true;
    const std::string o = origin;
    if (std::find(options_.allow_origins.begin(), options_.allow_origins.end(), o) != options_.allow_origins.end())
        return true;
    const char* host = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Host");
    if (!host || !*host)
        return false;
    auto lower = [](std::string t) {
        for (char& ch : t)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return t;
    };
    const std::string h = lower(host);
    return lower(o) == "http://" + h || lower(o) == "https://" + h;
}

Answer Server::create_ticket(MHD_Connection* c, const Request& r)
{
    // An empty body, or a JSON object (whose fields say nothing yet).
    std::map<std::string, std::string> fields;
    std::string why;
    if (!r.body.empty() && !read_fields(r.body, {}, &fields, &why))
        return error(400, why);
    int retry = 0;
    switch (ticket_limit_.take(client_address(c), Clock::now(), &retry)) {
    case RateLimit::address_limited:
        return busy(429, "Too many tickets from this address; try again later.", retry);
    case RateLimit::board_limited:
        return busy(429, "The board is handing out too many tickets at once; try again shortly.", retry);
    case RateLimit::taken:
        break;
    }
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    char hex[33];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    Ticket t;
    t.id = hex;
    t.seed = randombytes_random();
    t.created_ms = now_ms();
    t.expires_ms = t.created_ms + static_cast<std::int64_t>(std::llround(options_.ticket_lifetime * 1000));
    t.used = false;
    store().add_ticket(t);
    return json_answer(201, json{{"ticket", t.id}, {"seed", t.seed}, {"expires", (t.expires_ms + 999) / 1000}});
}

Answer Server::submit_game(MHD_Connection* c, Request& r, bool* suspend)
{
    const std::int64_t arrived = now_ms();
    int retry = 0;
    if (game_limit_.take(client_address(c), Clock::now(), &retry) != RateLimit::taken)
        return busy(429, "Too many games from this address; try again later.", retry);
    std::map<std::string, std::string> body;
    std::string why;
    if (!read_fields(r.body, {{"ticket", 64}, {"name", 256}, {"replay", MAX_BODY}}, &body, &why))
        return error(400, why);
    r.release_body();
    const std::string& ticket_id = body["ticket"];
    if (ticket_id.size() != 32 || ticket_id.find_first_not_of("0123456789abcdef") != std::string::npos)
        return error(400, "The ticket is not 32 lowercase hexadecimal digits.");
    std::string name = body["name"];
    if (!check_name(&name, &why))
        return error(400, why);
    const std::string& b64 = body["replay"];
    std::string bytes(b64.size() / 4 * 3 + 3, '\0');
    size_t size = 0;
    const char* end = nullptr;
    if (b64.empty() ||
        sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), b64.data(), b64.size(),
                          nullptr, &size, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != b64.data() + b64.size())
        return error(400, "The replay is not standard base64.");
    bytes.resize(size);
    body["replay"].clear();
    body["replay"].shrink_to_fit();

    std::optional<Ticket> ticket = store().ticket(ticket_id);
    if (!ticket)
        return ticket_refused(TakeResult::unknown_ticket);
    if (ticket->used)
        return ticket_refused(TakeResult::used_ticket);
    if (ticket->expires_ms <= arrived)
        return ticket_refused(TakeResult::expired_ticket);
    ReplayHeader header;
    ReplayError replay_error;
    if (!read_replay_header(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &header,
                            &replay_error))
        return error(422, std::string("The replay is refused: ") + replay_error.text + ".");
    if (!check_game_header(header, ticket->seed, options_.verify.max_steps_per_frame, &why))
        return error(422, "The replay is refused: " + why + ".");
    // A game cannot arrive sooner after its ticket than it lasted.
    const double lasted = static_cast<double>(header.steps) * STEP_MS / 1000.0;
    const double waited = static_cast<double>(arrived - ticket->created_ms) / 1000.0;
    if (waited < lasted - options_.duration_margin - 0.01 * lasted) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "The replay is refused: the game lasted %.1f s but arrived %.1f s after its ticket.", lasted,
                      waited);
        return error(422, text);
    }

    auto s = std::make_shared<Submission>();
    s->connection = c;
    s->ticket = ticket_id;
    s->name = name;
    s->arrived_ms = arrived;
    auto replay_bytes = std::make_shared<const std::string>(std::move(bytes));
    // Suspended before a worker can see the game: its verdict may come
    // before this call returns.
    if (!verify_.submit(
            replay_bytes, ticket->seed,
            [this, s, replay_bytes](const Verdict& v) {
                finish(*s, *replay_bytes, v);
                MHD_resume_connection(s->connection);
            },
            [c] { MHD_suspend_connection(c); }))
        return busy(503, "The board is busy verifying other games; try again shortly.", RETRY_BUSY);
    r.submission = s;
    *suspend = true;
    return Answer{};
}

void Server::finish(Submission& s, const std::string& replay_bytes, const Verdict& v)
{
    if (v.kind == Verdict::refused) {
        s.answer = error(422, "The replay is refused: " + v.error + ".");
        return;
    }
    if (v.kind == Verdict::failed) {
        std::fprintf(stderr, "kiv-board: a verification failed: %s\n", v.error.c_str());
        s.answer = busy(503, "The game could not be verified (" + v.error + "); try again shortly.", RETRY_BUSY);
        return;
    }
    NewGame g{s.name, v.score, v.seconds, now_ms(), replay_bytes};
    std::int64_t id = 0;
    try {
        const TakeResult taken = store().add_game(s.ticket, s.arrived_ms, g, &id);
        if (taken != TakeResult::added) {
            s.answer = ticket_refused(taken);
            return;
        }
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv-board: %s\n", e.what());
        s.answer = busy(503, "The board's database cannot be reached; try again shortly.", RETRY_BUSY);
        return;
    }
    // The game is on the board: whatever fails from here on, the answer is
    // 201, without the ranks when they cannot be had (a retry would only
    // find its ticket used).
    json answer{{"id", id}, {"score", v.score}};
    try {
        Store& db = store();
        top_.renew(db);
        Game row{id, g.name, g.score, g.time_ms, g.seconds};
        Ranks ranks = ranks_of(db, row, g.time_ms);
        answer["rank"] = ranks.all;
        answer["ranks"] = {{"day", ranks.day}, {"week", ranks.week}, {"all", ranks.all}};
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv-board: game %lld is on the board, but its ranks cannot be had: %s\n",
                     static_cast<long long>(id), e.what());
    }
    s.answer = json_answer(201, answer);
}

Answer Server::top(MHD_Connection* c)
{
    const char* period_text = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "period");
    const char* limit_text = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "limit");
    std::string period = period_text ? period_text : "all";
    int p = TopCache::find(period);
    if (p < 0)
        return error(400, "The period is day, week or all.");
    long limit = 10;
    if (limit_text) {
        char* end = nullptr;
        errno = 0;
        limit = std::strtol(limit_text, &end, 10);
        if (!*limit_text || *end || errno || limit < 1 || limit > TOP_ROWS)
            return error(400, "The limit is a number from 1 to 100.");
    }
    return Answer{200, top_.get(p, limit, store(), options_.top_cache_age), "application/json", {}};
}

Answer Server::game(const std::string& id_text, bool replay)
{
    std::int64_t id = 0;
    if (!parse_game_id(id_text, &id))
        return error(404, "There is no such game.");
    if (replay) {
        std::optional<std::string> bytes = store().replay(id);
        if (!bytes)
            return error(404, "There is no such game.");
        return Answer{200,
                      *bytes,
                      "application/octet-stream",
                      {{"Content-Disposition", "attachment; filename=\"kiv-game-" + std::to_string(id) + ".rec\""}}};
    }
    std::optional<Game> g = store().game(id);
    if (!g)
        return error(404, "There is no such game.");
    return json_answer(200, json{{"id", g->id},
                                 {"name", g->name},
                                 {"score", g->score},
                                 {"time", iso_time(g->time_ms)},
                                 {"seconds", g->seconds}});
}

Answer Server::static_file(const std::string& url, const std::string& method)
{
    if (method != "GET" && method != "HEAD") {
        Answer a = error(405, "Only GET and HEAD are served here.");
        a.headers.push_back({"Allow", "GET, HEAD"});
        return a;
    }
    std::string path = url == "/" ? "/index.html" : url;
    // Plain names only, from the root: no empty, hidden, "." or ".." parts,
    // no backslash or NUL.
    bool ok = !web_root_.empty() && path.size() > 1 && path.size() < 512 && path[0] == '/' &&
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
    char* real = realpath((web_root_ + path).c_str(), nullptr);
    const std::string full = real ? real : "", under = web_root_ == "/" ? "/" : web_root_ + "/";
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
    a.headers.push_back({"Cache-Control", "no-cache"});
    a.headers.push_back({"Content-Security-Policy", PAGE_POLICY});
    a.fd = fd;
    a.file_size = static_cast<std::uint64_t>(st.st_size);
    return a;
}

int Server::run()
{
    sockaddr_storage address;
    if (!parse_address(options_.listen, &address)) {
        std::fprintf(stderr, "kiv-board: --listen takes an IPv4 or IPv6 address, not %s\n", options_.listen.c_str());
        return 2;
    }
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG | MHD_USE_TURBO;
    if (address.ss_family == AF_INET6) {
        flags |= MHD_USE_IPv6;
        reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(static_cast<uint16_t>(options_.port));
    } else {
        reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(options_.port));
    }
    // The database and the verifier are checked before the port opens.
    try {
        store();
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv-board: %s\n", e.what());
        return 1;
    }
    // (With time enough for a machine that is busy: it is the shutting in
    // that is checked, not the speed.)
    VerifySettings plain = options_.verify;
    plain.trial.clear();
    plain.deadline_seconds = std::max(plain.deadline_seconds, 30.0);
    const Verdict trial = run_worker(plain, "", 0);
    if (trial.kind == Verdict::failed) {
        std::fprintf(stderr, "kiv-board: games cannot be verified here: %s\n", trial.error.c_str());
        return 1;
    }
    if (options_.web_dir.empty()) {
        // The API alone.
    } else if (char* real = realpath(options_.web_dir.c_str(), nullptr)) {
        web_root_ = real;
        std::free(real);
    } else {
        std::fprintf(stderr, "kiv-board: no page is served: --web %s: %s\n", options_.web_dir.c_str(),
                     std::strerror(errno));
    }
    // SIGINT and SIGTERM are waited for here, in no other thread.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Server::on_request, this, MHD_OPTION_EXTERNAL_LOGGER, &log_library, nullptr,
        MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(options_.threads), MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(std::ceil(options_.request_timeout)), MHD_OPTION_CONNECTION_LIMIT, 4096u,
        MHD_OPTION_NOTIFY_COMPLETED, &Server::on_completed, this, MHD_OPTION_END);
    if (!daemon) {
        std::fprintf(stderr, "kiv-board: cannot listen on %s port %d\n", options_.listen.c_str(), options_.port);
        return 1;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    std::printf("kiv-board: serving http://%s%s%s:%u/ (board in %s)\n", address.ss_family == AF_INET6 ? "[" : "",
                options_.listen.c_str(), address.ss_family == AF_INET6 ? "]" : "", info ? info->port : 0,
                options_.store.database.empty() ? (options_.store.data_dir + "/board.sqlite").c_str()
                                                : "PostgreSQL");
    std::fflush(stdout);
    // Every minute the rate limits forget the addresses whose buckets are
    // full again; once an hour the tickets that expired a day ago go.
    for (int minute = 1;; minute++) {
        timespec wait{60, 0};
        int sig = sigtimedwait(&stop, nullptr, &wait);
        if (sig == SIGINT || sig == SIGTERM)
            break;
        ticket_limit_.forget_full(Clock::now());
        game_limit_.forget_full(Clock::now());
        if (minute % 60 != 0)
            continue;
        try {
            store().drop_tickets(now_ms() - 24LL * 3600 * 1000);
        } catch (const StoreError& e) {
            std::fprintf(stderr, "kiv-board: %s\n", e.what());
        }
    }
    verify_.stop();
    MHD_stop_daemon(daemon);
    return 0;
}

} // namespace

int serve(const ServerOptions& options)
{
    if (sodium_init() < 0) {
        std::fprintf(stderr, "kiv-board: libsodium cannot start\n");
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    Server server(options);
    return server.run();
}

} // namespace kiv::board
