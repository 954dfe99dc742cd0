#include "server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/utsname.h>

#include <utility>
#include <vector>

#include "api.h"
#include "box_restart.h"
#include "build_info.h"
#include "kernel.h"
#include "page_files.h"
#include "request_rules.h"
#include "web_password.h"

namespace obctl {

namespace {

constexpr const char* cookie_name = "obsession";
// Every JSON body but an upload's is small.
constexpr size_t largest_body = 64 * 1024;

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Kind {
    const char* suffix;
    const char* type;
};
const Kind kinds[] = {
    {".html", "text/html; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
};

const char* type_of(const std::string& name) {
    for (const Kind& kind : kinds) {
        const size_t length = strlen(kind.suffix);
        if (name.size() > length && name.compare(name.size() - length, length, kind.suffix) == 0)
            return kind.type;
    }
    return "application/octet-stream";
}

// What every answer carries: nothing cached, no sniffing, no framing by
// another site, no referrer, and the page's own files only.
void common_headers(MHD_Response* response) {
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
                            "form-action 'none'; base-uri 'none'");
}

int send(MHD_Connection* connection, int status, MHD_Response* response, const Headers& headers) {
    if (response == nullptr) return MHD_NO;
    common_headers(response);
    for (const auto& header : headers)
        MHD_add_response_header(response, header.first.c_str(), header.second.c_str());
    const int queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    return queued;
}

int send_json(MHD_Connection* connection, const Reply& reply, Headers headers = {}) {
    const std::string text = json_line(reply.body);
    headers.emplace_back("Content-Type", "application/json");
    return send(connection, reply.status,
                MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()),
                                                MHD_RESPMEM_MUST_COPY),
                headers);
}

int send_error(MHD_Connection* connection, int status, const std::string& message) {
    return send_json(connection, error_reply(status, message));
}

int send_page_file(MHD_Connection* connection, const std::string& url) {
    const std::string name = url == "/" ? "index.html" : url.substr(1);
    for (size_t i = 0; i < page_file_count; ++i) {
        const PageFile& file = page_files[i];
        if (name != file.name) continue;
        return send(connection, 200,
                    MHD_create_response_from_buffer(
                        file.size, const_cast<unsigned char*>(file.data), MHD_RESPMEM_PERSISTENT),
                    {{"Content-Type", type_of(name)}});
    }
    return send_error(connection, 404, "no page " + url);
}

// A header, a cookie or an argument, whole: false when it is missing.
bool value_of(MHD_Connection* connection, MHD_ValueKind kind, const char* name,
              std::string& value) {
    const char* text = nullptr;
    size_t size = 0;
    if (MHD_lookup_connection_value_n(connection, kind, name, strlen(name), &text, &size) !=
            MHD_YES ||
        text == nullptr)
        return false;
    value.assign(text, size);
    return true;
}

std::string client_address(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "?";
    if (info == nullptr || info->client_addr == nullptr) return text;
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    return text;
}

std::string session_cookie(const std::string& key) {
    return std::string(cookie_name) + "=" + key + "; HttpOnly; SameSite=Strict; Path=/" +
           (key.empty() ? "; Max-Age=0" : "");
}

// The upload's free-space check, made before a byte of it is read: the
// archive takes at least its own size once unpacked.
bool plain_number(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

MHD_Result on_request(void* self, MHD_Connection* connection, const char* url, const char* method,
                      const char*, const char* upload_data, size_t* upload_data_size,
                      void** state) {
    return static_cast<MHD_Result>(static_cast<WebServer*>(self)->handle(
        connection, url, method, upload_data, upload_data_size, state));
}

void on_completed(void* self, MHD_Connection* connection, void** state,
                  MHD_RequestTerminationCode how) {
    static_cast<WebServer*>(self)->completed(connection, state, how);
}

}  // namespace

struct WebServer::Request {
    // reading: a GET, answered at the second call, which keeps the
    // connection open for the next request (an answer queued at the first
    // closes it).
    enum Kind { answered, reading, with_body, upload } kind = answered;
    std::string method;
    std::string client;
    std::string url;
    std::string body;
    bool body_too_large = false;
    std::shared_ptr<UploadAdd> add;
    bool add_ended = false;
};

bool parse_listen(const std::string& text, sockaddr_storage& address, socklen_t& size,
                  std::string& error) {
    memset(&address, 0, sizeof address);
    std::string host = "0.0.0.0";
    std::string port = text;
    const size_t colon = text.rfind(':');
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "--listen takes [IPv6]:PORT, ADDRESS:PORT or PORT, not " + text;
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    uint64_t number = 0;
    if (!plain_number(port, number) || number > 65535) {
        error = "--listen takes [IPv6]:PORT, ADDRESS:PORT or PORT, not " + text;
        return false;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(number));
        size = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(number));
        size = sizeof *v6;
        return true;
    }
    error = "--listen: " + host + " is no IPv4 or IPv6 address";
    return false;
}

WebServer::WebServer(const Medium& medium, const ServeOptions& options)
    : medium_(medium),
      options_(options),
      sessions_(options.session_idle_ms),
      throttle_(options.first_login_wait_ms) {
    struct utsname name;
    if (ob::kernel().uname(&name) == 0) own_name_ = name.nodename;
}

WebServer::~WebServer() { stop(); }

bool WebServer::start(std::string& error) {
    sockaddr_storage address;
    socklen_t size = 0;
    if (!parse_listen(options_.listen.empty() ? std::to_string(default_port) : options_.listen,
                      address, size, error))
        return false;
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
    if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
    // Each connection's thread: the API's answers and the password's hash.
    constexpr size_t stack = 256 * 1024;
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, on_request, this, MHD_OPTION_SOCK_ADDR,
                               reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
                               options_.connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                               options_.per_address, MHD_OPTION_CONNECTION_TIMEOUT,
                               options_.idle_seconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                               options_.connection_memory, MHD_OPTION_THREAD_STACK_SIZE, stack,
                               MHD_OPTION_NOTIFY_COMPLETED, on_completed, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        error =
            "cannot listen on " +
            (options_.listen.empty() ? "port " + std::to_string(default_port) : options_.listen) +
            " (in use, or not this machine's address?)";
        return false;
    }
    return true;
}

uint16_t WebServer::port() const {
    const MHD_DaemonInfo* info =
        daemon_ != nullptr ? MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    return info != nullptr ? info->port : 0;
}

void WebServer::stop() {
    {
        std::lock_guard<std::mutex> hold(stop_lock_);
        stopped_ = true;
    }
    stopping_.notify_all();
    stop_add_ = 1;
    if (const std::shared_ptr<UploadAdd> add = running_add()) add->cut("the server stopped");
    if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

void WebServer::wait_or_stop(int64_t ms) {
    std::unique_lock<std::mutex> hold(stop_lock_);
    stopping_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return stopped_; });
}

std::shared_ptr<UploadAdd> WebServer::running_add() {
    std::lock_guard<std::mutex> hold(add_lock_);
    return add_ != nullptr && !add_->progress().finished ? add_ : nullptr;
}

bool WebServer::logged_in(MHD_Connection* connection) {
    std::string key;
    return value_of(connection, MHD_COOKIE_KIND, cookie_name, key) &&
           sessions_.use(key, ob::kernel().monotonic_ms());
}

int WebServer::handle(MHD_Connection* connection, const char* url, const char* method,
                      const char* upload_data, size_t* upload_data_size, void** state) {
    if (*state == nullptr) {
        auto* request = new Request;
        *state = request;
        request->client = client_address(connection);
        request->url = url;
        request->method = method;
        return first_call(connection, *request, url, method);
    }
    Request& request = *static_cast<Request*>(*state);
    if (*upload_data_size == 0) return finish_call(connection, request);
    const size_t size = *upload_data_size;
    *upload_data_size = 0;
    if (request.kind == Request::upload) {
        // Once the add has ended early (a refused archive), the rest of the
        // body is read and dropped, so that the answer can tell why; the page
        // knows sooner from GET /api/add and stops sending.
        if (!request.add_ended) request.add_ended = !request.add->put(upload_data, size);
        return MHD_YES;
    }
    if (request.body.size() + size > largest_body)
        request.body_too_large = true;
    else
        request.body.append(upload_data, size);
    return MHD_YES;
}

int WebServer::first_call(MHD_Connection* connection, Request& request, const std::string& url,
                          const std::string& method) {
    std::string host;
    if (!value_of(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST, host) ||
        !host_allowed(host, own_name_))
        return send_error(
            connection, 403,
            "the page answers to the box's address or host name only (Host: " + host + ")");
    const bool reads = method == "GET" || method == "HEAD";
    if (url.compare(0, 5, "/api/") != 0) {
        if (!reads) return send_error(connection, 405, method + " is not taken here");
        request.kind = Request::reading;
        return MHD_YES;
    }
    const std::string name = url.substr(5);
    if (method == "POST") {
        std::string flag;
        std::string origin;
        if (!value_of(connection, MHD_HEADER_KIND, change_header, flag) || flag != "1")
            return send_error(connection, 403,
                              std::string("a change needs the header ") + change_header + ": 1");
        if (value_of(connection, MHD_HEADER_KIND, "Origin", origin) &&
            !origin_matches(origin, host))
            return send_error(connection, 403, "refused origin " + origin);
    } else if (!reads) {
        return send_error(connection, 405, method + " is not taken here");
    }
    if (name != "login" && !logged_in(connection))
        return send_error(connection, 401, "log in first");
    if (reads) {
        request.kind = Request::reading;
        return MHD_YES;
    }
    if (name == "add") return start_upload(connection, request);
    if (name != "login" && name != "logout" && !is_change(name))
        return send_error(connection, 404, "no action " + name);
    request.kind = Request::with_body;
    return MHD_YES;
}

int WebServer::api_call(MHD_Connection* connection, const std::string& name) {
    Reply reply;
    if (name == "web") {
        std::string command;
        reply.body = {{"version", ob::version},
                      {"host", json_text(own_name_)},
                      {"restarts", can_restart(medium_, command).ok()}};
        return send_json(connection, reply);
    }
    if (name == "add") {
        std::lock_guard<std::mutex> hold(add_lock_);
        reply.body = add_ != nullptr ? add_->progress_json() : Json(nullptr);
        return send_json(connection, reply);
    }
    if (name == "settings/check") {
        std::string key;
        std::string value;
        value_of(connection, MHD_GET_ARGUMENT_KIND, "key", key);
        value_of(connection, MHD_GET_ARGUMENT_KIND, "value", value);
        return send_json(connection, check_setting(key, value));
    }
    if (const std::shared_ptr<UploadAdd> add = running_add())
        return send_error(connection, 409, "the medium is in use by " + add->description());
    MediumLock lock;
    std::string error;
    if (!lock.try_take(medium_, false, error)) return send_error(connection, 409, error);
    if (!read_medium(medium_, name, reply)) return send_error(connection, 404, "no data " + name);
    return send_json(connection, reply);
}

int WebServer::start_upload(MHD_Connection* connection, Request& request) {
    AddRequest add;
    std::string replace;
    std::string file = "the upload";
    std::string length;
    value_of(connection, MHD_GET_ARGUMENT_KIND, "name", add.name);
    value_of(connection, MHD_GET_ARGUMENT_KIND, "label", add.label);
    value_of(connection, MHD_GET_ARGUMENT_KIND, "slot", add.slot);
    value_of(connection, MHD_GET_ARGUMENT_KIND, "replace", replace);
    value_of(connection, MHD_GET_ARGUMENT_KIND, "file", file);
    add.replace = replace == "1";
    for (const std::string* text : {&add.name, &add.label, &add.slot, &file})
        if (text->find('\0') != std::string::npos)
            return send_error(connection, 400, "a NUL byte in the add's arguments");
    uint64_t size = 0;
    if (value_of(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH, length) &&
        !plain_number(length, size))
        return send_error(connection, 400, "Content-Length is no number");
    if (const std::shared_ptr<UploadAdd> running = running_add())
        return send_error(connection, 409, "the medium is in use by " + running->description());
    unsigned id = 0;
    {
        std::lock_guard<std::mutex> hold(add_lock_);
        id = ++adds_;
    }
    auto job = std::make_shared<UploadAdd>(id, medium_, add, file, size, request.client);
    Outcome can = job->can_start();
    if (can.ok()) can = room_for(medium_, file, size);
    if (can.ok() && !job->start(stop_add_)) can = outcome(Outcome::failed, "no thread for the add");
    if (!can.ok()) return send_json(connection, outcome_reply(can));
    {
        std::lock_guard<std::mutex> hold(add_lock_);
        add_ = job;
    }
    request.add = job;
    request.kind = Request::upload;
    return MHD_YES;
}

int WebServer::log_in(MHD_Connection* connection, Request& request) {
    const int64_t wait = throttle_.wait_ms(request.client);
    if (wait > 0) wait_or_stop(wait);
    const Json body = Json::parse(request.body, nullptr, false);
    const auto password = body.is_object() ? body.find("password") : body.end();
    if (password == body.end() || !password->is_string())
        return send_error(connection, 400, "password is missing (a string)");
    const std::string hash = web_password_hash(medium_);
    if (hash.empty()) return send_error(connection, 503, "no password is set (obctl web password)");
    if (!password_matches(hash, password->get_ref<const std::string&>())) {
        throttle_.failed(request.client, ob::kernel().monotonic_ms());
        return send_error(connection, 401, "wrong password");
    }
    throttle_.succeeded(request.client);
    const std::string key = sessions_.open(ob::kernel().monotonic_ms());
    if (key.empty()) return send_error(connection, 500, "/dev/urandom cannot be read");
    Reply reply;
    reply.body = {{"message", "logged in"}};
    return send_json(connection, reply, {{"Set-Cookie", session_cookie(key)}});
}

int WebServer::finish_call(MHD_Connection* connection, Request& request) {
    if (request.kind == Request::answered) return MHD_YES;
    if (request.kind == Request::reading) {
        request.kind = Request::answered;
        if (request.url.compare(0, 5, "/api/") != 0) return send_page_file(connection, request.url);
        return api_call(connection, request.url.substr(5));
    }
    if (request.kind == Request::upload) {
        const Outcome verdict = request.add->finish();
        Reply reply = outcome_reply(verdict);
        reply.body["add"] = request.add->progress_json();
        request.kind = Request::answered;
        return send_json(connection, reply);
    }
    request.kind = Request::answered;
    if (request.body_too_large)
        return send_error(connection, 413, "the request's body is larger than 64 KiB");
    const std::string name = request.url.substr(5);
    if (name == "login") return log_in(connection, request);
    if (name == "logout") {
        std::string key;
        if (value_of(connection, MHD_COOKIE_KIND, cookie_name, key)) sessions_.close(key);
        Reply reply;
        reply.body = {{"message", "logged out"}};
        return send_json(connection, reply, {{"Set-Cookie", session_cookie("")}});
    }
    if (const std::shared_ptr<UploadAdd> add = running_add())
        return send_error(connection, 409, "the medium is in use by " + add->description());
    MediumLock lock;
    std::string error;
    if (!lock.try_take(medium_, true, error)) return send_error(connection, 409, error);
    std::string restart;
    const int sent = send_json(connection, change_medium(medium_, name, request.body, restart));
    if (!restart.empty()) restart_soon(restart, options_.restart_delay_ms);
    return sent;
}

void WebServer::completed(MHD_Connection*, void** state, int how) {
    auto* request = static_cast<Request*>(*state);
    if (request == nullptr) return;
    if (request->add != nullptr && how != MHD_REQUEST_TERMINATED_COMPLETED_OK)
        request->add->cut(how == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED
                              ? "the upload stalled and was ended"
                              : "the upload broke off");
    delete request;
    *state = nullptr;
}

}  // namespace obctl
