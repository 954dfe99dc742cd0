#include "autostart.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "box_restart.h"
#include "control_file.h"
#include "file_replace.h"
#include "kernel.h"
#include "medium.h"

namespace obctl {

namespace {

// The first line of every file enable writes (a script's second, after its
// "#!"): disable removes a file only when it begins so.
constexpr const char* marker = "# Added by obctl web enable; obctl web disable removes it.\n";
// Each directory enable had to make is named in the file on a line of its own.
constexpr const char* made_line = "# obctl web enable made ";

constexpr const char* unit_file = "/etc/systemd/system/obctl-web.service";
constexpr const char* wants_dir = "/etc/systemd/system/multi-user.target.wants";
constexpr const char* unit_link = "/etc/systemd/system/multi-user.target.wants/obctl-web.service";
constexpr const char* init_script = "/etc/init.d/obctl-web";

// Where a System V style init starts and stops the script: the multi-user
// runlevels, else (busybox images) the start-up scripts.
struct RcLink {
    const char* dir;
    const char* name;
    bool start;
};
const RcLink rc_links[] = {
    {"/etc/rc2.d", "S90obctl-web", true},  {"/etc/rc3.d", "S90obctl-web", true},
    {"/etc/rc4.d", "S90obctl-web", true},  {"/etc/rc5.d", "S90obctl-web", true},
    {"/etc/rc0.d", "K10obctl-web", false}, {"/etc/rc6.d", "K10obctl-web", false},
};
const RcLink startup_link = {"/etc/rcS.d", "S90obctl-web", true};

enum class Init { systemd, rc_levels, rc_startup, unknown };

bool is_dir(const char* path) {
    struct stat st;
    return ob::kernel().stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

Init running_init() {
    // What systemd itself tests for "booted by systemd".
    if (is_dir("/run/systemd/system")) return Init::systemd;
    if (!is_dir("/etc/init.d")) return Init::unknown;
    for (const RcLink& link : rc_links)
        if (link.start && is_dir(link.dir)) return Init::rc_levels;
    return is_dir(startup_link.dir) ? Init::rc_startup : Init::unknown;
}

std::string serve_command(const std::string& listen) {
    std::string command = std::string(ob::medium_mount) + "/bin/obctl serve";
    if (!listen.empty()) command += " --listen " + listen;
    return command;
}

bool write_new(const char* path, const std::string& content, mode_t mode, std::string& error) {
    struct stat st = {};
    st.st_mode = S_IFREG | mode;
    const ob::FilePart part = {content.data(), content.size()};
    if (ob::replace_file(path, st, &part, 1)) return true;
    error = std::string(path) + ": " + strerror(errno);
    return false;
}

bool make_link(const std::string& target, const std::string& path, std::string& error) {
    if (ob::kernel().symlink(target.c_str(), path.c_str()) == 0) return true;
    error = path + ": " + strerror(errno);
    return false;
}

// The lines of a file enable wrote; false when the file is not one.
bool ours(const char* path, std::string& content) {
    std::vector<char> bytes(8192);
    const long got = ob::read_control_file(path, bytes.data(), bytes.size(), bytes.size() - 1);
    if (got <= 0) return false;
    content.assign(bytes.data(), static_cast<size_t>(got));
    // The marker opens the file, or follows a script's "#!" line.
    const size_t first_line = content.compare(0, 2, "#!") == 0 ? content.find('\n') + 1 : 0;
    return content.compare(first_line, strlen(marker), marker) == 0;
}

bool links_to(const std::string& path, const std::string& target) {
    char text[256];
    const ssize_t n = ob::kernel().readlink(path.c_str(), text, sizeof text);
    return n > 0 && static_cast<size_t>(n) < sizeof text &&
           std::string(text, static_cast<size_t>(n)) == target;
}

std::string unit_text(const std::string& listen, bool made_wants) {
    std::string text = marker;
    if (made_wants) text += std::string(made_line) + wants_dir + "\n";
    return text +
           "[Unit]\n"
           "Description=Orbiel's web page (obctl serve)\n"
           "After=network.target\n\n"
           "[Service]\n"
           "ExecStart=" +
           serve_command(listen) +
           "\n"
           "Restart=on-failure\n"
           "RestartSec=10\n\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

std::string script_text(const std::string& listen) {
    return std::string("#!/bin/sh\n") + marker +
           "### BEGIN INIT INFO\n"
           "# Provides:          obctl-web\n"
           "# Required-Start:    $network\n"
           "# Default-Start:     2 3 4 5\n"
           "# Default-Stop:      0 6\n"
           "# Short-Description: Orbiel's web page (obctl serve)\n"
           "### END INIT INFO\n"
           "pidfile=/var/run/obctl-web.pid\n"
           "case \"$1\" in\n"
           "start)\n"
           "    " +
           serve_command(listen) +
           " </dev/null >/dev/null 2>&1 &\n"
           "    echo $! >\"$pidfile\"\n"
           "    ;;\n"
           "stop)\n"
           "    [ -f \"$pidfile\" ] && kill \"$(cat \"$pidfile\")\" 2>/dev/null\n"
           "    rm -f \"$pidfile\"\n"
           "    ;;\n"
           "esac\n"
           "exit 0\n";
}

Outcome enable_systemd(const std::string& listen) {
    std::string error;
    const bool make_wants = !is_dir(wants_dir);
    if (make_wants && ob::kernel().mkdir(wants_dir, 0755) != 0)
        return outcome(Outcome::failed, std::string(wants_dir) + ": " + strerror(errno));
    if (!write_new(unit_file, unit_text(listen, make_wants), 0644, error) ||
        !make_link(unit_file, unit_link, error))
        return outcome(Outcome::failed, error);
    return succeeded("systemd starts obctl serve at every boot (" + std::string(unit_file) + ")");
}

Outcome enable_rc(const std::string& listen, Init init) {
    std::string error;
    if (!write_new(init_script, script_text(listen), 0755, error))
        return outcome(Outcome::failed, error);
    std::vector<RcLink> links;
    if (init == Init::rc_startup) links.push_back(startup_link);
    for (const RcLink& link : rc_links)
        if (init == Init::rc_levels && is_dir(link.dir)) links.push_back(link);
    for (const RcLink& link : links)
        if (!make_link("../init.d/obctl-web", std::string(link.dir) + "/" + link.name, error))
            return outcome(Outcome::failed, error);
    return succeeded("the init scripts start obctl serve at every boot (" +
                     std::string(init_script) + ")");
}

bool already_enabled() {
    struct stat st;
    return ob::kernel().lstat(unit_file, &st) == 0 || ob::kernel().lstat(init_script, &st) == 0;
}

void remove_link(const std::string& path, const std::string& target,
                 std::vector<std::string>& gone) {
    if (links_to(path, target) && ob::kernel().unlink(path.c_str()) == 0) gone.push_back(path);
}

}  // namespace

Outcome enable_web(const std::string& listen) {
    const Outcome box = on_a_box();
    if (!box.ok()) return box;
    if (already_enabled())
        return outcome(Outcome::in_use,
                       "obctl serve is started at boot already (obctl web disable first)");
    const Init init = running_init();
    if (init == Init::systemd) return enable_systemd(listen);
    if (init != Init::unknown) return enable_rc(listen, init);
    return outcome(Outcome::refused,
                   "the running image starts its services neither by systemd nor by "
                   "/etc/init.d scripts with rc?.d links; start obctl serve from its own "
                   "start-up");
}

Outcome disable_web() {
    const Outcome box = on_a_box();
    if (!box.ok()) return box;
    std::string content;
    std::vector<std::string> gone;
    if (ours(unit_file, content)) {
        remove_link(unit_link, unit_file, gone);
        ob::kernel().unlink(unit_file);
        gone.push_back(unit_file);
        if (content.find(std::string(made_line) + wants_dir + "\n") != std::string::npos &&
            ob::kernel().rmdir(wants_dir) == 0)
            gone.push_back(wants_dir);
    }
    if (ours(init_script, content)) {
        for (const RcLink& link : rc_links)
            remove_link(std::string(link.dir) + "/" + link.name, "../init.d/obctl-web", gone);
        remove_link(std::string(startup_link.dir) + "/" + startup_link.name, "../init.d/obctl-web",
                    gone);
        ob::kernel().unlink(init_script);
        gone.push_back(init_script);
    }
    if (gone.empty())
        return outcome(Outcome::not_found, "obctl web enable added nothing to this image");
    std::string list;
    for (const std::string& path : gone)
        list += (list.empty() ? "" : ", ") + path;
    return succeeded("removed " + list);
}

}  // namespace obctl
