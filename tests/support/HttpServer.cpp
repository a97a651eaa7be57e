#include "tests/support/HttpServer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norv::test {

namespace {
std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(const std::string& s) {
    auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && std::isxdigit((unsigned char)s[i + 1]) &&
                   std::isxdigit((unsigned char)s[i + 2])) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

const char* reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 416:
        return "Range Not Satisfiable";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}

void sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}
} // namespace

std::string HttpRequest::header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

std::optional<std::string> HttpRequest::param(const std::string& name) const {
    std::size_t pos = 0;
    while (pos <= query.size()) {
        std::size_t end = query.find('&', pos);
        if (end == std::string::npos)
            end = query.size();
        std::string item = query.substr(pos, end - pos);
        std::size_t eq = item.find('=');
        if (percentDecode(item.substr(0, eq)) == name)
            return eq == std::string::npos ? std::string() : percentDecode(item.substr(eq + 1));
        pos = end + 1;
    }
    return std::nullopt;
}

HttpServer::HttpServer(std::uint16_t port) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0)
        throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 64) != 0)
        throw std::runtime_error(std::string("bind/listen: ") + std::strerror(errno));
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    thread_ = std::thread([this] { loop(); });
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        held_.clear();
    }
    changed_.notify_all();
    char c = 'x';
    [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
    if (thread_.joinable())
        thread_.join();
    for (std::thread& client : clients_)
        client.join();
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::string HttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpServer::serve(const std::string& path, std::string body, std::string contentType) {
    std::lock_guard lock(mutex_);
    pages_[path] = HttpResponse{200, std::move(contentType), std::move(body)};
}

void HttpServer::setFallback(std::function<HttpResponse(const HttpRequest&)> handler) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(handler);
}

void HttpServer::hold(const std::string& path) {
    std::lock_guard lock(mutex_);
    held_.push_back(path);
}

void HttpServer::release(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        std::erase(held_, path);
    }
    changed_.notify_all();
}

void HttpServer::record(HttpRequest request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<HttpRequest> HttpServer::waitFor(const std::function<bool(const HttpRequest&)>& match,
                                               std::chrono::milliseconds deadline) const {
    std::unique_lock lock(mutex_);
    std::optional<HttpRequest> found;
    changed_.wait_for(lock, deadline, [&] {
        for (const auto& r : requests_)
            if (match(r)) {
                found = r;
                return true;
            }
        return false;
    });
    return found;
}

std::optional<HttpRequest> HttpServer::waitForPath(const std::string& path,
                                                   std::chrono::milliseconds deadline) const {
    return waitFor([&](const HttpRequest& r) { return r.path == path; }, deadline);
}

std::size_t HttpServer::count(const std::function<bool(const HttpRequest&)>& match) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(requests_.begin(), requests_.end(), match));
}

void HttpServer::loop() {
    while (true) {
        pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                // A held request must not keep the others waiting.
                clients_.emplace_back([this, client] {
                    handle(client);
                    ::close(client);
                });
            }
        }
    }
}

void HttpServer::handle(int client) {
    // One request per connection: the response says "Connection: close".
    timeval tv{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string data;
    char buf[8192];
    std::size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > (1u << 20))
            return;
    }
    HttpRequest req;
    std::size_t lineEnd = data.find("\r\n");
    std::string requestLine = data.substr(0, lineEnd);
    auto sp1 = requestLine.find(' ');
    auto sp2 = requestLine.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos)
        return;
    req.method = requestLine.substr(0, sp1);
    req.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    auto q = req.target.find('?');
    req.path = req.target.substr(0, q);
    req.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    std::size_t pos = lineEnd + 2;
    while (pos < headerEnd) {
        std::size_t end = data.find("\r\n", pos);
        std::string line = data.substr(pos, end - pos);
        auto colon = line.find(':');
        if (colon != std::string::npos)
            req.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        pos = end + 2;
    }
    std::size_t length = 0;
    if (auto cl = req.header("content-length"); !cl.empty())
        length = std::min<std::size_t>(std::stoul(cl), 16u << 20);
    req.body = data.substr(headerEnd + 4);
    while (req.body.size() < length) {
        ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        req.body.append(buf, static_cast<std::size_t>(n));
    }

    HttpResponse response{404, "text/plain", "not found"};
    std::function<HttpResponse(const HttpRequest&)> fallback;
    bool wasHeld = false;
    {
        std::unique_lock lock(mutex_);
        auto isHeld = [&] {
            return std::find(held_.begin(), held_.end(), req.path) != held_.end();
        };
        if (isHeld()) {
            wasHeld = true;
            requests_.push_back(req); // seen now, answered later
            changed_.notify_all();
            changed_.wait(lock, [&] { return stopping_ || !isHeld(); });
        }
        if (auto it = pages_.find(req.path); it != pages_.end())
            response = it->second;
        else
            fallback = fallback_;
    }
    if (fallback)
        response = fallback(req);
    // A byte range of a whole answer ("bytes=FIRST-" or "bytes=FIRST-LAST"), as media
    // players ask for when they seek.
    std::string range;
    if (auto asked = req.header("range"); response.status == 200 && asked.starts_with("bytes=")) {
        const std::size_t size = response.body.size();
        std::size_t dash = asked.find('-');
        std::size_t first = 0, last = size ? size - 1 : 0;
        try {
            first = std::stoul(asked.substr(6, dash - 6));
            if (dash != std::string::npos && dash + 1 < asked.size())
                last = std::min<std::size_t>(std::stoul(asked.substr(dash + 1)), last);
        } catch (const std::exception&) {
            first = size;
        }
        if (first < size && first <= last) {
            range = "\r\nContent-Range: bytes " + std::to_string(first) + "-" +
                    std::to_string(last) + "/" + std::to_string(size);
            response.status = 206;
            response.body = response.body.substr(first, last - first + 1);
        } else {
            range = "\r\nContent-Range: bytes */" + std::to_string(size);
            response = HttpResponse{416, "text/plain", ""};
        }
    }
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       reason(response.status) + "\r\nContent-Type: " + response.contentType +
                       "\r\nContent-Length: " + std::to_string(response.body.size()) + range +
                       "\r\nAccept-Ranges: bytes"
                       "\r\nCache-Control: no-store\r\nAccess-Control-Allow-Origin: *"
                       "\r\nConnection: close\r\n\r\n";
    sendAll(client, head + (req.method == "HEAD" ? std::string() : response.body));
    if (!wasHeld)
        record(std::move(req));
}

} // namespace norv::test
