// Loaded by Ravolet into KWin: tells Ravolet, over the session bus, which
// window is in front each time that changes, and which windows there are.
// Plasma 6 names windows "windows", Plasma 5 "clients"; both are served.

const plasma6 = typeof workspace.windowActivated !== "undefined";

function describe(window) {
    if (!window) return ["", ""];
    return [String(window.resourceClass || ""), String(window.desktopFileName || "")];
}

function reportFront(window) {
    const [resourceClass, desktopFile] = describe(window);
    callDBus("ai.ravolet.FrontWindow", "/ai/ravolet/FrontWindow", "ai.ravolet.FrontWindow", "Activated",
             resourceClass, desktopFile);
}

// As JSON, which no window class can break up into made-up entries.
function reportWindows() {
    const windows = plasma6 ? workspace.windowList() : workspace.clientList();
    const listed = [];
    for (const window of windows) {
        if (!window.normalWindow) continue;
        const [resourceClass, desktopFileName] = describe(window);
        listed.push({resourceClass, desktopFileName});
    }
    callDBus("ai.ravolet.FrontWindow", "/ai/ravolet/FrontWindow", "ai.ravolet.FrontWindow", "Windows",
             JSON.stringify(listed));
}

if (plasma6) {
    workspace.windowActivated.connect(reportFront);
    workspace.windowAdded.connect(reportWindows);
    workspace.windowRemoved.connect(reportWindows);
    reportFront(workspace.activeWindow);
} else {
    workspace.clientActivated.connect(reportFront);
    workspace.clientAdded.connect(reportWindows);
    workspace.clientRemoved.connect(reportWindows);
    reportFront(workspace.activeClient);
}
reportWindows();
