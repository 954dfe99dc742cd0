#include "obctl.h"

#include <string.h>

#include "build_info.h"
#include "invocation.h"
#include "kernel.h"
#include "medium_dir.h"
#include "verbs.h"

namespace obctl {

namespace {

constexpr int any = -1;

const Verb verb_table[] = {
    {"status", verb_status, 0, 0, takes_json, false, "[--json]",
     "the medium, the choice, the settings as applied, the images, the findings",
     "The medium (device, label, file system, free space), the Orbiel version its menu last\n"
     "logged, the stored and the one-shot choice, every setting with the value the programs\n"
     "use (after their clamps and defaults), the menu's entries and what check finds.\n"},
    {"list", verb_list, 0, 0, takes_json, false, "[--json]",
     "the menu's entries, and whether each would boot",
     "The entries exactly as the menu shows them (Flash first, then the images in the menu's\n"
     "order and numbering, with their labels; * marks the entry the menu preselects), each\n"
     "with whether obinit would boot it and, if not, why. Then the image directories the\n"
     "menu leaves out, and why.\n"},
    {"check", verb_check, 0, any, 0, true, "[NAME...]",
     "every rule obinit and the menu apply to the medium and its images",
     "Checks the medium (file system, label, the features the boxes' kernels mount, the\n"
     "menu program, logo and font, the control files and the choice) and every image, or\n"
     "only the images named: listed or why not, bootable or why not, the mount points obinit\n"
     "makes. Each finding once, in the programs' words. Exit status 1 when an image named\n"
     "here, listed by the menu or named by the choice would not boot, or when the medium would\n"
     "not be found or mounted. What an interrupted add or remove left is removed first.\n"},
    {"set-default", verb_set_default, 1, 1, 0, true, "NAME|Flash",
     "store the choice the box boots (obboot.ini), as the menu stores it",
     "Stores NAME (an image on the medium that obinit would boot) or Flash as the choice, as\n"
     "the menu does when OK is pressed on it: the box boots it at every start until the menu\n"
     "or obctl chooses another.\n"},
    {"set-oneshot", verb_set_oneshot, 1, 1, 0, true, "NAME|Flash",
     "boot NAME at the next start only, without the menu",
     "Writes .oboneshot: at the next start obinit removes it and boots NAME without the\n"
     "menu; the start after it (or after a power cut during it) boots the stored choice.\n"},
    {"set", verb_set, 2, 2, 0, true, "KEY VALUE", "change a setting of the medium",
     "KEY is a settings file's name without its leading .ob:\n"
     "  timeout VALUE      seconds the menu waits: 2 to 30 (10 without the setting)\n"
     "  progress on|off    the time-out shown as a shrinking bar\n"
     "  color VALUE        grey level of the menu's accent colour: 0 to 127 (64)\n"
     "  resolution VALUE   1366 (1366x768) or 1080 (1920x1080) (1280x720)\n"
     "  bootcolor VALUE    the box's colour format before the menu (rgb, yuv, cvbs, ...)\n"
     "  mask VALUE         the remote-control mask before the menu\n"
     "  menu on|off        off: no menu, the box boots the stored choice at once\n"
     "A value the programs would clamp, cut or ignore is refused.\n"},
    {"unset", verb_unset, 1, 1, 0, true, "KEY", "remove a setting: its default applies",
     "Removes the settings file of KEY (see obctl set --help): the programs' default applies.\n"},
    {"pin", verb_pin, 1, 1, takes_pin, true, "set|off [--pin DIGITS]",
     "lock the choice of image behind a four-digit PIN, or remove the lock",
     "pin set asks for four digits twice (without echo) or takes --pin DIGITS, and stores\n"
     "them as the menu checks them; pin off removes the lock.\n"
     "The lock guards the choice of image, not the box: with it the menu asks for the PIN\n"
     "before it shows the list, but EXIT or the time-out boots the image chosen last, and\n"
     "three wrong PINs boot Flash. Whoever has the medium in hand can remove it.\n"},
    {"add", verb_add, 2, 2, takes_label | takes_slot | takes_replace, true,
     "NAME SOURCE [--label TEXT] [--slot 1-8] [--replace]",
     "install an image from a directory, a tar archive or a box image zip",
     "SOURCE is a directory holding a root file system, a tar archive of one (plain, gzip,\n"
     "bzip2, xz or zstd), or a zip archive as box images are published, whose folder for the\n"
     "box holds rootfs.tar.bz2 (read out of the zip as it is unpacked, nothing copied first).\n"
     "Owners, modes, links, device nodes and extended attributes are kept: run it as root.\n"
     "The image is unpacked under a hidden name the menu does not list, given the mount\n"
     "points obinit needs and a .obinfo holding its label (--label TEXT, else NAME), checked\n"
     "as obinit checks it, and only then named NAME. --slot N names it N instead, one of the\n"
     "numbered images the menu shows as \"N (LABEL)\". An image of that name is refused,\n"
     "unless --replace: the old image then stays until the new one is complete.\n"
     "An interrupted add (an error, Ctrl-C, a power cut) leaves no image in the list; the\n"
     "next add or check removes what it left.\n"},
    {"prepare", verb_prepare, 1, 1, takes_from | takes_upgrade, true,
     "DIR [--from BUNDLE] [--upgrade]", "lay out a boot medium from the release's medium tree",
     "DIR is the top directory of a mounted ext4 (or ext3) file system whose label begins\n"
     "with ob, as obinit finds the medium, made with features the boxes' kernels mount.\n"
     "BUNDLE is the release's medium tarball or its unpacked tree (default: the tree\n"
     "installed beside obctl). Writes ob.sh, the programs in bin/ (orbiel, obctl, tune2fs),\n"
     "the font and logo, ob/ and obboot.ini holding Flash, each file replaced whole. Run\n"
     "again it changes nothing. On a medium with other programs it refuses; --upgrade then\n"
     "replaces the programs only, keeping every setting, logo, font and image.\n",
     true},
    {"remove", verb_remove, 1, 1, takes_yes, true, "NAME [--yes]",
     "delete an image and all its files",
     "Deletes the image directory NAME (after asking, unless --yes). It is first renamed to a\n"
     "hidden name, so that a power cut never leaves a listed half image; an interrupted\n"
     "removal is finished by the next. The stored choice moves to Flash when it was NAME.\n"
     "The image the box runs from is never removed.\n"},
    {"rename", verb_rename, 2, 2, 0, true, "OLD NEW",
     "rename an image; the stored choice moves with it",
     "Renames the image directory OLD to NEW, a name the menu lists and can store (no dot in\n"
     "front, no blank, tab or line end, at most 63 characters, not Flash). The stored and the\n"
     "one-shot choice follow. The image the box runs from is never renamed.\n"},
    {"label", verb_label, 2, 2, 0, true, "NAME TEXT",
     "the label the menu shows for a numbered image (1 to 8)",
     "Makes TEXT the first word of the numbered image's .obinfo, which the menu shows as\n"
     "\"N (TEXT)\"; the rest of the file stays. TEXT is one word of at most 59 characters.\n"},
#if OB_WEB
    {"serve", verb_serve, 0, 0, takes_listen, false, "[--listen ADDR:PORT]",
     "the web page: everything obctl does, from a phone's browser",
     "Serves a web page (plain HTTP, for the home network only) that shows the menu's\n"
     "entries and the medium and does what obctl does: boot an image now, store the\n"
     "choice, rename, relabel, remove, add an image by upload, every setting and the PIN.\n"
     "It asks for the password obctl web password set, and does not start without one.\n"
     "--listen ADDR:PORT, [IPv6]:PORT or PORT: where it listens (default: every IPv4\n"
     "address, port 8190; the boxes' images serve on 80, 443, 8001 and 8002). It runs\n"
     "until Ctrl-C or a TERM signal. Never forward its port to the internet.\n",
     false, true},
    {"web", verb_web, 1, 1, takes_password_file | takes_off | takes_listen, true,
     "password [--password-file FILE|--off] | enable [--listen ADDR:PORT] | disable",
     "the web page's password, and whether the running image starts it at boot",
     "web password asks for the page's password twice (without echo) or reads it from the\n"
     "first line of FILE, and stores a salted SHA-512 hash of it on the medium (.obweb);\n"
     "--off removes it, and obctl serve no longer starts.\n"
     "web enable makes the running image start obctl serve at every boot: a systemd unit\n"
     "where systemd runs the image, an init script and its rc?.d links where a System V\n"
     "style init does (sysvinit, busybox); web disable removes exactly what enable added.\n"
     "Both refuse, saying why, in an image they do not understand.\n"},
#endif
};

void print_help() {
    ob::printf_to(1, "obctl (Orbiel) %s\n", ob::version);
    ob::print_to(1,
                 "usage: obctl [--medium DIR] COMMAND [ARGUMENTS]\n"
                 "DIR is the boot medium's top directory (/media/ob, where obinit mounts it on "
                 "the box).\n\n");
    for (const Verb& verb : verb_table) {
        const std::string call = std::string(verb.name) + " " + verb.usage;
        ob::printf_to(1, "  %-26s %s\n", call.c_str(), verb.summary);
    }
    ob::print_to(1,
                 "\nobctl COMMAND --help tells more of each. Exit status: 0 done, 1 failed, "
                 "2 a usage error.\n");
}

void print_verb_help(const Verb& verb) {
    ob::printf_to(1, "usage: obctl [--medium DIR] %s %s\n%s.\n\n%s", verb.name, verb.usage,
                  verb.summary, verb.help);
}

int usage(const std::string& text) {
    ob::printf_to(2, "obctl: %s (obctl help lists the commands)\n", text.c_str());
    return usage_error;
}

// The options and the number of arguments the verb takes.
bool fits(const Verb& verb, const Invocation& run, std::string& error) {
    const int count = static_cast<int>(run.args.size());
    if ((run.options & ~verb.options) != 0)
        error = std::string(verb.name) + " takes no such option";
    else if (count < verb.min_args || (verb.max_args != any && count > verb.max_args))
        error = std::string("usage: obctl ") + verb.name + " " + verb.usage;
    return error.empty();
}

int help(const Invocation& run) {
    if (run.args.empty()) {
        print_help();
        return done;
    }
    const Verb* verb = find_verb(run.args[0]);
    if (verb == nullptr) return usage("no command " + run.args[0]);
    print_verb_help(*verb);
    return done;
}

}  // namespace

const Verb* find_verb(const std::string& name) {
    for (const Verb& verb : verb_table)
        if (name == verb.name) return &verb;
    return nullptr;
}

int fail(const Invocation& run, const std::string& text) {
    ob::printf_to(2, "obctl: %s: %s\n", run.verb.c_str(), text.c_str());
    return failed;
}

int report(const Invocation& run, const Outcome& result) {
    if (result.ok()) {
        if (!result.message.empty()) ob::printf_to(1, "%s\n", result.message.c_str());
        return done;
    }
    fail(run, result.message);
    return result.kind == Outcome::unknown ? usage_error : failed;
}

int obctl_main(int argc, char** argv) {
    Invocation run;
    std::string error;
    if (!parse_invocation(argc - 1, argv + 1, run, error)) return usage(error);
    if (run.version) {
        ob::printf_to(1, "obctl (Orbiel) %s\n", ob::version);
        return done;
    }
    if (run.verb == "help" || (run.verb.empty() && run.help)) return help(run);
    if (run.verb.empty()) return usage("no command given");
    const Verb* verb = find_verb(run.verb);
    if (verb == nullptr) return usage("no command " + run.verb);
    if (run.help) {
        print_verb_help(*verb);
        return done;
    }
    if (!fits(*verb, run, error)) return usage(error);
    Medium medium;
    if (verb->lays_out ? !medium_to_be(run.args[0], medium, error)
                       : !find_medium(run.medium, medium, error))
        return fail(run, error);
    MediumLock lock;
    if (!verb->locks_itself && !lock.take(medium, verb->writes, error)) return fail(run, error);
    return verb->function(run, medium);
}

}  // namespace obctl
