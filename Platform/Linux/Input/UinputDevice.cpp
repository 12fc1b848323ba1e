#include "Platform/Linux/Input/UinputDevice.hpp"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

std::string failure(const char* what) { return fmt::format("{}: {}", what, std::strerror(errno)); }

} // namespace

std::expected<std::unique_ptr<UinputDevice>, std::string> UinputDevice::make(const KernelRoots& roots,
                                                                             const Description& description) {
    const std::string path = (fs::path(roots.dev) / "uinput").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::unexpected(failure(("cannot open " + path).c_str()));
    const auto fail = [fd](const char* what) {
        auto text = failure(what);
        ::close(fd);
        return std::unexpected(std::move(text));
    };
    if (::ioctl(fd, UI_SET_EVBIT, EV_SYN) < 0) return fail("UI_SET_EVBIT EV_SYN");
    if (!description.keys.empty()) {
        if (::ioctl(fd, UI_SET_EVBIT, EV_KEY) < 0) return fail("UI_SET_EVBIT EV_KEY");
        for (const auto key : description.keys)
            if (::ioctl(fd, UI_SET_KEYBIT, key) < 0) return fail("UI_SET_KEYBIT");
    }
    if (!description.relative.empty()) {
        if (::ioctl(fd, UI_SET_EVBIT, EV_REL) < 0) return fail("UI_SET_EVBIT EV_REL");
        for (const auto axis : description.relative)
            if (::ioctl(fd, UI_SET_RELBIT, axis) < 0) return fail("UI_SET_RELBIT");
    }
    // The physical path marks the device as ours, beside its place under
    // /sys/devices/virtual/, for whoever lists devices.
    if (::ioctl(fd, UI_SET_PHYS, description.phys.c_str()) < 0) return fail("UI_SET_PHYS");

    uinput_setup setup{};
    setup.id.bustype = description.bus;
    setup.id.vendor = description.vendor;
    setup.id.product = description.product;
    setup.id.version = 1;
    std::strncpy(setup.name, description.name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
    if (::ioctl(fd, UI_DEV_SETUP, &setup) < 0) return fail("UI_DEV_SETUP");
    if (::ioctl(fd, UI_DEV_CREATE) < 0) return fail("UI_DEV_CREATE");

    std::string eventNode;
    std::array<char, 64> sysname{};
    if (::ioctl(fd, UI_GET_SYSNAME(sysname.size()), sysname.data()) >= 0) {
        sysname.back() = '\0';
        const fs::path folder = fs::path(roots.sys) / "devices" / "virtual" / "input" / sysname.data();
        const auto events = sysfs::entries(folder, "event");
        if (!events.empty()) eventNode = (fs::path(roots.dev) / "input" / events.front()).string();
    }
    return std::unique_ptr<UinputDevice>(new UinputDevice(fd, description.name, std::move(eventNode)));
}

UinputDevice::UinputDevice(int descriptor, std::string name, std::string eventNode)
    : descriptor_(descriptor), name_(std::move(name)), eventNode_(std::move(eventNode)) {}

UinputDevice::~UinputDevice() {
    ::ioctl(descriptor_, UI_DEV_DESTROY);
    ::close(descriptor_);
}

bool UinputDevice::send(std::span<const InputValue> frame) {
    if (frame.empty()) return true;
    std::array<input_event, maxFrameValues + 1> events{};
    std::size_t count = 0;
    for (const InputValue& value : frame) {
        if (count == maxFrameValues) break;
        events[count].type = value.type;
        events[count].code = value.code;
        events[count].value = value.value;
        ++count;
    }
    events[count].type = EV_SYN;
    events[count].code = SYN_REPORT;
    ++count;
    return write(std::span<const input_event>(events.data(), count));
}

bool UinputDevice::write(std::span<const input_event> events) {
    const auto bytes = events.size_bytes();
    for (;;) {
        const auto written = ::write(descriptor_, events.data(), bytes);
        if (written == static_cast<ssize_t>(bytes)) return true;
        if (written < 0 && errno == EINTR) continue;
        return false;
    }
}

} // namespace ravolet::platform
