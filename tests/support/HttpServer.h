#pragma once
// Test support: a small HTTP/1.1 server on a free loopback port. It serves fixed pages
// and records every request, so a test can see what the browser sent (headers such as
// User-Agent) and what a test page reported back (for example fetch('/report?...')).
// A path can be held: its requests are recorded when they arrive and answered only once
// it is released (a slow resource), while every other request is served meanwhile.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Process.h"

namespace norv::test {

struct HttpRequest {
    std::string method;
    std::string target;                         // path with query, as sent
    std::string path;                           // without the query
    std::string query;                          // after '?', still percent-encoded
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(const std::string& lowerName) const;
    // A query parameter, percent-decoded ('+' as blank).
    std::optional<std::string> param(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
};

class HttpServer {
public:
    // On a free port of the loopback interface, or on `port` when it is not 0.
    explicit HttpServer(std::uint16_t port = 0);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT" + path
    std::string url(const std::string& path = "/") const;

    // Serves `body` at `path` (exact match, without query). Unknown paths get 404, and
    // every request, served or not, is recorded. A request with a byte range
    // ("Range: bytes=FIRST-[LAST]") gets those bytes of a successful answer (206).
    void serve(const std::string& path, std::string body,
               std::string contentType = "text/html; charset=utf-8");
    // A handler for requests no fixed page answers.
    void setFallback(std::function<HttpResponse(const HttpRequest&)> handler);
    // Requests to `path` wait for release(path) (or the server's end) before they are
    // answered.
    void hold(const std::string& path);
    void release(const std::string& path);

    std::vector<HttpRequest> requests() const;
    // Waits for a recorded request that matches; searches all requests seen so far first.
    std::optional<HttpRequest> waitFor(const std::function<bool(const HttpRequest&)>& match,
                                       std::chrono::milliseconds deadline = 30s) const;
    // Waits for a request to `path` (without query).
    std::optional<HttpRequest> waitForPath(const std::string& path,
                                           std::chrono::milliseconds deadline = 30s) const;
    // How many requests matched so far.
    std::size_t count(const std::function<bool(const HttpRequest&)>& match) const;

private:
    void loop();
    void handle(int client);
    void record(HttpRequest request);

    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::vector<std::thread> clients_; // one per connection, joined at the end
    bool stopping_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, HttpResponse> pages_;
    std::function<HttpResponse(const HttpRequest&)> fallback_;
    std::vector<HttpRequest> requests_;
    std::vector<std::string> held_;
};

} // namespace norv::test
