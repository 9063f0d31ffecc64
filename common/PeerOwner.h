// peerOwner: which local user owns the other end of a TCP connection made
// on this computer.
//
// fd is a connected TCP socket (IPv4, or IPv6 including IPv4-mapped
// addresses) whose peer is on this computer, as every peer of a loopback
// listener is.  The kernel's socket diagnostics (NETLINK_SOCK_DIAG) are
// asked for the one socket whose local address and port are fd's peer
// address and port, and whose remote ones are fd's own: the exact 4-tuple,
// never a listing.  The result is the uid that socket belongs to (the user
// of the process that created it).
//
// Returns no value, with why set to a sentence for the event log, when the
// owner cannot be told: fd is not a connected TCP socket, the kernel has no
// socket diagnostics, the peer's socket is gone or its process has closed
// it already (a connection closing or in TIME_WAIT, for which the kernel
// would report uid 0, whoever made it), or the kernel's answer is not one
// the function understands.
//
// Waits at most kPeerOwnerReplyTimeoutMs for the kernel and reads at most
// kPeerOwnerMaxReplies datagrams of kPeerOwnerReplyBufferBytes each: it
// never blocks its caller for long, whatever the kernel answers.  Never
// throws.
#pragma once

#include "common/CommonExport.h"

#include <sys/types.h>

#include <optional>
#include <string>

// The kernel answers a single-socket request at once; this is a bound
// against a kernel that never does, not a time anyone should meet.
inline constexpr int kPeerOwnerReplyTimeoutMs = 1000;
// One answer is one inet_diag_msg (72 bytes) with its netlink header; no
// attributes are asked for.  8 KB holds it many times over.
inline constexpr size_t kPeerOwnerReplyBufferBytes = 8192;
// Datagrams read before giving up on one that answers the request.
inline constexpr int kPeerOwnerMaxReplies = 4;

COMMONKIT_API std::optional<uid_t> peerOwner(int fd, std::string& why);
