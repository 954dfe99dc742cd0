// serve and web: the web page, its password, and its start at boot.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>

#include "autostart.h"
#include "control_file.h"
#include "kernel.h"
#include "server.h"
#include "terminal.h"
#include "verbs.h"
#include "web_password.h"

namespace obctl {

namespace {

// The addresses a browser on the home network reaches this machine by.
std::string page_addresses(const std::string& listen, uint16_t port) {
    const std::string tail = ":" + std::to_string(port) + "/";
    const bool every = listen.empty() || listen.compare(0, 8, "0.0.0.0:") == 0;
    if (!every) {
        const std::string host = listen.substr(0, listen.rfind(':'));
        return "http://" + (host.empty() || host == listen ? "ADDRESS" : host) + tail;
    }
    std::string found;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) == 0) {
        for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
            if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                      sizeof text);
            if (std::string(text).compare(0, 4, "127.") == 0) continue;
            found += (found.empty() ? "" : " or ") + std::string("http://") + text + tail;
        }
        freeifaddrs(all);
    }
    return found.empty() ? "http://ADDRESS" + tail : found;
}

bool password_from_file(const std::string& path, std::string& password, std::string& error) {
    char line[256];
    if (ob::read_control_file(path.c_str(), line, sizeof line, sizeof line - 1) < 0) {
        error = path + ": no readable file";
        return false;
    }
    ob::cut_at_any(line, "\r\n");
    password = line;
    return true;
}

bool typed_password(std::string& password, std::string& error) {
    std::string again;
    if (!read_secret("Password for the web page: ", password) ||
        !read_secret("The password again: ", again)) {
        error = "no password typed (give it with --password-file FILE where no terminal asks)";
        return false;
    }
    if (password != again) {
        error = "the two passwords differ; nothing is changed";
        return false;
    }
    return true;
}

int web_password(const Invocation& run, const Medium& medium) {
    if ((run.options & takes_listen) != 0) return fail(run, "password takes no --listen");
    if ((run.options & takes_off) != 0) {
        if ((run.options & takes_password_file) != 0)
            return fail(run, "--off and --password-file exclude each other");
        return report(run, remove_web_password(medium));
    }
    std::string password;
    std::string error;
    const bool got = (run.options & takes_password_file) != 0
                         ? password_from_file(run.password_file, password, error)
                         : typed_password(password, error);
    if (!got) return fail(run, error);
    return report(run, set_web_password(medium, password));
}

}  // namespace

int verb_web(const Invocation& run, const Medium& medium) {
    const std::string& action = run.args[0];
    if (action == "password") return web_password(run, medium);
    if ((run.options & (takes_password_file | takes_off)) != 0)
        return fail(run, "--password-file and --off go with web password");
    if (action == "enable") {
        if ((run.options & takes_listen) != 0) {
            sockaddr_storage address;
            socklen_t size = 0;
            std::string error;
            if (!parse_listen(run.listen, address, size, error)) return fail(run, error);
        }
        return report(run, enable_web(run.listen));
    }
    if (action == "disable") {
        if ((run.options & takes_listen) != 0) return fail(run, "disable takes no --listen");
        return report(run, disable_web());
    }
    ob::print_to(2,
                 "obctl: usage: obctl web password [--password-file FILE|--off], obctl web "
                 "enable [--listen ADDR:PORT], obctl web disable\n");
    return usage_error;
}

int verb_serve(const Invocation& run, const Medium& medium) {
    if (web_password_hash(medium).empty())
        return fail(run,
                    "no password is set for the web page: set one with obctl web password "
                    "(the page never opens without)");
    // The server's threads inherit this mask, so these signals come to the
    // wait below only.
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&ending, signal);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ServeOptions options;
    options.listen = run.listen;
    WebServer server(medium, options);
    std::string error;
    if (!server.start(error)) return fail(run, error);
    ob::printf_to(1, "obctl serve: the page for %s is at %s (Ctrl-C ends it)\n", medium.top.c_str(),
                  page_addresses(run.listen, server.port()).c_str());
    int received = 0;
    sigwait(&ending, &received);
    server.stop();
    ob::printf_to(1, "obctl serve: ended (%s)\n", strsignal(received));
    return done;
}

}  // namespace obctl
