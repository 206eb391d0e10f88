// SPDX-License-Identifier: MIT
// What the permission hint needs to know about a device node and the user, gathered from the
// system databases. The hint tells "log out and in again" apart from "join the group first",
// and both from "only an administrator can open this device".
#pragma once

#include "serial/PermissionHint.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace serial {

struct GroupFacts
{
    std::string deviceGroup; // name of the group owning the node (the number when unnamed),
                             // empty when the node cannot be examined
    long long deviceGroupId = -1;
    std::string deviceOwner; // name of the user owning the node (the number when unnamed)
    unsigned mode = 0; // the node's permission bits
    bool processInGroup = false; // this process carries that group right now
    bool listedInGroupFile = false; // the group file makes the user a member (or it is the
                                    // user's primary group), effective from the next login
    std::string userName; // the effective user, empty when unknown
};

// Who this process runs as: what a login gave it.
struct Identity
{
    std::string userName;
    long long primaryGroupId = -1;
    std::vector<long long> groupIds; // the effective group and the supplementary ones
};
Identity currentIdentity();

// The facts of the node at `devicePath` for this process.
GroupFacts groupFactsFor(const std::string &devicePath,
                         const std::string &groupFile = "/etc/group");

// The same from a stat result and an identity, so that any owner, mode and membership can be
// looked at. Names come from the group and password files first, then from the system's
// databases, else the numbers stand.
GroupFacts groupFactsOf(const struct stat &node, const Identity &who,
                        const std::string &groupFile = "/etc/group",
                        const std::string &passwdFile = "/etc/passwd");

// What the permission hint is worded from.
PermissionHint::Facts hintFacts(const GroupFacts &facts);

// True when `groupFile` (in /etc/group format) names `userName` among the members of
// `groupName`, or when that group's number equals `primaryGid` (pass -1 to leave that out).
// A missing file or group gives false.
bool groupFileListsUser(const std::string &groupFile, const std::string &groupName,
                        const std::string &userName, long long primaryGid = -1);

} // namespace serial
