#include "RavoletApp/Model/BundleInfo.hpp"

namespace ravolet {

BundleInfo BundleInfo::main() { return BundleInfo{RAVOLET_VERSION, RAVOLET_BUILD_NUMBER, RAVOLET_FROM_PACKAGE != 0}; }

std::string BundleInfo::versionDescription() const {
    return shortVersion.value_or("—") + " (build " + build.value_or("—") + ")";
}

} // namespace ravolet
