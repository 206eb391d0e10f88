// SPDX-License-Identifier: MIT
#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

struct BehaviourName
{
    Behaviour behaviour;
    const char *name;
};

constexpr BehaviourName kBehaviours[] = {
        {Behaviour::Echo, "echo"},       {Behaviour::At, "at"},     {Behaviour::Stream, "stream"},
        {Behaviour::Scanner, "scanner"}, {Behaviour::Sink, "sink"}, {Behaviour::Modbus, "modbus"},
};

bool parseCount(const std::string &text, uint64_t max, uint64_t &out)
{
    if (text.empty() || text.size() > 19)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > max)
        return false;
    out = value;
    return true;
}

bool parseSeconds(const std::string &text, double &out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

// The options each take a value; which behaviour they belong to, when only one.
struct ValueOption
{
    const char *name;
    std::optional<Behaviour> only;
};

constexpr ValueOption kValueOptions[] = {
        {"--name", std::nullopt},
        {"--pattern", Behaviour::Stream},
        {"--rate", Behaviour::Stream},
        {"--count", Behaviour::Stream},
        {"--seed", Behaviour::Stream},
        {"--period", Behaviour::Scanner},
        {"--alter", Behaviour::Echo},
        {"--alter-every", Behaviour::Echo},
        {"--drop", Behaviour::Echo},
        {"--unplug-after", std::nullopt},
        {"--away", std::nullopt},
        {"--unplug-times", std::nullopt},
        {"--slave", Behaviour::Modbus},
        {"--bad-crc-every", Behaviour::Modbus},
        {"--late", Behaviour::Modbus},
        {"--silent-every", Behaviour::Modbus},
        {"--exception-every", Behaviour::Modbus},
};

std::string applyValue(const std::string &option, const std::string &value, SimOptions &o)
{
    if (option == "--name") {
        if (!validLinkName(value))
            return "--name wants a file name of letters, digits, '.', '_' and '-' (not starting "
                   "with '.', not ending in .pid, at most 64 characters), not '"
                    + value + "'";
        o.name = value;
    } else if (option == "--pattern") {
        const auto pattern = patternNamed(value);
        if (!pattern)
            return "--pattern wants text, nmea, counter or random, not '" + value + "'";
        o.pattern = *pattern;
    } else if (option == "--rate") {
        if (!parseCount(value, 1000000000, o.rate))
            return "--rate wants bytes per second from 0 (as fast as possible) to 1000000000, "
                   "not '"
                    + value + "'";
    } else if (option == "--count") {
        uint64_t count = 0;
        if (!parseCount(value, UINT64_MAX / 2, count) || count == 0)
            return "--count wants a number of bytes of at least 1, not '" + value + "'";
        o.count = count;
    } else if (option == "--seed") {
        if (!parseCount(value, UINT64_MAX / 2, o.seed))
            return "--seed wants a whole number, not '" + value + "'";
    } else if (option == "--alter" || option == "--drop" || option == "--alter-every") {
        uint64_t n = 0;
        if (!parseCount(value, UINT64_MAX / 2, n) || n == 0)
            return option + " wants a byte number of at least 1, not '" + value + "'";
        if (option == "--alter")
            o.alter.push_back(n);
        else if (option == "--drop")
            o.drop.push_back(n);
        else
            o.alterEvery = n;
    } else if (option == "--period") {
        if (!parseSeconds(value, o.periodSeconds) || o.periodSeconds < 0.05
            || o.periodSeconds > 86400)
            return "--period wants seconds from 0.05 to 86400, not '" + value + "'";
    } else if (option == "--unplug-after") {
        double seconds = 0;
        if (!parseSeconds(value, seconds) || seconds > 86400)
            return "--unplug-after wants seconds from 0 to 86400, not '" + value + "'";
        o.unplugAfterSeconds = seconds;
    } else if (option == "--away") {
        if (!parseSeconds(value, o.awaySeconds) || o.awaySeconds > 86400)
            return "--away wants seconds from 0 to 86400, not '" + value + "'";
    } else if (option == "--slave") {
        uint64_t slave = 0;
        // 0 is the broadcast address and 248 up are reserved: no slave answers to them.
        if (!parseCount(value, 247, slave) || slave == 0)
            return "--slave wants an address from 1 to 247, not '" + value + "'";
        o.slave = int(slave);
    } else if (option == "--late") {
        if (!parseCount(value, 60000, o.lateMs))
            return "--late wants milliseconds from 0 to 60000, not '" + value + "'";
    } else if (option == "--bad-crc-every" || option == "--silent-every"
               || option == "--exception-every") {
        uint64_t n = 0;
        if (!parseCount(value, UINT64_MAX / 2, n) || n == 0)
            return option + " wants a number of at least 1, not '" + value + "'";
        if (option == "--bad-crc-every")
            o.badCrcEvery = n;
        else if (option == "--silent-every")
            o.silentEvery = n;
        else
            o.exceptionEvery = n;
    } else if (option == "--unplug-times") {
        if (!parseCount(value, 1000000000, o.unplugTimes))
            return "--unplug-times wants a number from 0 (every time) to 1000000000, not '" + value
                    + "'";
    }
    return {};
}

} // namespace

std::string behaviourName(Behaviour behaviour)
{
    for (const BehaviourName &b : kBehaviours) {
        if (b.behaviour == behaviour)
            return b.name;
    }
    return {};
}

bool validLinkName(const std::string &name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.')
        return false;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".pid") == 0)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                || c == '.' || c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string> &args)
{
    ParsedCommandLine result;
    SimOptions &o = result.options;
    std::optional<Behaviour> behaviour;
    struct Given
    {
        std::string option;
        std::optional<Behaviour> only;
    };
    std::vector<Given> given;

    // Asking for help is never an error, whatever else the line holds.
    for (const std::string &arg : args) {
        if (arg == "--help" || arg == "-h") {
            result.query = Query::Help;
            return result;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--hardware-ports") {
            result.query = Query::HardwarePorts;
            continue;
        }
        if (arg == "--ports") {
            result.query = Query::Ports;
            continue;
        }
        if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
            continue;
        }
        if (arg.rfind("-", 0) == 0) {
            const size_t eq = arg.find('=');
            const std::string option = arg.substr(0, eq);
            const ValueOption *known = nullptr;
            for (const ValueOption &v : kValueOptions) {
                if (option == v.name)
                    known = &v;
            }
            if (!known) {
                result.error = "unknown option '" + arg + "'";
                return result;
            }
            std::string value;
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                result.error = option + " needs a value";
                return result;
            }
            result.error = applyValue(option, value, o);
            if (!result.error.empty())
                return result;
            given.push_back({option, known->only});
            continue;
        }
        if (behaviour) {
            result.error = "one behaviour at a time: '" + behaviourName(*behaviour) + "' and '"
                    + arg + "'";
            return result;
        }
        for (const BehaviourName &b : kBehaviours) {
            if (arg == b.name)
                behaviour = b.behaviour;
        }
        if (!behaviour) {
            result.error =
                    "unknown behaviour '" + arg + "' (echo, at, stream, scanner, sink or modbus)";
            return result;
        }
    }

    if (result.query != Query::None)
        return result;
    if (!behaviour) {
        result.error = "which device should it play? Name a behaviour: echo, at, stream, "
                       "scanner, sink or modbus";
        return result;
    }
    o.behaviour = *behaviour;
    for (const Given &g : given) {
        if (g.only && *g.only != o.behaviour) {
            result.error = g.option + " belongs to " + behaviourName(*g.only) + ", not to "
                    + behaviourName(o.behaviour);
            return result;
        }
    }
    // Without a time to unplug they would silently do nothing.
    if (!o.unplugAfterSeconds) {
        for (const Given &g : given) {
            if (g.option == "--away" || g.option == "--unplug-times") {
                result.error = g.option + " goes with --unplug-after";
                return result;
            }
        }
    }
    return result;
}

std::string helpText()
{
    return R"(Usage: telvix-sim BEHAVIOUR [options]
       telvix-sim --hardware-ports | --ports | --help

Plays a serial device on a pseudo-terminal and publishes it as a port that TELVIX lists after
the hardware ports (as 虛擬裝置). It runs until Ctrl+C or SIGTERM, and then removes the port.
Nothing is sent while no program has the port open.

Behaviours:
  echo      sends back every byte it receives. For testing a faulty loop (bytes are
            counted from 1 in the order they arrive, anew at each opening of the port):
              --alter N         the N-th byte goes back with its lowest bit flipped
                                (repeatable)
              --alter-every N   so does every N-th byte
              --drop N          the N-th byte is not sent back (repeatable)
  at        answers lines ending in CR like a modem: AT -> OK, ATI -> an identification
            line and OK, anything else -> ERROR. LF and empty lines are ignored.
  stream    sends a pattern at a steady rate, for receive mode.
              --pattern text|nmea|counter|random   what to send (default text):
                  text     numbered lines of plain text ending in CR LF
                  nmea     GPS sentences ($GPGGA, $GPRMC) with valid checksums
                  counter  the bytes 00 01 ... FF over and over (spot a lost byte)
                  random   pseudo-random bytes (--seed N picks the sequence)
              --rate BYTES_PER_S   default 960 (a 9600-baud line); 0: as fast as the
                                   pseudo-terminal takes them
              --count N   stop after N bytes and exit once the port is closed;
                          without it, send until stopped
  scanner   every few seconds sends a barcode-like line (an EAN-13 number) ending in CR,
            as a barcode scanner does, for R2K mode.
              --period SECONDS   time between lines (default 3)
  sink      reads and counts everything, for the send modes. On exit it prints the byte
            count, the SHA-256 of what arrived and the gaps between bytes (count, median,
            99th percentile, maximum, in ms; bytes read together count as gap 0).
  modbus    a Modbus RTU slave whose replies libmodbus makes, for trying a Modbus master
            or decoder. It has 100 each of coils, discrete inputs, holding registers and
            input registers, numbered from 0: holding register i starts at i, input
            register i at 1000 + i, discrete input i is on when i is odd, the coils start
            off. After each answered read of registers, every register of the table read
            goes up by 1 (65535 goes round to 0), so no two reads look alike; a written
            value reads back as written and counts on from there. Requests for another
            address are ignored; broadcasts (address 0) are carried out, never answered.
            A request left unfinished for 0.5 s is dropped.
              --slave N             its address, 1 to 247 (default 1)
              --late MS             every reply held back MS milliseconds
              --bad-crc-every N     every N-th reply goes out with one bit of its CRC
                                    flipped
              --silent-every N      every N-th request is neither carried out nor
                                    answered (it wins when both name a request)
              --exception-every N   every N-th request is answered with exception 04
                                    (slave device failure) instead of being carried out
            Requests for this address and replies are counted from 1 at each opening of
            the port; the registers keep their values while the simulator runs.

Options:
  --name NAME        the port's file name in the folder (default sim-BEHAVIOUR, with -2,
                     -3, ... when another simulator has it)
  --unplug-after SECONDS
                     plays a USB adapter pulled out mid-test: that long after a program
                     has opened the port, its line hangs up and the port leaves the list;
                     after --away SECONDS (default 1) the port is back under the same
                     name, on a new pseudo-terminal, with the behaviour started afresh.
                     --unplug-times N: how often (default 1; 0: every time). It prints
                     "unplugged" and "back: PORT" as it goes.
  --quiet, -q        print only what is asked for (the port path and the sink's report)
  --hardware-ports   list the hardware ports TELVIX sees, one a line, and exit
  --ports            list every port TELVIX lists, with its COM number, and exit
  --help, -h         this text

The port is a symbolic link in $XDG_RUNTIME_DIR/telvix/ (or /tmp/telvix-UID/ when
XDG_RUNTIME_DIR is unset), next to a NAME.pid file naming this process.
Exit status: 0 after a clean stop, 1 when the port cannot be published, 2 for a bad command line.
)";
}

} // namespace sim
