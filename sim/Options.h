// SPDX-License-Identifier: MIT
// The command line of telvix-sim.
#pragma once

#include "Patterns.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class Behaviour { Echo, At, Stream, Scanner, Sink, Modbus };

std::string behaviourName(Behaviour behaviour);

struct SimOptions
{
    Behaviour behaviour = Behaviour::Echo;
    std::string name; // the published link's file name; empty: sim-<behaviour>
    bool quiet = false;
    // echo: a faulty loop, for the cable self-test. Bytes are counted from 1 in the order they
    // arrive, anew at each opening of the port.
    std::vector<uint64_t> alter; // echoed with the lowest bit flipped
    uint64_t alterEvery = 0; // every N-th byte altered; 0: none
    std::vector<uint64_t> drop; // not echoed at all
    // stream
    Pattern pattern = Pattern::Text;
    uint64_t rate = 960; // bytes per second, a 9600-baud line; 0: as fast as the pty takes
    std::optional<uint64_t> count;
    uint64_t seed = 1;
    // scanner
    double periodSeconds = 3.0;
    // modbus: faults are counted from 1 at each opening of the port, requests among those for
    // this slave (broadcasts are never answered, so they do not count), replies among those sent.
    int slave = 1;
    uint64_t badCrcEvery = 0; // every N-th reply with one bit of its CRC flipped; 0: none
    uint64_t lateMs = 0; // every reply held back this long
    uint64_t silentEvery = 0; // every N-th request neither carried out nor answered
    uint64_t exceptionEvery = 0; // every N-th request answered with exception 04 instead
    // Any behaviour: the port drops out like a pulled USB adapter and comes back under the
    // same name. The wait starts when a program first opens the port after it (re)appears.
    std::optional<double> unplugAfterSeconds;
    double awaySeconds = 1.0;
    uint64_t unplugTimes = 1; // 0: every time
};

// What to do instead of playing a device.
enum class Query { None, Help, HardwarePorts, Ports };

struct ParsedCommandLine
{
    std::string error; // empty when the line was understood
    Query query = Query::None;
    SimOptions options;
};

// `args` without the program name.
ParsedCommandLine parseCommandLine(const std::vector<std::string> &args);

std::string helpText();

// A link name must stay inside the folder and not look like a record file.
bool validLinkName(const std::string &name);

} // namespace sim
