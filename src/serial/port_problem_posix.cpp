#include "serial/port_problem_posix.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/port_problem.h"

namespace kestrel {

namespace {

std::string groupName(gid_t gid) {
    const group* g = getgrgid(gid);
    return g != nullptr ? g->gr_name : std::to_string(gid);
}

std::string ownerName(uid_t uid) {
    const passwd* p = getpwuid(uid);
    return p != nullptr ? p->pw_name : std::to_string(uid);
}

bool has(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The serial ports the host has: USB ones and those with stable names.
std::string listPorts(const DeviceTree& tree) {
    std::vector<std::string> lines;
    if (DIR* d = opendir(tree.devRoot.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strncmp(e->d_name, "ttyUSB", 6) == 0 ||
                std::strncmp(e->d_name, "ttyACM", 6) == 0)
                lines.push_back("  " + tree.devRoot + "/" + e->d_name + "\n");
        }
        closedir(d);
    }
    for (const char* kind : {"by-id", "by-path"}) {
        const std::string folder = tree.devRoot + "/serial/" + kind;
        DIR* d = opendir(folder.c_str());
        if (d == nullptr) continue;
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char target[PATH_MAX];
            const std::string link = folder + "/" + e->d_name;
            const char* resolved = realpath(link.c_str(), target);
            lines.push_back("  " + link + (resolved ? std::string(" -> ") + target : "") + "\n");
        }
        closedir(d);
    }
    std::sort(lines.begin(), lines.end());
    if (lines.empty())
        return "No USB serial port is there now (is the module plugged in and powered?); "
               "COM1..COMn name the on-board ports /dev/ttyS0..\n";
    std::string out = "Serial ports on this machine:\n";
    for (const std::string& l : lines)
        out += l;
    return out;
}

// The processes that have `device` open, as "PID (NAME)".
std::vector<std::pair<long, std::string>> holdersOf(const std::string& procRoot, dev_t device) {
    std::vector<std::pair<long, std::string>> found;
    DIR* proc = opendir(procRoot.c_str());
    if (proc == nullptr) return found;
    const long self = static_cast<long>(getpid());
    while (dirent* p = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(p->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) continue;
        const std::string fds = procRoot + "/" + p->d_name + "/fd";
        DIR* d = opendir(fds.c_str());
        if (d == nullptr) continue;  // another user's process: not ours to see
        bool holds = false;
        while (dirent* f = readdir(d)) {
            struct stat st {};
            if (f->d_name[0] != '.' && ::stat((fds + "/" + f->d_name).c_str(), &st) == 0 &&
                S_ISCHR(st.st_mode) && st.st_rdev == device) {
                holds = true;
                break;
            }
        }
        closedir(d);
        if (!holds) continue;
        found.emplace_back(pid, firstLineOf(procRoot + "/" + p->d_name + "/comm"));
    }
    closedir(proc);
    return found;
}

std::string explainPermission(const HostView& host, const std::string& path,
                              const struct stat& st) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    const std::string group = groupName(st.st_gid);
    std::string out = path + " belongs to " + ownerName(st.st_uid) + ", group " + group +
                      ", mode " + mode + ".\n";
    if ((st.st_mode & 060) != 060) {
        return out +
               "Only its owner may open it: joining a group would not help. A udev rule "
               "must give it to a group (e.g. dialout, mode 0660).\n";
    }
    if (has(host.groups, st.st_gid))
        return out + "You are in group " + group + " already: something else refuses the open.\n";
    if (has(host.loginGroups, st.st_gid))
        return out + host.userName + " was added to group " + group +
               ", but this login started before: log out and in again.\n";
    return out + host.userName + " is not in group " + group + ". Join it once, then log out " +
           "and in again:\n  sudo usermod -aG " + group + " " + host.userName + "\n";
}

std::string explainBusy(const HostView& host, dev_t device) {
    const auto holders = holdersOf(host.procRoot, device);
    if (holders.empty())
        return "Another program has the port open (not one of yours, or it could not be seen).\n";
    std::string out;
    for (const auto& [pid, name] : holders) {
        out += "Process " + std::to_string(pid) + " (" + name + ") has the port open.\n";
        if (name == "ModemManager")
            out +=
                "ModemManager probes serial ports; keep it off the module with the udev rule "
                "in the user guide, or stop it for the update: sudo systemctl stop "
                "ModemManager\n";
        else if (name == "brltty")
            out +=
                "brltty takes USB serial adapters for braille displays; if you use none: "
                "sudo apt remove brltty\n";
    }
    return out;
}

}  // namespace

HostView currentHost() {
    HostView host;
    host.tree = hostDeviceTree();
    const passwd* me = getpwuid(getuid());
    host.userName = me != nullptr ? me->pw_name : std::to_string(getuid());
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        host.groups.resize(static_cast<size_t>(n));
        if (getgroups(n, host.groups.data()) != n) host.groups.clear();
    }
    host.groups.push_back(getegid());
    if (me != nullptr) {
        int count = 64;
        host.loginGroups.resize(static_cast<size_t>(count));
        if (getgrouplist(me->pw_name, me->pw_gid, host.loginGroups.data(), &count) < 0) {
            host.loginGroups.resize(static_cast<size_t>(count));
            getgrouplist(me->pw_name, me->pw_gid, host.loginGroups.data(), &count);
        }
        host.loginGroups.resize(static_cast<size_t>(std::max(count, 0)));
    }
    return host;
}

std::string explainPortProblemOn(const HostView& host, const SystemError& reason) {
    const std::string path = reason.path;
    struct stat st {};
    const bool exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
    switch (reason.code) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return listPorts(host.tree);
        case EACCES:
        case EPERM:
            return exists ? explainPermission(host, path, st) : std::string();
        case EBUSY:
        case EWOULDBLOCK:
            return exists ? explainBusy(host, st.st_rdev) : std::string();
        default:
            break;
    }
    if (reason.code == 0 && reason.what != nullptr &&
        std::strcmp(reason.what, "not a terminal device") == 0)
        return path + " is no serial port. " + listPorts(host.tree);
    return {};
}

std::string explainPortProblem(const SystemError& reason) {
    return explainPortProblemOn(currentHost(), reason);
}

}  // namespace kestrel
