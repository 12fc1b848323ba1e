#pragma once

namespace ravolet::platform {

// Brings the program to the front, its windows above the others, as before a
// window the user must see. Main thread only.
class ApplicationActivator {
public:
    virtual ~ApplicationActivator() = default;
    virtual void activate() = 0;
};

} // namespace ravolet::platform
