#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"
#include "Core/ScrollPhase.hpp"
#include "RavoletEngine/EventPath/EventPosting.hpp"

namespace ravolet {

// Records what would be emitted, oldest first; scroll steps are also passed on
// to a forwarding poster when one is set.
class RecordingEventPoster final : public EventPosting {
public:
    struct Emission {
        struct Scroll {
            ScrollAxis axis;
            std::int64_t pixelDelta;
            ScrollPhase phase;
            ModifierFlags modifiers;
            friend bool operator==(const Scroll&, const Scroll&) = default;
        };
        struct Key {
            std::uint16_t code;
            bool isDown;
            ModifierFlags modifiers;
            friend bool operator==(const Key&, const Key&) = default;
        };
        struct MouseButton {
            std::int64_t number;
            bool isDown;
            friend bool operator==(const MouseButton&, const MouseButton&) = default;
        };
        std::variant<Scroll, Key, MouseButton> value;

        static Emission scroll(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers) {
            return {Scroll{axis, pixelDelta, phase, modifiers}};
        }
        static Emission key(std::uint16_t code, bool isDown, ModifierFlags modifiers) {
            return {Key{code, isDown, modifiers}};
        }
        static Emission mouseButton(std::int64_t number, bool isDown) { return {MouseButton{number, isDown}}; }

        // "scroll(vertical -12px began mods=0)", "key(0 up mods=16)", "mouseButton(3 down)".
        std::string description() const;

        friend bool operator==(const Emission&, const Emission&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Emission& e) { return os << e.description(); }
    };

    explicit RecordingEventPoster(std::shared_ptr<EventPosting> forwardingTo = nullptr);

    std::vector<Emission> emissions() const;
    void reset();

    // The glide's remaining pixels are forwarded, not recorded.
    void postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                        std::int64_t glideRemainingPixels) override;
    void postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) override;
    void postMouseButton(std::int64_t number, bool isDown) override;

private:
    mutable std::mutex lock_;
    std::vector<Emission> emissions_;
    const std::shared_ptr<EventPosting> forwarding_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::RecordingEventPoster::Emission> {
    std::size_t operator()(const ravolet::RecordingEventPoster::Emission& e) const noexcept {
        return std::hash<std::string>{}(e.description());
    }
};
