// SPDX-License-Identifier: MIT
#include "UserGroups.h"

#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace serial {

namespace {

std::vector<std::string_view> splitFields(std::string_view line, char separator)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return fields;
        start = end + 1;
    }
}

bool parseId(std::string_view text, long long &gid)
{
    if (text.empty() || text.size() > 10)
        return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    gid = value;
    return true;
}

// Calls `take` with the fields of each record of a colon-separated database file (group or
// passwd format) until it returns true; true when one did.
template<typename Take>
bool findRecord(const std::string &file, Take take)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (take(splitFields(line, ':')))
            return true;
    }
    return false;
}

// The name such a file gives to an id.
std::string nameInFile(const std::string &file, long long id)
{
    std::string name;
    findRecord(file, [&](const std::vector<std::string_view> &fields) {
        long long fileId = -1;
        if (fields.size() < 3 || fields[0].empty() || !parseId(fields[2], fileId) || fileId != id)
            return false;
        name = fields[0];
        return true;
    });
    return name;
}

} // namespace

bool groupFileListsUser(const std::string &groupFile, const std::string &groupName,
                        const std::string &userName, long long primaryGid)
{
    if (groupName.empty())
        return false;
    // name:password:gid:member,member
    return findRecord(groupFile, [&](const std::vector<std::string_view> &fields) {
        if (fields.size() < 4 || fields[0] != groupName)
            return false;
        long long gid = -1;
        if (primaryGid >= 0 && parseId(fields[2], gid) && gid == primaryGid)
            return true;
        if (userName.empty())
            return false;
        for (std::string_view member : splitFields(fields[3], ',')) {
            while (!member.empty() && (member.front() == ' ' || member.front() == '\t'))
                member.remove_prefix(1);
            while (!member.empty() && (member.back() == ' ' || member.back() == '\t'))
                member.remove_suffix(1);
            if (member == userName)
                return true;
        }
        return false;
    });
}

Identity currentIdentity()
{
    Identity who;
    if (const passwd *pw = getpwuid(geteuid())) {
        who.userName = pw->pw_name ? pw->pw_name : "";
        who.primaryGroupId = pw->pw_gid;
    }
    who.groupIds.push_back(getegid());
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(size_t(count) + 1);
        const int got = getgroups(int(groups.size()), groups.data());
        for (int i = 0; i < got; ++i)
            who.groupIds.push_back(groups[size_t(i)]);
    }
    return who;
}

GroupFacts groupFactsOf(const struct stat &node, const Identity &who, const std::string &groupFile,
                        const std::string &passwdFile)
{
    GroupFacts facts;
    facts.userName = who.userName;
    facts.deviceGroupId = node.st_gid;
    facts.mode = unsigned(node.st_mode) & 07777u;
    facts.deviceGroup = nameInFile(groupFile, node.st_gid);
    if (facts.deviceGroup.empty()) {
        const group *gr = getgrgid(node.st_gid);
        facts.deviceGroup = gr && gr->gr_name ? gr->gr_name : std::to_string(node.st_gid);
    }
    facts.deviceOwner = nameInFile(passwdFile, node.st_uid);
    if (facts.deviceOwner.empty()) {
        const passwd *pw = getpwuid(node.st_uid);
        facts.deviceOwner = pw && pw->pw_name ? pw->pw_name : std::to_string(node.st_uid);
    }
    for (long long id : who.groupIds)
        facts.processInGroup = facts.processInGroup || id == (long long)node.st_gid;
    facts.listedInGroupFile = who.primaryGroupId == (long long)node.st_gid
            || groupFileListsUser(groupFile, facts.deviceGroup, facts.userName);
    return facts;
}

PermissionHint::Facts hintFacts(const GroupFacts &facts)
{
    PermissionHint::Facts hint;
    hint.owner = QString::fromStdString(facts.deviceOwner);
    hint.group = QString::fromStdString(facts.deviceGroup);
    hint.groupId = facts.deviceGroupId;
    hint.mode = facts.mode;
    hint.processInGroup = facts.processInGroup;
    hint.listedInGroupFile = facts.listedInGroupFile;
    hint.user = QString::fromStdString(facts.userName);
    return hint;
}

GroupFacts groupFactsFor(const std::string &devicePath, const std::string &groupFile)
{
    struct stat st
    { };
    if (stat(devicePath.c_str(), &st) != 0) {
        GroupFacts facts;
        facts.userName = currentIdentity().userName;
        return facts;
    }
    return groupFactsOf(st, currentIdentity(), groupFile);
}

} // namespace serial
