#pragma once
// The run both Linux programs share, once the loop is there: the settings file (the demo's,
// or the options'), one copy a settings file, the parts, the window where `Parts` opens one,
// start-up, the loop's priority, the status endpoint, systemd told, then `runLoop`.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/assembly.h"
#include "app/demo.h"
#include "app/linux/realtime_linux.h"
#include "app/options.h"
#include "app/service_notify.h"
#include "app/single_instance.h"
#include "platform/paths.h"
#include "settings/settings_path.h"

namespace tidewell {

template <class Parts, class RunLoop>
int runOnLinux(const Options& options, bool windowed, typename Parts::Loop& loop,
               RunLoop runLoop) {
    // Before the parts, so the program and its history are done with its folder when it goes.
    Demo demo;
    Assembly<Parts> parts(options, windowed, loop, STDOUT_FILENO);
    const std::string appFolder = paths::folderOf(paths::executablePath());
    std::string settingsFile;
    try {
        if (options.demo) {
            demo.start(appFolder);
            settingsFile = demo.settingsFile();
            parts.report.line("demo: simulated GPS receiver on " + demo.gpsDevice() +
                              "; UDP frames to 127.0.0.1:16000; the PC clock is not changed");
        } else {
            settingsFile = settingsFilePath(appFolder, options.settingsFile);
        }
    } catch (const std::exception& e) {
        return std::fprintf(stderr, "tidewell: %s\n", e.what()), 1;
    }
    InstanceLock instance(settingsFile);
    if (const auto status = endSecondCopy(instance, windowed, settingsFile)) return *status;
    ServiceNotifier service(loop, [&](const std::string& l) { parts.report.line(l); });
    parts.report.told = [&](const std::string& l) { service.status(l); };
    Program& program = parts.build(settingsFile);
    const auto window = Parts::openWindow(parts.desktop, program.window(), windowed);
    const auto stopWatch = loop.watchStopSignals([&] {
        service.stopping();
        program.stop();
    });
    program.start();
    // After start-up's lines, which scripts read first.
    const std::string priority = raiseLoopPriority();
    parts.report.line(priority);
    instance.recordStatusPlace(parts.serveStatus(priority));
    service.ready();
    if (window && options.demo) program.window().trayClicked(TrayButton::Left);
    const int status = runLoop();
    parts.report.told = nullptr;  // the service is gone before the report
    return status;
}

}  // namespace tidewell
