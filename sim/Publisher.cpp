// SPDX-License-Identifier: MIT
#include "Publisher.h"

#include "serial/VirtualPorts.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

// The record is written before the link appears and removed after it goes, so the port list
// never sees a link of a live simulator without its record. O_EXCL on the record is the
// claim on the name.
Publication::Claim Publication::claim(const std::string &dir, const std::string &name,
                                      const std::string &behaviour, const std::string &target,
                                      std::string &error)
{
    const std::string link = dir + "/" + name;
    const std::string record = serial::recordPathFor(link);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            serial::VirtualPortRecord other;
            if (serial::readRecord(record, other) && serial::simulatorAlive(other.pid)) {
                error = link + " is in use by telvix-sim (PID " + std::to_string(other.pid)
                        + ")";
                return Claim::Taken;
            }
            unlink(link.c_str());
            unlink(record.c_str());
            continue;
        }
        if (fd < 0) {
            error = "cannot create " + record + ": " + std::strerror(errno);
            return Claim::Failed;
        }
        const bool written = writeAll(fd, serial::formatRecord({getpid(), behaviour}));
        close(fd);
        if (!written) {
            error = "cannot write " + record + ": " + std::strerror(errno);
            unlink(record.c_str());
            return Claim::Failed;
        }
        struct stat st
        { };
        if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(link.c_str()); // left by a simulator that had already lost its record
        if (symlink(target.c_str(), link.c_str()) != 0) {
            error = "cannot create " + link + ": " + std::strerror(errno);
            unlink(record.c_str());
            return Claim::Failed;
        }
        m_link = link;
        m_record = record;
        m_published = true;
        return Claim::Done;
    }
    error = "cannot claim " + link + ": another simulator keeps taking it";
    return Claim::Failed;
}

bool Publication::publish(const std::string &dir, const std::string &name,
                          const std::string &behaviour, const std::string &target,
                          std::string &error)
{
    if (!name.empty())
        return claim(dir, name, behaviour, target, error) == Claim::Done;
    const std::string base = "sim-" + behaviour;
    for (int n = 1; n <= 99; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        switch (claim(dir, candidate, behaviour, target, error)) {
        case Claim::Done:
            return true;
        case Claim::Failed:
            return false;
        case Claim::Taken:
            break;
        }
    }
    error = "99 simulators of this kind are running already";
    return false;
}

void Publication::withdraw()
{
    if (!m_published)
        return;
    m_published = false;
    unlink(m_link.c_str());
    unlink(m_record.c_str());
}

void Publication::takeLinkAway()
{
    if (m_published)
        unlink(m_link.c_str());
}

bool Publication::restoreLink(const std::string &target, std::string &error)
{
    if (!m_published) {
        error = "the port was never published";
        return false;
    }
    unlink(m_link.c_str());
    if (symlink(target.c_str(), m_link.c_str()) != 0) {
        error = "cannot create " + m_link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace sim
