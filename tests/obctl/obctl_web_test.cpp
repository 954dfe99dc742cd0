// obctl serve over real HTTP on the loopback, against a real directory
// standing for the medium: who gets in, which requests are refused before
// they are looked at, each action's answer, and uploads that go wrong.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "medium_dir.h"
#include "medium_files.h"
#include "medium_report.h"
#include "server.h"
#include "web_password.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Response {
    int status = 0;
    std::string head;
    std::string body;
};

int connect_to(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

void send_all(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

Response read_response(int fd) {
    std::string all;
    char block[4096];
    for (ssize_t n; (n = recv(fd, block, sizeof block, 0)) > 0;)
        all.append(block, static_cast<size_t>(n));
    close(fd);
    Response r;
    const size_t end = all.find("\r\n\r\n");
    r.head = all.substr(0, end);
    r.body = end == std::string::npos ? "" : all.substr(end + 4);
    if (all.compare(0, 9, "HTTP/1.1 ") == 0) r.status = std::stoi(all.substr(9, 3));
    return r;
}

std::string request_text(const std::string& method, const std::string& path,
                         const std::string& headers, const std::string& body) {
    return method + " " + path + " HTTP/1.1\r\n" + headers + "Connection: close\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A tar holding one file, as far as add needs: an init program.
std::string small_tar() {
    std::string header(512, '\0');
    const std::string name = "sbin/init";
    const std::string data = ob_test::elf_program();
    header.replace(0, name.size(), name);
    header.replace(100, 7, "0000755");
    header.replace(108, 7, "0000000");
    header.replace(116, 7, "0000000");
    char size[12];
    snprintf(size, sizeof size, "%011o", static_cast<unsigned>(data.size()));
    header.replace(124, 11, size);
    header.replace(136, 11, "00000000000");
    header.replace(148, 8, "        ");
    header[156] = '0';
    header.replace(257, 5, "ustar");
    header.replace(263, 2, "00");
    unsigned sum = 0;
    for (unsigned char c : header)
        sum += c;
    char check[8];
    snprintf(check, sizeof check, "%06o", sum);
    header.replace(148, 7, std::string(check) + '\0');
    std::string padded = data + std::string((512 - data.size() % 512) % 512, '\0');
    return header + padded + std::string(1024, '\0');
}

class WebApi : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        work = std::string(cwd) + "/obctl-web-" + std::to_string(getpid());
        top = work + "/medium";
        ASSERT_EQ(system(("rm -rf " + work + " && mkdir -p " + top + "/ob").c_str()), 0);
        std::ofstream(top + "/ob.sh") << "";
        std::ofstream(top + "/obboot.ini") << "Flash\n";
        image("img1", "");
        image("3", "Three\n");
        std::string error;
        ASSERT_TRUE(obctl::find_medium(top, medium, error)) << error;
        ASSERT_TRUE(obctl::set_web_password(medium, password).ok());
        options.listen = "127.0.0.1:0";
        options.first_login_wait_ms = 1000;
        options.idle_seconds = 2;
        server.reset(new obctl::WebServer(medium, options));
        ASSERT_TRUE(server->start(error)) << error;
        port = server->port();
    }
    void TearDown() override {
        server.reset();
        system(("rm -rf " + work).c_str());
    }
    void image(const std::string& name, const std::string& info) {
        const std::string root = top + "/ob/" + name;
        ASSERT_EQ(system(("mkdir -p " + root + "/sbin " + root + "/media/ob " + root + "/sys " +
                          root + "/dev " + root + "/proc " + root + "/tmp")
                             .c_str()),
                  0);
        std::ofstream(root + "/.obinfo") << info;
        std::ofstream(root + "/sbin/init") << ob_test::elf_program();
        chmod((root + "/sbin/init").c_str(), 0755);
    }
    std::string file(const std::string& below_top) {
        std::ifstream in(top + "/" + below_top);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool has(const std::string& below_top) {
        return access((top + "/" + below_top).c_str(), F_OK) == 0;
    }
    std::string host() { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }
    // What a logged-in page sends with a change.
    std::string change_headers() { return host() + cookie + "X-Orbiel: 1\r\n"; }
    Response call(const std::string& method, const std::string& path, const std::string& headers,
                  const std::string& body = "") {
        const int fd = connect_to(port);
        send_all(fd, request_text(method, path, headers, body));
        return read_response(fd);
    }
    Response log_in(const std::string& given) {
        return call("POST", "/api/login", host() + "X-Orbiel: 1\r\n",
                    "{\"password\":\"" + given + "\"}");
    }
    // An upload whose body is sent by the caller: the open socket.
    int start_upload(const std::string& query, uint64_t length) {
        const int fd = connect_to(port);
        send_all(fd, "POST /api/add?" + query + " HTTP/1.1\r\n" + change_headers() +
                         "Connection: close\r\nContent-Length: " + std::to_string(length) +
                         "\r\n\r\n");
        return fd;
    }
    // The progress of the add of `file` once it has ended.
    obctl::Json finished_add(const std::string& file) {
        for (int i = 0; i < 400; ++i) {
            const obctl::Json add =
                obctl::Json::parse(call("GET", "/api/add", host() + cookie).body, nullptr, false);
            if (add.is_object() && add["file"] == file && add["finished"] == true) return add;
            usleep(50 * 1000);
        }
        return obctl::Json();
    }

    const std::string password = "a good password";
    std::string work, top, cookie;
    obctl::Medium medium;
    obctl::ServeOptions options;
    std::unique_ptr<obctl::WebServer> server;
    uint16_t port = 0;
};

// Nothing without the password; wrong ones slow down from the sixth on, a
// right one still gets in; the session's cookie is one scripts cannot read.
TEST_F(WebApi, LoginSessionsAndTheSlowDown) {
    EXPECT_EQ(call("GET", "/api/status", host()).status, 401);
    EXPECT_EQ(call("GET", "/api/status", host() + "Cookie: obsession=00ff\r\n").status, 401);
    EXPECT_EQ(call("GET", "/", host()).status, 200) << "the page itself is no secret";
    // A check of the password alone takes this long here (the hash is slow,
    // more so on an emulated CPU).
    Clock::time_point before = Clock::now();
    EXPECT_EQ(log_in(password).status, 200);
    const Clock::duration check = Clock::now() - before;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(log_in("wrong").status, 401);
    before = Clock::now();
    EXPECT_EQ(log_in("wrong").status, 401);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(1000));
    before = Clock::now();
    const Response in = log_in(password);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(2000)) << "the wait doubled";
    ASSERT_EQ(in.status, 200) << in.body;
    const size_t at = in.head.find("Set-Cookie: obsession=");
    ASSERT_NE(at, std::string::npos) << in.head;
    const std::string line = in.head.substr(at, in.head.find("\r\n", at) - at);
    EXPECT_NE(line.find("; HttpOnly; SameSite=Strict; Path=/"), std::string::npos) << line;
    const std::string key = line.substr(22, line.find(';') - 22);
    EXPECT_EQ(key.size(), 64u) << "256 random bits";
    cookie = "Cookie: obsession=" + key + "\r\n";
    EXPECT_EQ(call("GET", "/api/web", host() + cookie).status, 200);
    before = Clock::now();
    EXPECT_EQ(log_in(password).status, 200);
    EXPECT_LT(Clock::now() - before, check + std::chrono::milliseconds(1000))
        << "the right one cleared the address";
    EXPECT_EQ(call("POST", "/api/logout", change_headers(), "{}").status, 200);
    EXPECT_EQ(call("GET", "/api/web", host() + cookie).status, 401);
}

// Each action against the operation the command line calls: its answer in
// the CLI's words, and the requests refused before any of them.
TEST_F(WebApi, EveryActionAnswersAsTheOperationDoes) {
    const Response in = log_in(password);
    cookie = "Cookie: obsession=" + in.head.substr(in.head.find("obsession=") + 10, 64) + "\r\n";
    const std::string page = "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n";
    const struct {
        const char* what;
        std::string path;
        std::string body;
        std::string headers;  // "" for a logged-in page's change headers
        int status;
        const char* said;
    } rows[] = {
        {"no change header", "/api/default", R"({"name":"img1"})", host() + cookie, 403,
         "X-Orbiel"},
        {"another site's page", "/api/default", R"({"name":"img1"})",
         change_headers() + "Origin: http://evil.example\r\n", 403, "refused origin"},
        {"a name rebound to the box", "/api/default", R"({"name":"img1"})",
         "Host: evil.example:8190\r\n" + cookie + "X-Orbiel: 1\r\n", 403, "Host"},
        {"no session", "/api/default", R"({"name":"img1"})", host() + "X-Orbiel: 1\r\n", 401, ""},
        {"headers past a connection's memory", "/api/default", R"({"name":"img1"})",
         change_headers() + "X-Big: " + std::string(40000, 'a') + "\r\n", 431, ""},
        {"no JSON", "/api/default", "name=img1", "", 400, "no JSON object"},
        {"a member missing", "/api/rename", R"({"name":"img1"})", "", 400, "to is missing"},
        {"a NUL byte", "/api/default", R"({"name":"img1\u0000/../x"})", "", 400, "NUL"},
        {"no such action", "/api/format", "{}", "", 404, "no action"},
        {"default", "/api/default", R"({"name":"img1"})", change_headers() + page, 200, ""},
        {"default, no image", "/api/default", R"({"name":"ghost"})", "", 422, "no image ghost"},
        {"default, a path", "/api/default", R"({"name":"../../etc"})", "", 422,
         "no image name obinit can read back"},
        {"set", "/api/set", R"({"key":"timeout","value":"15"})", "", 200, ""},
        {"set, clamped", "/api/set", R"({"key":"timeout","value":"45"})", "", 422,
         "timeout takes a whole number of seconds from 2 to 30"},
        {"set, no setting", "/api/set", R"({"key":"../x","value":"1"})", "", 400, "no setting"},
        {"unset", "/api/unset", R"({"key":"color"})", "", 200, ""},
        {"pin", "/api/pin", R"({"pin":"1357"})", "", 200, ""},
        {"pin, not digits", "/api/pin", R"({"pin":"13a7"})", "", 422, "four digits"},
        {"rename, a slash", "/api/rename", R"({"name":"img1","to":"a/b"})", "", 422, ""},
        {"rename, a line end", "/api/rename", R"({"name":"img1","to":"a\nb"})", "", 422, ""},
        {"rename, up", "/api/rename", R"({"name":"img1","to":".."})", "", 422, ""},
        {"rename", "/api/rename", R"({"name":"img1","to":"img2"})", "", 200, ""},
        {"rename, no image", "/api/rename", R"({"name":"ghost","to":"x"})", "", 404, ""},
        {"label", "/api/label", R"({"name":"3","label":"Nightly"})", "", 200, ""},
        {"label, markup", "/api/label", R"({"name":"3","label":"<b>x</b> y"})", "", 422,
         "one word"},
        {"boot now, not a box", "/api/boot", R"({"name":"img2"})", "", 422, "no box"},
        {"remove, no image", "/api/remove", R"({"name":"ghost"})", "", 404, ""},
        {"remove", "/api/remove", R"({"name":"img2"})", "", 200, ""},
        {"check", "/api/check", "{}", "", 200, "\"findings\":["},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Response r =
            call("POST", row.path, row.headers.empty() ? change_headers() : row.headers, row.body);
        EXPECT_EQ(r.status, row.status) << r.body;
        EXPECT_NE(r.body.find(row.said), std::string::npos) << r.body;
    }
    EXPECT_EQ(file("obboot.ini"), "Flash\n") << "img1 was the default, then removed as img2";
    EXPECT_EQ(file(".obtimeout"), "15\n");
    EXPECT_EQ(file("ob/3/.obinfo"), "Nightly\n");
    EXPECT_FALSE(has("ob/img1") || has("ob/img2"));
    EXPECT_EQ(call("PUT", "/api/default", change_headers()).status, 405);
    EXPECT_EQ(call("GET", "/api/nothing", host() + cookie).status, 404);
    EXPECT_EQ(call("GET", "/api/status", "Host: [::1]:1\r\n" + cookie).status, 200);
    // The same data as the command line's, from the same function.
    EXPECT_EQ(call("GET", "/api/list", host() + cookie).body,
              obctl::json_line(obctl::list_report(medium)));
    // Another obctl at work on the medium: its command line is named.
    const int held = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const Response busy = call("POST", "/api/pin-off", change_headers(), "{}");
    EXPECT_EQ(busy.status, 409);
    EXPECT_NE(busy.body.find("in use by"), std::string::npos) << busy.body;
    EXPECT_EQ(call("GET", "/api/status", host() + cookie).status, 409);
    close(held);
    // As many connections from one address as a browser opens, and no more.
    std::vector<int> idle;
    for (unsigned i = 0; i < options.per_address; ++i)
        idle.push_back(connect_to(port));
    usleep(200 * 1000);
    EXPECT_EQ(call("GET", "/api/web", host() + cookie).status, 0) << "one too many";
    for (int fd : idle)
        close(fd);
    usleep(200 * 1000);
    EXPECT_EQ(call("GET", "/api/web", host() + cookie).status, 200);
}

// Uploads: installed as they stream in; one at a time; refused before a
// byte is read when the name or the room says no; a cut or a stalled one
// leaves nothing listed and the medium free for the next.
TEST_F(WebApi, UploadsThatGoWellAndThatDoNot) {
    const Response in = log_in(password);
    cookie = "Cookie: obsession=" + in.head.substr(in.head.find("obsession=") + 10, 64) + "\r\n";
    const std::string tar = small_tar();

    Response r = call("POST", "/api/add?name=..&file=x.tar", change_headers(), tar);
    EXPECT_EQ(r.status, 422) << r.body;
    r = read_response(start_upload("name=big&file=big.tar", 1000000000000000ull));
    EXPECT_EQ(r.status, 413) << r.body;

    // A stalled upload holds the medium, yet others are answered, and a
    // second upload hears who holds it; the idle time-out ends it.
    const int stalled = start_upload("name=slow&file=slow.tar", tar.size());
    send_all(stalled, tar.substr(0, 700));
    usleep(300 * 1000);
    EXPECT_EQ(call("GET", "/api/web", host() + cookie).status, 200);
    r = call("POST", "/api/add?name=second&file=second.tar", change_headers(), tar);
    EXPECT_EQ(r.status, 409);
    EXPECT_NE(r.body.find("an upload of slow.tar from 127.0.0.1"), std::string::npos) << r.body;
    obctl::Json add = finished_add("slow.tar");
    EXPECT_NE(add["verdict"]["status"], 200) << add.dump();
    close(stalled);

    // Cut in the middle: the browser closed.
    const int cut = start_upload("name=cut&file=cut.tar", tar.size());
    send_all(cut, tar.substr(0, 1000));
    close(cut);
    add = finished_add("cut.tar");
    EXPECT_NE(add["verdict"]["status"], 200) << add.dump();

    r = call("POST", "/api/add?name=img9&label=Nine&file=img9.tar", change_headers(), tar);
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(file("ob/img9/.obinfo"), "Nine\n");
    const std::string listed = call("GET", "/api/list", host() + cookie).body;
    EXPECT_NE(listed.find("\"name\":\"img9\""), std::string::npos) << listed;
    for (const char* gone : {"slow", "cut", "second"})
        EXPECT_EQ(listed.find(gone), std::string::npos) << gone;
    EXPECT_EQ(system(("ls -A " + top + "/ob | grep -q '^\\.'").c_str()) == 0 ? 1 : 0, 0)
        << "no unpack left under a hidden name";
}

}  // namespace
