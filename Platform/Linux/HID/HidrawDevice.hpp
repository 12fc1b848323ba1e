#pragma once

#include <memory>
#include <mutex>

#include "Platform/HIDDevice.hpp"
#include "Platform/Linux/HID/HidrawRegistry.hpp"
#include "Platform/Linux/HID/HidrawService.hpp"
#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"

namespace ravolet::platform {

class RunLoop;
class RunLoopSource;

// A HID device over its hidraw node.
//
// open() opens the node (HidrawRegistry::open: read-write, close-on-exec,
// non-blocking, with its short wait for udev after a plug-in). While the
// device is open, every input report is read as the kernel delivers it, one a
// read, and the callback gets it cut to the registered length on the run loop
// the device is scheduled on. A device scheduled on a RunLoop (the HID I/O
// thread's) is read by that loop itself, which hands each report on there and
// then; on any other scheduler, and while unscheduled, a thread of the
// device's own ("ai.ravolet.hidraw") reads and posts each report to where the
// device is scheduled (or drops it). Reports that find the device closed,
// unscheduled or rescheduled by then are dropped. Every reader of a hidraw
// node gets every report, so reading ours takes nothing from other programs.
//
// setReport() is one write() of the report, its id first (0 first for a
// device without numbered reports, as hidraw wants), from any thread.
//
// Failures keep the host's codes: a node that is missing or whose device has
// gone is kIOReturnNoDevice, a refused open kIOReturnNotPermitted, a node
// opened exclusively by someone else kIOReturnExclusiveAccess. When the
// device is unplugged its reads end (the kernel says the node hung up) and
// nothing more is delivered; writes fail with kIOReturnNoDevice; closing it
// succeeds.
class HidrawDevice final : public HIDDevice {
public:
    HidrawDevice(std::shared_ptr<HidrawService> service, std::shared_ptr<HidrawRegistry> registry);
    ~HidrawDevice() override;
    HidrawDevice(const HidrawDevice&) = delete;
    HidrawDevice& operator=(const HidrawDevice&) = delete;

    std::shared_ptr<HIDService> service() const override { return service_; }
    std::optional<HIDPropertyValue> property(std::string_view key) const override;

    IOReturn open() override;
    IOReturn close() override;
    void scheduleWithRunLoop(std::shared_ptr<Scheduler> runLoop) override;
    void unscheduleFromRunLoop() override;
    void registerInputReportCallback(std::size_t maxReportLength, HIDInputReportCallback callback) override;
    IOReturn setReport(HIDReportType type, std::uint32_t reportID, std::span<const std::uint8_t> report) override;

    // The host's code for an errno of open(2) or write(2) on a hidraw node.
    static IOReturn ioReturnForErrno(int error);

    struct Node;
    struct Input;
    struct LoopReader;

private:
    bool isOpen();
    // Reads the node on `target` when it is a run loop, else on a thread of
    // the device's own; ends the reading there was.
    IOReturn startReading(const std::shared_ptr<Node>& node, const std::shared_ptr<Scheduler>& target);
    void retarget(std::shared_ptr<Scheduler> runLoop);
    void stopReading();

    const std::shared_ptr<HidrawService> service_;
    const std::shared_ptr<HidrawRegistry> registry_;
    const std::shared_ptr<Input> input_;
    // open(), close() and the scheduling come from the thread of the device's
    // run loop; the node is also read by setReport() on any thread, under
    // the mutex.
    std::mutex mutex_;
    std::shared_ptr<Node> node_;
    // The reader: a thread of the device's own, or the run loop's source.
    std::unique_ptr<DescriptorWatcher> watcher_;
    Subscription watch_;
    std::shared_ptr<RunLoop> loop_;
    std::shared_ptr<RunLoopSource> loopReader_;
};

} // namespace ravolet::platform
