// SPDX-License-Identifier: MIT
// Makes the simulator's pseudo-terminal a port that TELVIX lists, and takes it away again.
#pragma once

#include <string>

namespace sim {

class Publication
{
public:
    Publication() = default;
    ~Publication() { withdraw(); }
    Publication(const Publication &) = delete;
    Publication &operator=(const Publication &) = delete;

    // Publishes `target` in `dir` under `name`, or, when `name` is empty, under the first of
    // sim-<behaviour>, sim-<behaviour>-2, ... that no live simulator holds. Leftovers of
    // simulators that have gone are replaced. False with `error` set otherwise.
    bool publish(const std::string &dir, const std::string &name, const std::string &behaviour,
                 const std::string &target, std::string &error);
    // Removes the link and the record.
    void withdraw();
    // Removes only the link: the record keeps the name claimed while the port is away, so
    // no other simulator takes it before the port comes back.
    void takeLinkAway();
    // Points the link, under the same path, at `target`.
    bool restoreLink(const std::string &target, std::string &error);

    const std::string &linkPath() const { return m_link; }

private:
    enum class Claim { Done, Taken, Failed };
    Claim claim(const std::string &dir, const std::string &name, const std::string &behaviour,
                const std::string &target, std::string &error);

    std::string m_link;
    std::string m_record;
    bool m_published = false;
};

} // namespace sim
