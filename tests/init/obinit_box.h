// The boxes obinit's tests run on: a dm900 flash root with its init and
// kernel and an ext4 medium labelled "obimages" on /dev/sdb1 (its content is
// what the tests put under /media/ob: the fake's ext4 mount needs only the
// directory), plus a loop block device for the flash replacement.
#pragma once

#include <elf.h>
#include <errno.h>
#include <linux/loop.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "medium_files.h"
#include "obinit.h"

namespace ob_test {

using Calls = std::vector<std::string>;

const std::string mount_sda1 =
    R"(mount("/dev/sda1", "/media/ob", "ext4", MS_MGC_VAL|MS_NOATIME|MS_NODIRATIME, "barrier=1,data=journal"))";

inline Calls joined(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
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

// The run state the start-up leaves for the later steps.
inline void started_on(int box_model, const char* boot_device) {
    obinit::state() = obinit::RunState();
    obinit::state().box_model = box_model;
    snprintf(obinit::state().boot_device, obinit::boot_device_size, "%s", boot_device);
}

struct Outcome {
    std::string program;  // the init executed; empty when the process ended
    Calls argv, envp;
    int exit_status = -1;
};

// The fake kernel with questions the tests ask of what happened.
class Box : public FakeKernel {
public:
    // Position of the first call starting with prefix (calls.size() if none).
    size_t first(const std::string& prefix) const {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].rfind(prefix, 0) == 0) return i;
        return calls.size();
    }
    bool called(const std::string& prefix) const { return first(prefix) < calls.size(); }
    // The calls but those starting with one of the prefixes.
    Calls calls_except(std::initializer_list<const char*> prefixes) const {
        Calls kept;
        for (const std::string& call : calls)
            if (std::none_of(prefixes.begin(), prefixes.end(),
                             [&call](const char* prefix) { return call.rfind(prefix, 0) == 0; }))
                kept.push_back(call);
        return kept;
    }
    bool printed(const std::string& text) const {
        return console_text.find(text) != std::string::npos;
    }
};

class ObinitBox : public Box {
public:
    ObinitBox() {
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
        for (const char* dir : {"/media/ob", "/sys", "/dev", "/proc", "/tmp", "/run"})
            make_dir(root + dir);
        write_file(root + "/.obinfo", name);
        if (!init.empty()) write_file(root + init, elf_program(), 0755);
    }

    Outcome boot(Calls args = {}) {
        args.insert(args.begin(), "/sbin/init");
        Calls env = {"HOME=/", "TERM=linux"};
        std::vector<char*> argv, envp;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        for (std::string& var : env)
            envp.push_back(&var[0]);
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        Outcome outcome;
        try {
            outcome.exit_status =
                obinit::obinit_main(static_cast<int>(argv.size() - 1), argv.data(), envp.data());
        } catch (const ExecCalled& exec) {
            outcome = {exec.path, exec.argv, exec.envp};
        } catch (const ExitCalled& exit) {
            outcome.exit_status = exit.status;
        }
        return outcome;
    }

    // The console text after the banner (whose build stamp varies).
    std::string after_banner() const {
        const size_t end = console_text.find("\n\n", 1);
        return end == std::string::npos ? "" : console_text.substr(end + 2);
    }
};

// A loop block device: takes LOOP_SET_FD and LOOP_SET_STATUS (or refuses them
// with the errno given) and keeps the status record.
class FakeLoopDevice : public FakeDevice {
public:
    int refuse_set_fd = 0;
    int refuse_set_status = 0;
    bool status_set = false;
    struct loop_info info = {};

    int ioctl(unsigned long request, void* arg) override {
        if (request != LOOP_SET_FD && request != LOOP_SET_STATUS)
            return FakeDevice::ioctl(request, arg);
        errno = request == LOOP_SET_FD ? refuse_set_fd : refuse_set_status;
        if (errno != 0) return -1;
        if (request == LOOP_SET_STATUS) {
            memcpy(&info, arg, sizeof info);
            status_set = true;
        }
        return 0;
    }

    // The record was cleared in full and carries nothing but the name.
    bool only_name_set(const char* name) const {
        struct loop_info expected = {};
        strncpy(expected.lo_name, name, sizeof expected.lo_name - 1);
        return status_set && memcmp(&info, &expected, sizeof info) == 0;
    }
};

}  // namespace ob_test
