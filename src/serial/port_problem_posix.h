// The Linux explanations of port problems, over a view of the host that tests build.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/system_error.h"
#include "serial/device_tree_posix.h"

namespace kestrel {

struct HostView {
    DeviceTree tree;
    std::string procRoot = "/proc";
    std::string userName;            // who runs the tool
    std::vector<gid_t> groups;       // the groups the running process has
    std::vector<gid_t> loginGroups;  // the groups the user database gives (after a new login)
};

// The running process's view of the host.
HostView currentHost();

std::string explainPortProblemOn(const HostView& host, const SystemError& reason);

}  // namespace kestrel
