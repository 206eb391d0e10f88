// SPDX-License-Identifier: MIT
// The second line of the "cannot be opened" box when the kernel refused for lack of rights.
// Joining a group is advised only where it would help and gives no more than the device: the
// group must have read and write on it and be no group of administrators. Otherwise the box
// says who owns the device and how, and that an administrator has to open it up.
#pragma once

#include <QString>

namespace PermissionHint {

enum class Kind {
    None, // nothing to advise: no facts, or the group is no obstacle
    NotInGroup, // joining the device's group would give access
    LoginOlder, // the user was added to that group, but this login started before that
    AskAdministrator, // no group the user should join gives access
};

// What the advice is drawn from: the device node's owner, group and mode, and the user.
struct Facts
{
    QString owner; // user name owning the node (its number when unnamed)
    QString group; // group name owning the node (its number when unnamed); empty: unknown
    long long groupId = -1;
    unsigned mode = 0; // permission bits of the node
    bool processInGroup = false; // this process carries the node's group now
    bool listedInGroupFile = false; // the group database makes the user a member
    QString user; // the effective user
};

// Groups whose members can read disks, logs or passwords, or become root.
bool isPrivilegedGroup(const QString &name, long long groupId);

Kind classify(const Facts &facts);

// The advice for the box; empty for Kind::None.
QString text(const Facts &facts);

} // namespace PermissionHint
