#pragma once

#include <linux/input.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace ravolet::testing {

// Who a HID device says it is, as the kernel shows it in sysfs (HID_NAME,
// HID_PHYS, HID_UNIQ, HID_ID) and on its event nodes.
struct UhidIdentity {
    std::string name;
    std::string phys;
    std::string uniq;
    std::uint16_t bus = BUS_USB;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    std::uint32_t version = 0x0100;
};

// One HID device that exists only in the kernel's uhid driver: made with
// UHID_CREATE2 from a report descriptor, fed input reports with UHID_INPUT2,
// removed with UHID_DESTROY. The kernel then binds hid-generic to it and makes
// its hidraw and event nodes as for a device on a real bus.
//
// A thread of its own reads what the kernel sends: every output report
// written to the device's hidraw node (UHID_OUTPUT) goes to the handler, on
// that thread; GET_REPORT and SET_REPORT requests are refused at once (EIO),
// as by a device without feature reports, so that no caller in the kernel
// waits for their time-out. Every member may be called from any thread,
// the handler included.
class UhidDevice {
public:
    // Given each output report (report id first) and the device, to answer on.
    using OutputHandler = std::function<void(std::span<const std::uint8_t> report, UhidDevice& device)>;

    // Opens /dev/uhid and creates the device. Fails when uhid is missing (it
    // is only in the kernel test VM) or the kernel refuses the device.
    static std::expected<std::unique_ptr<UhidDevice>, std::string>
    create(const UhidIdentity& identity, std::span<const std::uint8_t> reportDescriptor, OutputHandler onOutput = {});

    // Destroys the device if it still exists, then stops the thread.
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // One input report, report id first where the descriptor numbers its
    // reports. Fails once the device is destroyed.
    std::expected<void, std::string> sendInput(std::span<const std::uint8_t> report);

    // UHID_DESTROY: the kernel removes the device and its nodes before this
    // returns. Does nothing when already destroyed.
    void destroy();
    bool exists() const;

    const UhidIdentity& identity() const { return identity_; }

private:
    struct Passkey {};

public:
    UhidDevice(Passkey, int fd, int wakeFd, UhidIdentity identity, OutputHandler onOutput);

private:
    void serve();
    // Answers a GET_REPORT or SET_REPORT request with EIO.
    void refuse(std::uint32_t replyType, std::uint32_t requestID);
    bool write(const void* event, std::size_t size);

    const int fd_;
    const int wakeFd_; // an eventfd that stops the thread
    const UhidIdentity identity_;
    const OutputHandler onOutput_;
    mutable std::mutex mutex_;
    bool exists_ = true;
    std::thread thread_;
};

} // namespace ravolet::testing
