// SPDX-License-Identifier: MIT
#include "PermissionHint.h"

#include <QStringList>

namespace PermissionHint {

bool isPrivilegedGroup(const QString &name, long long groupId)
{
    static const QStringList privileged {QStringLiteral("root"),   QStringLiteral("sudo"),
                                         QStringLiteral("wheel"),  QStringLiteral("adm"),
                                         QStringLiteral("shadow"), QStringLiteral("disk")};
    return groupId == 0 || privileged.contains(name);
}

namespace {

bool groupCanReadAndWrite(unsigned mode) { return (mode & 060) == 060; }

QString modeText(unsigned mode) { return QString::asprintf("%04o", mode & 07777); }

} // namespace

Kind classify(const Facts &facts)
{
    if (facts.group.isEmpty())
        return Kind::None;
    if (!groupCanReadAndWrite(facts.mode) || isPrivilegedGroup(facts.group, facts.groupId))
        return Kind::AskAdministrator;
    if (facts.processInGroup)
        return Kind::None;
    // Group membership is read at login: a new member's running session still lacks it.
    return facts.listedInGroupFile ? Kind::LoginOlder : Kind::NotInGroup;
}

QString text(const Facts &facts)
{
    switch (classify(facts)) {
    case Kind::NotInGroup:
        return QStringLiteral("你不在 %1 群組中 : 請執行 sudo adduser %2 %1 , 然後登出再登入")
                .arg(facts.group, facts.user);
    case Kind::LoginOlder:
        return QStringLiteral("你已加入 %1 群組 , 但這次登入早於加入 : 請登出再登入")
                .arg(facts.group);
    case Kind::AskAdministrator: {
        QString advice = QStringLiteral("這個裝置屬於 %1:%2 , 權限 %3")
                                 .arg(facts.owner, facts.group, modeText(facts.mode));
        if (groupCanReadAndWrite(facts.mode))
            advice += QStringLiteral(" ; %1 是管理員的群組 , 不宜加入").arg(facts.group);
        advice += QStringLiteral(" : 請系統管理員開放存取權 (例如以 udev 規則把裝置交給 dialout "
                                 "群組)");
        return advice;
    }
    case Kind::None:
        break;
    }
    return {};
}

} // namespace PermissionHint
