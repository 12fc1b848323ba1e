#pragma once

#include "Platform/ApplicationActivator.hpp"

namespace ravolet::platform {

// Counts how often the program was brought to the front.
class SimulatedApplicationActivator final : public ApplicationActivator {
public:
    void activate() override { ++activations_; }
    int activations() const { return activations_; }

private:
    int activations_ = 0;
};

} // namespace ravolet::platform
