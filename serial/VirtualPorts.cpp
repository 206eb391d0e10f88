// SPDX-License-Identifier: MIT
#include "VirtualPorts.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

bool endsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size()
            && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const std::string kRecordSuffix = ".pid";

// The command name and state letter of /proc/<pid>/stat ("123 (telvix-sim) S ...").
// The name may itself hold spaces and parentheses, so it ends at the last ')'.
bool readProcStat(pid_t pid, std::string &command, char &state)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in)
        return false;
    std::string line;
    std::getline(in, line);
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open
        || close + 2 >= line.size())
        return false;
    command = line.substr(open + 1, close - open - 1);
    state = line[close + 2];
    return true;
}

struct Entries
{
    std::vector<std::string> links;
    std::vector<std::string> records;
};

Entries listEntries(const std::string &dir)
{
    Entries entries;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return entries;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st
        { };
        if (lstat((dir + "/" + name).c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode) && !endsWith(name, kRecordSuffix))
            entries.links.push_back(name);
        else if (S_ISREG(st.st_mode) && endsWith(name, kRecordSuffix))
            entries.records.push_back(name);
    }
    closedir(d);
    return entries;
}

bool fileExists(const std::string &path)
{
    struct stat st
    { };
    return lstat(path.c_str(), &st) == 0;
}

// A simulator starting under the same name may have replaced the pair since it was judged
// stale; only the pair still naming the dead process goes.
void removeStalePair(const std::string &linkPath, const std::string &recordPath, pid_t deadPid)
{
    VirtualPortRecord now;
    if (readRecord(recordPath, now) && now.pid != deadPid)
        return;
    unlink(linkPath.c_str());
    unlink(recordPath.c_str());
}

} // namespace

std::string defaultVirtualPortDir()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/telvix";
    return "/tmp/telvix-" + std::to_string(geteuid());
}

std::string checkPrivateDir(const std::string &dir, bool create)
{
    struct stat st
    { };
    if (lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT || !create)
            return "cannot use folder " + dir + ": " + std::strerror(errno);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return "cannot create folder " + dir + ": " + std::strerror(errno);
        if (lstat(dir.c_str(), &st) != 0)
            return "cannot use folder " + dir + ": " + std::strerror(errno);
    }
    if (S_ISLNK(st.st_mode))
        return dir + " is a symbolic link, not a folder of its own";
    if (!S_ISDIR(st.st_mode))
        return dir + " is not a folder";
    if (st.st_uid != geteuid())
        return dir + " belongs to user " + std::to_string(st.st_uid) + ", not to you";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return dir + " can be written by other users; make it private with chmod 700";
    return {};
}

std::string recordPathFor(const std::string &linkPath) { return linkPath + kRecordSuffix; }

std::string formatRecord(const VirtualPortRecord &record)
{
    return std::to_string(record.pid) + " " + record.behaviour + "\n";
}

bool parseRecord(const std::string &text, VirtualPortRecord &out)
{
    std::istringstream in(text);
    long long pid = 0;
    std::string behaviour, extra;
    if (!(in >> pid >> behaviour) || (in >> extra))
        return false;
    // A pid of 1 would be init: never ours, and a record naming it would never go stale.
    if (pid <= 1 || pid > 0x7fffffff)
        return false;
    out.pid = pid_t(pid);
    out.behaviour = behaviour;
    return true;
}

bool readRecord(const std::string &recordPath, VirtualPortRecord &out)
{
    std::ifstream in(recordPath);
    if (!in)
        return false;
    std::string text(256, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    return parseRecord(text, out);
}

bool simulatorAlive(pid_t pid)
{
    if (pid <= 1)
        return false;
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    std::string command;
    char state = 0;
    if (!readProcStat(pid, command, state)) {
        // Without /proc there is nothing more to learn; with it, the process just ended.
        return access("/proc/self/stat", R_OK) != 0;
    }
    return command == kSimulatorProgram && state != 'Z' && state != 'X';
}

std::vector<PortInfo> scanVirtualPorts(const std::string &dir)
{
    std::vector<PortInfo> ports;
    if (dir.empty() || !checkPrivateDir(dir, false).empty())
        return ports;

    const Entries entries = listEntries(dir);
    for (const std::string &name : entries.links) {
        const std::string linkPath = dir + "/" + name;
        const std::string recordPath = recordPathFor(linkPath);
        VirtualPortRecord record;
        if (!readRecord(recordPath, record)) {
            // Publishers write the record before the link and remove it after, so a link
            // without one is left over. A record that does not parse is not ours to judge.
            if (!fileExists(recordPath))
                unlink(linkPath.c_str());
            continue;
        }
        if (!simulatorAlive(record.pid)) {
            removeStalePair(linkPath, recordPath, record.pid);
            continue;
        }
        struct stat st
        { };
        if (stat(linkPath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;

        PortInfo port;
        port.name = name;
        port.devicePath = linkPath;
        kindOfName(name, port.number);
        port.kind = PortKind::Virtual;
        port.product = std::string(kSimulatorProgram) + " " + record.behaviour;
        port.driver = kSimulatorProgram;
        ports.push_back(std::move(port));
    }
    for (const std::string &name : entries.records) {
        const std::string recordPath = dir + "/" + name;
        const std::string linkPath = recordPath.substr(0, recordPath.size() - kRecordSuffix.size());
        VirtualPortRecord record;
        if (!fileExists(linkPath) && readRecord(recordPath, record) && !simulatorAlive(record.pid))
            unlink(recordPath.c_str());
    }
    return ports;
}

} // namespace serial
