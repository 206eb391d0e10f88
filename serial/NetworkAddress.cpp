// SPDX-License-Identifier: MIT
#include "NetworkAddress.h"

#include <cctype>
#include <charconv>
#include <string_view>
#include <vector>

namespace serial {

namespace {

constexpr std::string_view Rfc2217Scheme = "rfc2217://";
constexpr std::string_view TcpScheme = "tcp://";

bool startsWithNoCase(const std::string &text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

// Where each UTF-8 character of `text` starts; a stray continuation byte counts as one.
std::vector<size_t> characterStarts(const std::string &text)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 || starts.empty()
            || i - starts.back() >= 4)
            starts.push_back(i);
    }
    return starts;
}

} // namespace

std::string quotedHost(const std::string &host)
{
    const std::vector<size_t> starts = characterStarts(host);
    if (starts.size() <= QuotedHostChars)
        return host;
    // The end of a name (its domain) tells as much as its start.
    const size_t head = (QuotedHostChars - 1) / 2 + (QuotedHostChars - 1) % 2;
    const size_t tail = QuotedHostChars - 1 - head;
    return host.substr(0, starts[head]) + "\u2026" + host.substr(starts[starts.size() - tail]);
}

std::string addressText(const NetworkAddress &address)
{
    const std::string host = quotedHost(address.host);
    const bool ipv6 = address.host.find(':') != std::string::npos;
    return (ipv6 ? '[' + host + ']' : host) + ':' + std::to_string(address.port);
}

bool isNetworkPath(const std::string &path)
{
    return startsWithNoCase(path, Rfc2217Scheme) || startsWithNoCase(path, TcpScheme);
}

std::optional<NetworkAddress> parseNetworkAddress(const std::string &path, std::string &problem)
{
    NetworkAddress address;
    std::string rest;
    if (startsWithNoCase(path, Rfc2217Scheme)) {
        address.protocol = NetworkAddress::Protocol::Rfc2217;
        rest = path.substr(Rfc2217Scheme.size());
    } else if (startsWithNoCase(path, TcpScheme)) {
        address.protocol = NetworkAddress::Protocol::Tcp;
        rest = path.substr(TcpScheme.size());
    } else {
        problem = "不是網路埠位址 (rfc2217:// 或 tcp://)";
        return std::nullopt;
    }
    // A trailing slash is what people paste from a browser; nothing else may follow.
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            problem = "IPv6 位址請寫成 [位址]:埠號";
            return std::nullopt;
        }
        address.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            problem = "網路埠位址缺少埠號 (主機:埠號)";
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        if (address.host.find(':') != std::string::npos) {
            problem = "IPv6 位址請寫成 [位址]:埠號";
            return std::nullopt;
        }
    }
    if (address.host.empty() || address.host.find_first_of("/ \t") != std::string::npos) {
        problem = "網路埠位址缺少主機名稱,或主機名稱不正確";
        return std::nullopt;
    }
    const std::string portText = rest.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size()
        || port < 1 || port > 65535) {
        problem = "網路埠的埠號必須是 1 到 65535";
        return std::nullopt;
    }
    address.port = uint16_t(port);
    return address;
}

} // namespace serial
