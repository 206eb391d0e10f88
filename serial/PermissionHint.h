// SPDX-License-Identifier: MIT
// The second line of the "cannot be opened" box when the kernel refused for lack of rights.
#pragma once

#include <QString>

namespace PermissionHint {

enum class Kind {
    None, // the group is no obstacle (or unknown): nothing to advise
    NotInGroup, // the user is not a member of the device's group
    LoginOlder, // the user was added, but this login started before that
};

Kind classify(bool processInGroup, bool listedInGroupFile);

// The advice for the box; empty for Kind::None.
QString text(Kind kind, const QString &group, const QString &user);

} // namespace PermissionHint
