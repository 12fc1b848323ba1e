#pragma once

#include <cstdint>
#include <string>

namespace ravolet {

// What the macro executor asks of the world beyond event posting. Each call is
// made on the executor's queue, must return at once and reports nothing back:
// a request that cannot be honoured fails silently on the implementer's side.
class MacroSideEffects {
public:
    virtual ~MacroSideEffects() = default;

    virtual void requestDPI(std::int64_t dpi) = 0;
    virtual void launchApp(const std::string& bundleID) = 0;
    virtual void runShortcut(const std::string& name) = 0;
};

} // namespace ravolet
