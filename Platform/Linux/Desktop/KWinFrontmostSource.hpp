#pragma once

#include <filesystem>
#include <memory>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// The front window from KWin (KDE Plasma 5 and 6), which offers no protocol
// for it to an ordinary client: a script of ours, loaded into KWin over the
// session bus (org.kde.KWin /Scripting loadScript, then run on the script's
// object: /<id> on Plasma 5, /Scripting/Script<id> on Plasma 6), calls back
// on every activation with the window's resource class and desktop file
// name, and with the windows there are (a JSON list, which no window class
// can break up) whenever one comes or goes. A switch first reports "no
// window", then the new one: "no window" is
// believed only when nothing follows it shortly. The script is unloaded at
// stop; when KWin goes away the source cannot tell any more.
class KWinFrontmostSource final : public FrontmostSource {
public:
    // The bus name our object answers on, which the script calls.
    static constexpr const char* busName = "ai.ravolet.FrontWindow";
    // The name the script is loaded under in KWin.
    static constexpr const char* pluginName = "ravolet-front-window";
    // How long "no window" must stand before it is believed.
    static constexpr unsigned emptyReportDelayMillis = 250;

    // `script`: the path of data/kwin/ravolet-front-window.js.
    explicit KWinFrontmostSource(std::filesystem::path script);
    ~KWinFrontmostSource() override;

    FrontmostTracking::Source kind() const override { return FrontmostTracking::Source::kwin; }
    // False when there is no session bus, no KWin on it, another Ravolet
    // already owns our bus name, or KWin refuses the script.
    bool start(std::function<void()> changed) override;
    void stop() override;
    Front front() const override;
    std::vector<WindowClues> windows() const override;

    struct State;

private:
    const std::filesystem::path script_;
    std::shared_ptr<State> state_;
};

} // namespace ravolet::platform
