// Keeps ModemManager off the module's port while a session runs: asked over the system bus
// (InhibitDevice), ModemManager closes the device's ports and leaves them, the port's return
// after the download command included, until we release the device. It ties the inhibition
// to our bus connection, so the connection stays open for the whole session, and the
// inhibition ends with it however the program ends. Where nobody needs asking (no bus, no
// ModemManager, a port it does not manage) nothing is said; a refusal is explained once,
// since the user can do something about it.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cstdio>

#include "serial/device_name_posix.h"
#include "serial/device_tree_posix.h"
#include "serial/port_guard.h"
#include "serial/udev_rule_posix.h"

namespace kestrel {

namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kManagerPath[] = "/org/freedesktop/ModemManager1";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";
constexpr char kModemInterface[] = "org.freedesktop.ModemManager1.Modem";
// A daemon that hangs holds the update up no longer than this per call.
constexpr uint64_t kCallTimeoutUs = 2000000;
// A modem's uid is its sysfs path; a longer one is left alone rather than cut.
constexpr size_t kUidCapacity = 260;

uint64_t monotonicUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

// A call to ModemManager that never starts it: where it is installed but stopped, it stays so.
sd_bus_message* newCall(sd_bus* bus, const char* interface, const char* member) {
    sd_bus_message* m = nullptr;
    if (sd_bus_message_new_method_call(bus, &m, kService, kManagerPath, interface, member) < 0)
        return nullptr;
    sd_bus_message_set_auto_start(m, 0);
    return m;
}

int keepReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    *static_cast<sd_bus_message**>(userdata) = sd_bus_message_ref(reply);
    return 0;
}

// Sends `call` and returns its answer (an error answer too), or nullptr with -errno in
// `error` when none came in time. The bound covers the connection's own set-up as well
// (authentication, Hello), which is still under way at the first call.
sd_bus_message* await(sd_bus* bus, sd_bus_message* call, int* error) {
    sd_bus_message* reply = nullptr;
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_call_async(bus, &slot, call, keepReply, &reply, kCallTimeoutUs);
    const uint64_t deadline = monotonicUs() + kCallTimeoutUs;
    while (r >= 0 && reply == nullptr) {
        r = sd_bus_process(bus, nullptr);
        if (r != 0) continue;  // more to do, or the connection failed
        const uint64_t now = monotonicUs();
        r = now < deadline ? sd_bus_wait(bus, deadline - now) : -ETIMEDOUT;
    }
    sd_bus_slot_unref(slot);
    *error = r < 0 ? r : -ETIMEDOUT;
    return reply;
}

// One modem's properties (a{sv}): its Device (the uid to inhibit; valid as long as `m`) and
// whether its Ports (a(su): name, type) hold `port`. False when they do not read as such.
bool readModem(sd_bus_message* m, const char* port, const char** device, bool* holds) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
    int more;
    while ((more = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(m, "s", &name) < 0) return false;
        if (strcmp(name, "Device") == 0) {
            if (sd_bus_message_read(m, "v", "s", device) < 0) return false;
        } else if (strcmp(name, "Ports") == 0) {
            if (sd_bus_message_enter_container(m, 'v', "a(su)") < 0 ||
                sd_bus_message_enter_container(m, 'a', "(su)") < 0)
                return false;
            const char* portName = nullptr;
            uint32_t type = 0;
            int r;
            while ((r = sd_bus_message_read(m, "(su)", &portName, &type)) > 0)
                if (strcmp(portName, port) == 0) *holds = true;
            if (r < 0 || sd_bus_message_exit_container(m) < 0 ||
                sd_bus_message_exit_container(m) < 0)
                return false;
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return false;
        }
        if (sd_bus_message_exit_container(m) < 0) return false;
    }
    return more == 0 && sd_bus_message_exit_container(m) >= 0;
}

// The uid of the modem whose Ports hold `port`, from GetManagedObjects' answer
// (a{oa{sa{sv}}}), valid as long as `m`; null when no modem does.
const char* uidOfModemWith(sd_bus_message* m, const char* port) {
    if (sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}") < 0) return nullptr;
    while (sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}") > 0) {
        if (sd_bus_message_skip(m, "o") < 0 ||
            sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0)
            return nullptr;
        while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
            const char* interface = nullptr;
            if (sd_bus_message_read(m, "s", &interface) < 0) return nullptr;
            if (strcmp(interface, kModemInterface) == 0) {
                const char* device = nullptr;
                bool holds = false;
                if (!readModem(m, port, &device, &holds)) return nullptr;
                if (holds) return device;
            } else if (sd_bus_message_skip(m, "a{sv}") < 0) {
                return nullptr;
            }
            if (sd_bus_message_exit_container(m) < 0) return nullptr;
        }
        if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0)
            return nullptr;
    }
    return nullptr;
}

class ModemManagerGuard final : public PortGuard {
  public:
    explicit ModemManagerGuard(DeviceTree tree) : tree_(std::move(tree)) {}
    ~ModemManagerGuard() override { release(); }

    void guard(const char* portName) override {
        release();
        char path[PATH_MAX];
        char device[PATH_MAX];
        struct stat st {};
        // A name that stands for no device: the open will say so, and there is nothing to ask.
        if (portName == nullptr || posixDeviceName(portName, path, sizeof path) != nullptr ||
            realpath(path, device) == nullptr || ::stat(device, &st) != 0 || !S_ISCHR(st.st_mode))
            return;
        if (sd_bus_open_system(&bus_) < 0) {
            bus_ = nullptr;  // no system bus: nobody to ask
            return;
        }
        // ModemManager names its ports as /dev does, "ttyACM0"; by-id links are resolved above.
        if (managingModem(strrchr(device, '/') + 1)) {
            char reason[200];
            if (inhibit(uid_, true, reason, sizeof reason)) return;  // until release()
            uid_[0] = '\0';                                          // nothing to hand back
            explainRefusal(device, st.st_rdev, reason);
        }
        release();  // the connection is of no further use
    }

    void release() override {
        // Should this fail, closing the connection ends the inhibition all the same.
        if (uid_[0] != '\0') inhibit(uid_, false, nullptr, 0);
        uid_[0] = '\0';
        if (bus_ == nullptr) return;
        sd_bus_close(bus_);
        sd_bus_unref(bus_);
        bus_ = nullptr;
    }

  private:
    // Finds ModemManager's modem with `port` among its ports and notes its uid. False when
    // ModemManager is not on the bus, does not answer, or does not manage the port.
    bool managingModem(const char* port) {
        sd_bus_message* call = newCall(bus_, kObjectManager, "GetManagedObjects");
        int error = 0;
        sd_bus_message* reply = call != nullptr ? await(bus_, call, &error) : nullptr;
        sd_bus_message_unref(call);
        const char* uid = reply != nullptr && !sd_bus_message_is_method_error(reply, nullptr)
                              ? uidOfModemWith(reply, port)
                              : nullptr;
        if (uid != nullptr && strlen(uid) < sizeof uid_)
            std::snprintf(uid_, sizeof uid_, "%s", uid);
        sd_bus_message_unref(reply);
        return uid_[0] != '\0';
    }

    // InhibitDevice(uid, on). False when ModemManager did not agree, with its reason (or ours:
    // no answer) in `reason` unless that is null.
    bool inhibit(const char* uid, bool on, char* reason, size_t capacity) {
        sd_bus_message* call = newCall(bus_, kService, "InhibitDevice");
        int error = -ENOMEM;
        sd_bus_message* reply = nullptr;
        if (call != nullptr && (error = sd_bus_message_append(call, "sb", uid, on ? 1 : 0)) >= 0)
            reply = await(bus_, call, &error);
        sd_bus_message_unref(call);
        const sd_bus_error* refusal = reply != nullptr ? sd_bus_message_get_error(reply) : nullptr;
        if (reason != nullptr && refusal != nullptr) {
            std::snprintf(reason, capacity, "%s: %s", refusal->name,
                          refusal->message != nullptr ? refusal->message : "");
        } else if (reason != nullptr && reply == nullptr) {
            char text[128];
            std::snprintf(reason, capacity, "no answer: %s", strerror_r(-error, text, sizeof text));
        }
        const bool agreed = reply != nullptr && refusal == nullptr;
        sd_bus_message_unref(reply);
        return agreed;
    }

    // What the user can do instead: the udev rule with the module's USB ids.
    void explainRefusal(const char* device, dev_t number, const char* reason) const {
        char rule[kUdevRuleCapacity];
        modemManagerIgnoreRule(tree_, number, rule);
        std::fprintf(stderr,
                     "%s: ModemManager did not agree to leave %s alone during the update (%s); "
                     "a probe of its own can break the update.\n"
                     "To keep ModemManager off this module for good, put this line into "
                     "/etc/udev/rules.d/70-kestrel-modem.rules (as root), run 'udevadm control "
                     "--reload-rules && udevadm trigger' and plug the module in again:\n%s\n",
                     program_invocation_short_name, device, reason, rule);
    }

    DeviceTree tree_;
    sd_bus* bus_ = nullptr;        // open from guard() to release(): the inhibition lives with it
    char uid_[kUidCapacity] = {};  // the device ModemManager is asked about, empty when none
};

}  // namespace

std::unique_ptr<PortGuard> createPlatformPortGuard() {
    return std::make_unique<ModemManagerGuard>(hostDeviceTree());
}

}  // namespace kestrel
