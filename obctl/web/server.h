// obctl serve: the page and its API over HTTP (libmicrohttpd), each
// connection on a thread of its own within fixed limits, so that a slow or
// stuck client holds up neither another client nor an add in progress.
#pragma once

#include <signal.h>
#include <stdint.h>
#include <sys/socket.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "medium_dir.h"
#include "sessions.h"
#include "upload.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace obctl {

// Not 80, 443, 8001 or 8002, which the boxes' images serve their own pages
// and streams on.
constexpr uint16_t default_port = 8190;

struct ServeOptions {
    std::string listen;  // "ADDRESS:PORT", "[IPv6]:PORT" or "PORT"; "" for every IPv4 address
    unsigned connections = 16;             // at once, in all
    unsigned per_address = 6;              // at once, from one address (a browser opens six)
    unsigned idle_seconds = 60;            // a connection that sends nothing that long is closed
    size_t connection_memory = 32 * 1024;  // per connection; the request's headers must fit
    int64_t first_login_wait_ms = 1000;
    int64_t session_idle_ms = 12 * 3600 * 1000;
    int restart_delay_ms = 1500;  // "Boot now": the answer leaves before the reboot
};

// The address to listen on; false with the reason when text is none.
bool parse_listen(const std::string& text, sockaddr_storage& address, socklen_t& size,
                  std::string& error);

class WebServer {
public:
    WebServer(const Medium& medium, const ServeOptions& options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens; false with the reason when it cannot.
    bool start(std::string& error);
    uint16_t port() const;
    // Ends an add in progress (nothing of it is listed), then every connection.
    void stop();

    // libmicrohttpd's callbacks.
    struct Request;
    int handle(MHD_Connection* connection, const char* url, const char* method,
               const char* upload_data, size_t* upload_data_size, void** state);
    void completed(MHD_Connection* connection, void** state, int how);

private:
    int first_call(MHD_Connection* connection, Request& request, const std::string& url,
                   const std::string& method);
    int api_call(MHD_Connection* connection, const std::string& name);
    int start_upload(MHD_Connection* connection, Request& request);
    int finish_call(MHD_Connection* connection, Request& request);
    int log_in(MHD_Connection* connection, Request& request);
    bool logged_in(MHD_Connection* connection);
    void wait_or_stop(int64_t ms);
    std::shared_ptr<UploadAdd> running_add();

    const Medium& medium_;  // the serving verb's, which outlives the server
    ServeOptions options_;
    std::string own_name_;
    MHD_Daemon* daemon_ = nullptr;
    Sessions sessions_;
    LoginThrottle throttle_;
    std::mutex add_lock_;
    std::shared_ptr<UploadAdd> add_;  // the running or last add
    unsigned adds_ = 0;               // adds started
    volatile sig_atomic_t stop_add_ = 0;
    std::mutex stop_lock_;
    std::condition_variable stopping_;
    bool stopped_ = false;
};

}  // namespace obctl
