#include "common/PeerOwner.h"

#include "common/UniqueFd.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

struct Request {
    nlmsghdr header;
    inet_diag_req_v2 body;
};

std::string systemError(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

// The address and port of a sockaddr of family AF_INET or AF_INET6, in
// the form inet_diag_sockid holds them (network byte order).
void fillEnd(const sockaddr_storage& address, __be32 (&where)[4], __be16& port)
{
    std::memset(where, 0, sizeof where);
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        where[0] = v4.sin_addr.s_addr;
        port = v4.sin_port;
    } else {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(where, &v6.sin6_addr, sizeof v6.sin6_addr);
        port = v6.sin6_port;
    }
}

} // namespace

std::optional<uid_t> peerOwner(int fd, std::string& why)
{
    int type = 0, protocol = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) {
        why = systemError("not a socket", errno);
        return std::nullopt;
    }
    size = sizeof protocol;
    if (type != SOCK_STREAM || ::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &size) != 0 ||
        protocol != IPPROTO_TCP) {
        why = "not a TCP connection";
        return std::nullopt;
    }
    sockaddr_storage local{}, peer{};
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        why = systemError("the connection has no peer", errno);
        return std::nullopt;
    }
    if ((local.ss_family != AF_INET && local.ss_family != AF_INET6) || peer.ss_family != local.ss_family) {
        why = "not an IPv4 or IPv6 connection";
        return std::nullopt;
    }

    UniqueFd diag(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!diag) {
        why = systemError("the kernel's socket diagnostics cannot be opened", errno);
        return std::nullopt;
    }
    static std::atomic<__u32> sequence{1};
    Request request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    // No NLM_F_DUMP: the kernel looks up the one socket of the 4-tuple.
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = sequence++;
    request.body.sdiag_family = static_cast<__u8>(local.ss_family);
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    // The peer's socket: its local end is our peer, its remote end is us.
    inet_diag_sockid& id = request.body.id;
    fillEnd(peer, id.idiag_src, id.idiag_sport);
    fillEnd(local, id.idiag_dst, id.idiag_dport);
    id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(diag.get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                        sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        why = systemError("the kernel's socket diagnostics cannot be asked", sent < 0 ? errno : EIO);
        return std::nullopt;
    }

    // Aligned for the netlink headers read out of it.
    alignas(nlmsghdr) char buffer[kPeerOwnerReplyBufferBytes];
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kPeerOwnerReplyTimeoutMs);
    for (int replies = 0; replies < kPeerOwnerMaxReplies;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd entry{diag.get(), POLLIN, 0};
        const int ready = left > 0 ? ::poll(&entry, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            why = "the kernel's socket diagnostics did not answer";
            return std::nullopt;
        }
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(diag.get(), buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            why = systemError("the kernel's socket diagnostics failed", errno);
            return std::nullopt;
        }
        ++replies;
        if (from.nl_pid != 0)
            continue;   // not from the kernel
        if (static_cast<size_t>(n) > sizeof buffer) {
            why = "the kernel's answer is larger than expected";
            return std::nullopt;
        }
        int length = static_cast<int>(n);
        // NLMSG_OK, with the lengths compared as the signed numbers they
        // are: what is left may fall below zero after the last message.
        const auto whole = [](const nlmsghdr* message, int left) {
            return left >= static_cast<int>(sizeof(nlmsghdr)) && message->nlmsg_len >= sizeof(nlmsghdr) &&
                   static_cast<long>(message->nlmsg_len) <= left;
        };
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); whole(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_seq != request.header.nlmsg_seq)
                continue;
            if (message->nlmsg_type == NLMSG_ERROR) {
                if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                    why = "the kernel's answer is cut short";
                    return std::nullopt;
                }
                const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
                if (error->error == 0)
                    continue;   // an acknowledgement, not an answer
                why = error->error == -ENOENT ? "the connecting socket is gone"
                                              : systemError("the kernel cannot tell", -error->error);
                return std::nullopt;
            }
            if (message->nlmsg_type == NLMSG_DONE) {
                why = "the kernel knows no socket for the peer";
                return std::nullopt;
            }
            if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
            // The kernel answers for the 4-tuple asked; the ports are checked
            // all the same (an IPv4-mapped peer comes back as AF_INET, so
            // the addresses are not compared).
            if (found->id.idiag_sport != id.idiag_sport || found->id.idiag_dport != id.idiag_dport) {
                why = "the kernel answered for another socket";
                return std::nullopt;
            }
            // A socket its process has closed has no inode: a closing
            // connection, or one in TIME_WAIT, which the kernel reports as
            // uid 0 whoever made it.
            if (found->idiag_inode == 0) {
                why = "the connecting socket has been closed";
                return std::nullopt;
            }
            return static_cast<uid_t>(found->idiag_uid);
        }
    }
    why = "the kernel's socket diagnostics gave no answer to the request";
    return std::nullopt;
}
