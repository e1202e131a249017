// kiv-board's HTTP side, on libmicrohttpd (epoll, a small pool of threads):
// requests and their bodies within bounds, the client's address, CORS for
// allowed pages, the web build's static files, answers. It knows nothing of
// names, tickets or games: every request under /api/ goes to the handler
// it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct MHD_Connection;

namespace kiv::board {

using json = nlohmann::ordered_json;

// The largest request body.
constexpr size_t MAX_BODY = 2 * 1024 * 1024;

struct Header {
    std::string name, value;
};

// An answer sent as it comes: an event stream (text/event-stream). Text is
// pushed from any thread; the connection sleeps (libmicrohttpd suspends
// it: no thread waits for it) while nothing is ready, and wakes when text
// comes. The stream ends once it was ended and all of it was sent, or when
// it was closed.
// Connections open at once, at most.
constexpr int MAX_CONNECTIONS = 16384;

class EventStream {
public:
    // Appends text (an event, or a comment), and the end after it when
    // `end`; false, and the stream is closed, when more than max_bytes
    // would wait to be sent (a reader that does not read). Text pushed
    // `whole` (a game's catch-up, whatever its size) is always kept, and
    // only what waits beyond it counts against max_bytes.
    bool push(const std::string& text, bool end, size_t max_bytes, bool whole = false);
    // Ends it at once, whatever waits.
    void close();
    // The connection went: nothing more is sent.
    bool gone();
    size_t waiting();
    // The text kept: what waits, and nothing already sent.
    size_t held();

    // For the HTTP side: up to `max` bytes into buf; 0 (the connection
    // then sleeps until text comes), or -1 at the end.
    long read(char* buf, size_t max, MHD_Connection* c);
    void finished();

private:
    std::mutex mutex_;
    std::string text_;
    size_t sent_ = 0, whole_end_ = 0;
    bool ended_ = false, gone_ = false;
    MHD_Connection* sleeping_ = nullptr;
};

struct Answer {
    int status = 200;
    std::string body;
    std::string type = "application/json";
    std::vector<Header> headers;
    int fd = -1;  // a file to send instead of the body, closed once sent
    std::uint64_t file_size = 0;
    std::shared_ptr<EventStream> stream = nullptr;  // sent instead of the body, as it comes
};

Answer json_answer(int status, const json& body);
// {"error": message}
Answer error(int status, const std::string& message);
// The same with Retry-After.
Answer busy(int status, const std::string& message, int retry_after);

// A request under /api/, its body whole.
class HttpRequest {
public:
    std::string method;
    std::string path;     // without the query
    std::string body;
    std::string client;   // the client's address: the peer, or the one a trusted proxy names
    std::int64_t arrived_ms = 0;  // the server's clock when the body was complete

    // A header or a query argument, or nullptr.
    const char* header(const char* name) const;
    const char* argument(const char* name) const;
    // Content-Type is application/json (parameters aside).
    bool is_json() const;
    // No Origin (not a browser, or a same-origin GET), this board's own
    // (the scheme's host and port those of the request's Host), or one of
    // the allowed origins.
    bool from_allowed_page() const;

    MHD_Connection* connection = nullptr;
    const std::vector<std::string>* allowed_origins = nullptr;
};

struct HttpOptions {
    std::string listen = "127.0.0.1";
    int port = 8000;
    std::string web_dir;  // empty: the API alone
    std::vector<std::string> allow_origins;
    std::vector<std::string> trusted_proxies;
    int threads = 2;
    double request_timeout = 10;  // seconds for a whole request
};

class HttpServer {
public:
    using Handler = std::function<Answer(HttpRequest&)>;
    HttpServer(const HttpOptions& options, Handler api);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens and serves on threads of its own; false, saying why on
    // standard error, when it cannot.
    bool start();
    // The port it listens on.
    unsigned port() const;
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The canonical text of an IPv4 or IPv6 address, or "" when it is none.
std::string canonical_address(const std::string& text);

} // namespace kiv::board
