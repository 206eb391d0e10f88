// SPDX-License-Identifier: MIT
// What the permission hint needs to know about a device node and the user, gathered from the
// system databases. The hint tells "log out and in again" apart from "join the group first".
#pragma once

#include <string>

namespace serial {

struct GroupFacts
{
    std::string deviceGroup; // name of the group owning the node (the number when unnamed),
                             // empty when the node cannot be examined
    bool processInGroup = false; // this process carries that group right now
    bool listedInGroupFile = false; // the group file makes the user a member (or it is the
                                    // user's primary group), effective from the next login
    std::string userName; // the effective user, empty when unknown
};

GroupFacts groupFactsFor(const std::string &devicePath,
                         const std::string &groupFile = "/etc/group");

// True when `groupFile` (in /etc/group format) names `userName` among the members of
// `groupName`, or when that group's number equals `primaryGid` (pass -1 to leave that out).
// A missing file or group gives false.
bool groupFileListsUser(const std::string &groupFile, const std::string &groupName,
                        const std::string &userName, long long primaryGid = -1);

} // namespace serial
