// SPDX-License-Identifier: MIT
// A serial port on the network, as the device-path row names it: rfc2217://HOST:PORT for a
// serial server speaking Telnet COM-PORT-OPTION (ser2net, terminal servers), tcp://HOST:PORT
// for one that passes bytes only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace serial {

struct NetworkAddress
{
    enum class Protocol { Rfc2217, Tcp };
    Protocol protocol = Protocol::Tcp;
    std::string host; // without the brackets of an IPv6 address
    uint16_t port = 0;
};

// Whether `path` is meant as a network port (it starts with one of the two schemes), however
// well formed the rest is.
bool isNetworkPath(const std::string &path);

// The address, or nothing with `problem` saying what is wrong with it (UTF-8, for the user).
std::optional<NetworkAddress> parseNetworkAddress(const std::string &path, std::string &problem);

// A host as a message quotes it: at most QuotedHostChars characters, a longer one cut in the
// middle with an ellipsis, so that a pasted page of text makes no page-long message.
inline constexpr size_t QuotedHostChars = 64;
std::string quotedHost(const std::string &host);
// HOST:PORT for a message, an IPv6 address in its brackets ([::1]:2217).
std::string addressText(const NetworkAddress &address);

} // namespace serial
