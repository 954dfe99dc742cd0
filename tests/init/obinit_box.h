// A box for running obinit's real entry against the fake kernel: a dm900
// flash root with its init and kernel, and an ext4 medium labelled
// "obimages" on /dev/sdb1 (its content is what the tests put under
// /media/ob, as the fake's ext4 mount only needs the directory).
#pragma once

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "obinit.h"

namespace ob_test {

// A device image whose superblock carries an ext volume name.
inline std::string ext_volume(const std::string& label) {
    std::string image(2048, '\0');
    image[1080] = '\x53';
    image[1081] = '\xEF';
    image.replace(1144, std::min<size_t>(label.size(), 16), label.substr(0, 16));
    return image;
}

// A FAT boot sector ("FAT16" or "FAT32") with an 11-byte label.
inline std::string fat_volume(const std::string& type, const std::string& label) {
    std::string image(2048, '\0');
    const bool fat16 = type == "FAT16";
    image.replace(fat16 ? 54 : 82, 5, type);
    image.replace(fat16 ? 43 : 71, label.size(), label);
    return image;
}

// /proc/partitions in the kernel's layout.
inline std::string partition_line(int major, int minor, const std::string& name) {
    char line[128];
    snprintf(line, sizeof line, "%4d  %7d %10llu %s\n", major, minor, 1000000ULL, name.c_str());
    return line;
}
inline std::string partition_list(const std::string& lines) {
    return "major minor  #blocks  name\n\n" + lines;
}

struct Outcome {
    std::string program;  // the init executed; empty when the process ended
    std::vector<std::string> argv, envp;
    int exit_status = -1;
};

class ObinitBox : public FakeKernel {
public:
    ObinitBox() {
        release = "3.14.28-1.12-dm900";
        for (const char* dir : {"/proc", "/sys", "/dev", "/media/ob/bin", "/media/ob/ob"})
            make_dir(dir);
        write_file("/sbin/init.sysvinit", "flash init");
        write_file("/boot/zImage", "kernel");
        write_file("/proc/partitions",
                   partition_list(partition_line(8, 0, "sda") + partition_line(8, 1, "sda1") +
                                  partition_line(8, 16, "sdb") + partition_line(8, 17, "sdb1")));
        write_file("/dev/sda1", ext_volume("data"));
        write_file("/dev/sdb1", ext_volume("obimages"));
    }

    // An image directory on the medium with what the root switch needs.
    void add_image(const std::string& name, const std::string& init) {
        const std::string root = "/media/ob/ob/" + name;
        for (const char* dir : {"/media/ob", "/sys", "/dev", "/run"})
            make_dir(root + dir);
        write_file(root + "/.obinfo", name);
        if (!init.empty()) write_file(root + init, "image init");
    }

    Outcome boot(const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv_text = {"/sbin/init"};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<std::string> envp_text = {"HOME=/", "TERM=linux"};
        std::vector<char*> argv, envp;
        for (std::string& arg : argv_text)
            argv.push_back(&arg[0]);
        for (std::string& var : envp_text)
            envp.push_back(&var[0]);
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        Outcome outcome;
        try {
            outcome.exit_status =
                obinit::obinit_main(static_cast<int>(argv.size() - 1), argv.data(), envp.data());
        } catch (const ExecCalled& exec) {
            outcome.program = exec.path;
            outcome.argv = exec.argv;
            outcome.envp = exec.envp;
        } catch (const ExitCalled& exit) {
            outcome.exit_status = exit.status;
        }
        return outcome;
    }

    // The calls without the node creation (checked on its own).
    std::vector<std::string> boot_calls() const {
        std::vector<std::string> kept;
        for (const std::string& call : calls)
            if (call.rfind("mknod(", 0) != 0 && call.rfind("umask(", 0) != 0 &&
                call.rfind("mkdir(\"/dev", 0) != 0)
                kept.push_back(call);
        return kept;
    }

    // Position of the first call starting with prefix (calls.size() if none).
    size_t first(const std::string& prefix) const {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].rfind(prefix, 0) == 0) return i;
        return calls.size();
    }

    // The console text after the banner (whose build stamp varies).
    std::string after_banner() const {
        const size_t end = console_text.find("\n\n", 1);
        return end == std::string::npos ? "" : console_text.substr(end + 2);
    }
};

}  // namespace ob_test
