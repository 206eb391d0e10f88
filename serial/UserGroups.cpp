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

bool parseGid(std::string_view text, long long &gid)
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

bool processHasGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(size_t(count) + 1);
    const int got = getgroups(int(groups.size()), groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[size_t(i)] == gid)
            return true;
    }
    return false;
}

} // namespace

bool groupFileListsUser(const std::string &groupFile, const std::string &groupName,
                        const std::string &userName, long long primaryGid)
{
    if (groupName.empty())
        return false;
    std::ifstream in(groupFile);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // name:password:gid:member,member
        const auto fields = splitFields(line, ':');
        if (fields.size() < 4 || fields[0] != groupName)
            continue;
        long long gid = -1;
        if (primaryGid >= 0 && parseGid(fields[2], gid) && gid == primaryGid)
            return true;
        if (userName.empty())
            continue;
        for (std::string_view member : splitFields(fields[3], ',')) {
            while (!member.empty() && (member.front() == ' ' || member.front() == '\t'))
                member.remove_prefix(1);
            while (!member.empty() && (member.back() == ' ' || member.back() == '\t'))
                member.remove_suffix(1);
            if (member == userName)
                return true;
        }
    }
    return false;
}

GroupFacts groupFactsFor(const std::string &devicePath, const std::string &groupFile)
{
    GroupFacts facts;
    long long primaryGid = -1;
    if (const passwd *pw = getpwuid(geteuid())) {
        facts.userName = pw->pw_name ? pw->pw_name : "";
        primaryGid = pw->pw_gid;
    }

    struct stat st
    { };
    if (stat(devicePath.c_str(), &st) != 0)
        return facts;
    if (const group *gr = getgrgid(st.st_gid); gr && gr->gr_name)
        facts.deviceGroup = gr->gr_name;
    else
        facts.deviceGroup = std::to_string(st.st_gid);

    facts.processInGroup = processHasGroup(st.st_gid);
    facts.listedInGroupFile = (primaryGid >= 0 && primaryGid == (long long)st.st_gid)
            || groupFileListsUser(groupFile, facts.deviceGroup, facts.userName);
    return facts;
}

} // namespace serial
