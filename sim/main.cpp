// SPDX-License-Identifier: MIT
// telvix-sim: a serial device on a pseudo-terminal, published as a port TELVIX lists.
#include "Devices.h"
#include "Options.h"
#include "PseudoTerminal.h"
#include "Publisher.h"
#include "Runner.h"

#include "serial/PortScan.h"
#include "serial/VirtualPorts.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void printLine(FILE *to, const std::string &line)
{
    std::fputs((line + "\n").c_str(), to);
    std::fflush(to);
}

int listPorts(bool hardwareOnly)
{
    const auto ports = serial::scanPorts();
    for (size_t i = 0; i < ports.size(); ++i) {
        const serial::PortInfo &p = ports[i];
        if (hardwareOnly && p.kind == serial::PortKind::Virtual)
            continue;
        printLine(stdout,
                  "COM" + std::to_string(i + 1) + "\t" + p.devicePath + "\t" + p.description());
    }
    return 0;
}

// The number TELVIX will give the port when it scans now; hardware plugged in later moves it.
std::string comNumberOf(const std::string &linkPath)
{
    const auto ports = serial::scanPorts();
    for (size_t i = 0; i < ports.size(); ++i) {
        if (ports[i].devicePath == linkPath)
            return "COM" + std::to_string(i + 1);
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    const sim::ParsedCommandLine parsed =
            sim::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        printLine(stderr, "telvix-sim: " + parsed.error);
        printLine(stderr, "Try 'telvix-sim --help'.");
        return 2;
    }
    switch (parsed.query) {
    case sim::Query::Help:
        std::fputs(sim::helpText().c_str(), stdout);
        return 0;
    case sim::Query::HardwarePorts:
        return listPorts(true);
    case sim::Query::Ports:
        return listPorts(false);
    case sim::Query::None:
        break;
    }

    const sim::SimOptions &options = parsed.options;
    const std::string behaviour = sim::behaviourName(options.behaviour);
    // Before publishing: a port that is listed must be one that answers.
    std::string error;
    const auto device = sim::makeDevice(options, &error);
    if (!device) {
        printLine(stderr, "telvix-sim: cannot play " + behaviour + ": " + error);
        return 1;
    }
    sim::PseudoTerminal pty = sim::openPseudoTerminal();
    if (pty.master < 0) {
        printLine(stderr, "telvix-sim: no pseudo-terminal: " + pty.error);
        return 1;
    }

    sigset_t waitMask;
    sim::takeStopSignals(waitMask);

    const std::string dir = serial::defaultVirtualPortDir();
    if (const std::string problem = serial::checkPrivateDir(dir, true); !problem.empty()) {
        printLine(stderr, "telvix-sim: " + problem);
        return 1;
    }
    sim::Publication publication;
    if (!publication.publish(dir, options.name, behaviour, pty.slavePath, error)) {
        printLine(stderr, "telvix-sim: " + error);
        return 1;
    }

    if (options.quiet) {
        printLine(stdout, publication.linkPath());
    } else {
        printLine(stdout,
                  "telvix-sim " + behaviour + ": port " + publication.linkPath() + " ("
                          + pty.slavePath + ")");
        const std::string com = comNumberOf(publication.linkPath());
        printLine(stdout,
                  (com.empty() ? std::string("TELVIX does not list it (see telvix-sim --ports)")
                               : "TELVIX lists it as " + com)
                          + "; stop with Ctrl+C.");
    }

    const auto log = [&](const std::string &line) {
        if (!options.quiet)
            printLine(stdout, line);
    };
    std::optional<sim::Clock::duration> unplugAfter;
    if (options.unplugAfterSeconds)
        unplugAfter = std::chrono::duration_cast<sim::Clock::duration>(
                std::chrono::duration<double>(*options.unplugAfterSeconds));
    const auto away = std::chrono::duration_cast<sim::Clock::duration>(
            std::chrono::duration<double>(options.awaySeconds));
    uint64_t unplugs = 0;
    sim::RunResult result;
    for (;;) {
        const bool mayUnplug =
                unplugAfter && (options.unplugTimes == 0 || unplugs < options.unplugTimes);
        result = sim::runDevice(*device, pty.master, waitMask, log,
                                mayUnplug ? unplugAfter : std::nullopt);
        if (!result.unplugged)
            break;
        // The link goes first, so a program that sees the hang-up finds the port gone. Closing
        // the master is what hangs up its descriptor; coming back needs a new pair, as a
        // re-plugged adapter is a new device to the kernel.
        publication.takeLinkAway();
        close(pty.master);
        pty.master = -1;
        ++unplugs;
        log("unplugged");
        // A finished device would have ended at the close of the port; being pulled is one.
        if (device->finished() || !sim::pauseUnlessStopped(away, waitMask))
            break;
        pty = sim::openPseudoTerminal();
        if (pty.master < 0) {
            result = {1, "no pseudo-terminal to come back on: " + pty.error};
            break;
        }
        if (!publication.restoreLink(pty.slavePath, error)) {
            result = {1, error};
            break;
        }
        log("back: " + publication.linkPath());
    }
    publication.withdraw();
    if (pty.master >= 0)
        close(pty.master);
    if (const std::string report = device->report(); !report.empty())
        printLine(stdout, report);
    if (!result.error.empty())
        printLine(stderr, "telvix-sim: " + result.error);
    return result.exitCode;
}
