#pragma once
// Runs a piece of a test with the rights of an ordinary user. Root ignores
// file permissions, so a test of what a user may not do drops them first: the
// action runs in a child process that, when this process is root, becomes
// nobody (65534) for good.

#include <functional>
#include <string>
#include <sys/types.h>

struct TUserRun {
    bool Ran = false;        // false: the rights could not be dropped
    std::string SkipReason;  // why, when it did not run
    std::string Result;      // what the action returned, or what went wrong
};

// The user and group the action runs as.
uid_t OrdinaryUid();
gid_t OrdinaryGid();

// The action's result comes back as text; an exception's what() comes back
// as "error: <what>". It does not run (a skip) when the ordinary user cannot
// reach the folder.
TUserRun RunAsOrdinaryUser(const std::string& folder, const std::function<std::string()>& action);

// RunAsOrdinaryUser for an action that needs a user who may open no ICMP
// socket at all: neither a datagram one (net.ipv4.ping_group_range leaves
// the user out) nor a raw one (no cap_net_raw). A skip where the user may.
TUserRun RunWithoutPingRights(const std::string& folder, const std::function<std::string()>& action);

// Lets the ordinary user into a scratch folder of root (search rights only).
void LetOrdinaryUserIn(const std::string& folder);
