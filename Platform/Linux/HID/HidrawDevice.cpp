#include "Platform/Linux/HID/HidrawDevice.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "Platform/RunLoop.hpp"

namespace ravolet::platform {

// An open node; closed when the last holder lets it go, so that a write on
// another thread never meets a descriptor number that was closed and reused.
struct HidrawDevice::Node {
    explicit Node(int descriptor) : fd(descriptor) {}
    ~Node() { ::close(fd); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    const int fd;
};

// What the reading thread shares with the device: where reports go, and
// whether they may still go there.
struct HidrawDevice::Input : std::enable_shared_from_this<Input> {
    explicit Input(bool numbered) : numberedReports(numbered) {}

    // On the reading thread or loop: the next report, handed to `take`;
    // false when none is waiting (EAGAIN) or the node failed (EIO, ENODEV:
    // the device has gone, and the watch stops on the hang-up that comes
    // with it).
    template <class Take>
    bool readOne(int fd, Take&& take) {
        for (;;) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got > 0) {
                take(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
                return true;
            }
            if (got < 0 && errno == EINTR) continue;
            return false;
        }
    }

    void handOn(std::span<const std::uint8_t> report) {
        std::shared_ptr<Scheduler> runLoop;
        std::uint64_t expected = 0;
        {
            std::lock_guard lock(mutex);
            if (!open || !target || !callback) return;
            runLoop = target;
            expected = generation;
        }
        runLoop->post([weak = weak_from_this(), expected, bytes = std::vector<std::uint8_t>(report.begin(), report.end())] {
            if (auto input = weak.lock()) input->deliver(expected, bytes);
        });
    }

    // On the device's run loop.
    void deliver(std::uint64_t expected, std::span<const std::uint8_t> report) {
        HIDInputReportCallback call;
        std::size_t length = 0;
        {
            std::lock_guard lock(mutex);
            if (!open || generation != expected || !callback) return;
            call = callback;
            length = maxLength;
        }
        const std::span<const std::uint8_t> bytes(report.data(), std::min(report.size(), length));
        const std::uint32_t reportID = numberedReports && !report.empty() ? report[0] : 0;
        call(kIOReturnSuccess, HIDReportType::input, reportID, bytes);
    }

    const bool numberedReports;
    // Only the reader (thread or loop) uses it. The kernel hands out at most
    // 16 KiB a report.
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(16 * 1024);

    std::mutex mutex;
    bool open = false;
    std::shared_ptr<Scheduler> target;
    HIDInputReportCallback callback;
    std::size_t maxLength = 0;
    // Changes whenever reports already posted must no longer arrive.
    std::uint64_t generation = 0;
};

// Reads the node on the run loop the device is scheduled on, which hands
// each report to the callback there and then, with no other thread between
// the kernel and the report's reader.
struct HidrawDevice::LoopReader final : RunLoopSource {
    LoopReader(std::shared_ptr<Input> input, std::shared_ptr<Node> node, std::uint64_t generation)
        : input(std::move(input)), node(std::move(node)), generation(generation) {}

    void perform() override {
        // One report a pass: the loop looks at the node again before it
        // sleeps, so a report still waiting is read on the next pass, and an
        // answer costs no read that finds nothing.
        input->readOne(node->fd, [this](std::span<const std::uint8_t> report) { input->deliver(generation, report); });
    }

    const std::shared_ptr<Input> input;
    const std::shared_ptr<Node> node;
    const std::uint64_t generation;
};

HidrawDevice::HidrawDevice(std::shared_ptr<HidrawService> service, std::shared_ptr<HidrawRegistry> registry)
    : service_(std::move(service)),
      registry_(std::move(registry)),
      input_(std::make_shared<Input>(service_->numberedReports())) {}

HidrawDevice::~HidrawDevice() { close(); }

std::optional<HIDPropertyValue> HidrawDevice::property(std::string_view key) const {
    const auto it = service_->properties().find(key);
    if (it == service_->properties().end()) return std::nullopt;
    return it->second;
}

IOReturn HidrawDevice::ioReturnForErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return kIOReturnNoDevice;
    case EACCES:
    case EPERM: return kIOReturnNotPermitted;
    case EBUSY: return kIOReturnExclusiveAccess;
    case EAGAIN: return kIOReturnBusy;
    case ETIMEDOUT: return kIOReturnTimeout;
    case EINVAL: return kIOReturnBadArgument;
    case ENOMEM: return kIOReturnNoMemory;
    case EMFILE:
    case ENFILE: return kIOReturnNoResources;
    case EIO:
    case EPIPE:
    case EPROTO: return kIOReturnIOError;
    default: return kIOReturnError;
    }
}

IOReturn HidrawDevice::open() {
    if (isOpen()) return kIOReturnSuccess;
    const auto opened = registry_->open(*service_);
    if (!opened) return ioReturnForErrno(opened.error());
    auto node = std::make_shared<Node>(*opened);
    {
        std::lock_guard lock(input_->mutex);
        input_->open = true;
        ++input_->generation;
    }
    {
        std::lock_guard lock(mutex_);
        node_ = node;
    }
    return startReading(node, nullptr);
}

bool HidrawDevice::isOpen() {
    std::lock_guard lock(mutex_);
    return node_ != nullptr;
}

IOReturn HidrawDevice::startReading(const std::shared_ptr<Node>& node, const std::shared_ptr<Scheduler>& target) {
    stopReading();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(input_->mutex);
        generation = ++input_->generation;
    }
    if (auto loop = std::dynamic_pointer_cast<RunLoop>(target)) {
        auto reader = std::make_shared<LoopReader>(input_, node, generation);
        if (loop->addSource(reader, node->fd)) {
            loop_ = std::move(loop);
            loopReader_ = std::move(reader);
            return kIOReturnSuccess;
        }
    }
    // Elsewhere (or unscheduled, where reports are read and dropped) a thread
    // of the device's own reads and posts each report to where it is
    // scheduled. Input reports feed the answers to HID++ requests: as urgent
    // as those.
    auto watcher = DescriptorWatcher::make({"ai.ravolet.hidraw", ThreadPriority::userInitiated, 256 * 1024});
    if (!watcher) return kIOReturnNoResources;
    watch_ = watcher->watch(node->fd, [input = input_, node](short) {
        while (input->readOne(node->fd, [&input](std::span<const std::uint8_t> report) { input->handOn(report); })) {
        }
    });
    watcher_ = std::move(watcher);
    return kIOReturnSuccess;
}

void HidrawDevice::stopReading() {
    // Once the watch is dropped the reading thread is done with the node; a
    // source taken off its loop is not called again (the loop's own thread
    // may be in it right now only when this runs there).
    watch_.cancel();
    watcher_.reset();
    if (loopReader_) loop_->removeSource(loopReader_);
    loopReader_.reset();
    loop_.reset();
}

IOReturn HidrawDevice::close() {
    if (!isOpen()) return kIOReturnNotOpen;
    stopReading();
    {
        std::lock_guard lock(input_->mutex);
        input_->open = false;
        ++input_->generation;
    }
    std::lock_guard lock(mutex_);
    node_.reset();
    return kIOReturnSuccess;
}

void HidrawDevice::scheduleWithRunLoop(std::shared_ptr<Scheduler> runLoop) { retarget(std::move(runLoop)); }

void HidrawDevice::unscheduleFromRunLoop() { retarget(nullptr); }

void HidrawDevice::retarget(std::shared_ptr<Scheduler> runLoop) {
    std::shared_ptr<Node> node;
    {
        std::lock_guard lock(mutex_);
        node = node_;
    }
    // The reader of the old place is done before the new place is known, so
    // that a report it read before the change never goes to the new one.
    if (node) stopReading();
    {
        std::lock_guard lock(input_->mutex);
        input_->target = runLoop;
    }
    if (node) (void)startReading(node, runLoop);
}

void HidrawDevice::registerInputReportCallback(std::size_t maxReportLength, HIDInputReportCallback callback) {
    std::lock_guard lock(input_->mutex);
    input_->maxLength = maxReportLength;
    input_->callback = std::move(callback);
}

IOReturn HidrawDevice::setReport(HIDReportType type, std::uint32_t reportID, std::span<const std::uint8_t> report) {
    if (type != HIDReportType::output) return kIOReturnUnsupported;
    std::shared_ptr<Node> node;
    {
        std::lock_guard lock(mutex_);
        node = node_;
    }
    if (!node) return kIOReturnNotOpen;
    std::vector<std::uint8_t> unnumbered;
    if (reportID == 0) {
        unnumbered.reserve(report.size() + 1);
        unnumbered.push_back(0);
        unnumbered.insert(unnumbered.end(), report.begin(), report.end());
        report = unnumbered;
    } else if (report.empty() || report[0] != reportID) {
        return kIOReturnBadArgument;
    }
    for (;;) {
        const ssize_t written = ::write(node->fd, report.data(), report.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return ioReturnForErrno(errno);
        return static_cast<std::size_t>(written) == report.size() ? kIOReturnSuccess : kIOReturnIOError;
    }
}

} // namespace ravolet::platform
