// SPDX-License-Identifier: MIT
#include "PermissionHint.h"

namespace PermissionHint {

Kind classify(bool processInGroup, bool listedInGroupFile)
{
    if (processInGroup)
        return Kind::None;
    // Group membership is read at login: a new member's running session still lacks it.
    return listedInGroupFile ? Kind::LoginOlder : Kind::NotInGroup;
}

QString text(Kind kind, const QString &group, const QString &user)
{
    switch (kind) {
    case Kind::NotInGroup:
        return QStringLiteral("你不在 %1 群組中 : 請執行 sudo adduser %2 %1 , 然後登出再登入")
                .arg(group, user);
    case Kind::LoginOlder:
        return QStringLiteral("你已加入 %1 群組 , 但這次登入早於加入 : 請登出再登入").arg(group);
    case Kind::None:
        break;
    }
    return {};
}

} // namespace PermissionHint
