#include "admin_access.h"

#include <arpa/inet.h>
#include <cstring>
#include <grp.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
pappl_system_t* gSystem = nullptr;

// Without a group of its own, PAPPL lets any user PAM knows in.
const char kRootGroup[] = "root";

bool Loopback(const sockaddr_storage& a)
{
    if (a.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr) >> 24) == 127;
    if (a.ss_family != AF_INET6)
        return false;
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(a).sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

void CopyEnd(const sockaddr_storage& a, __be16* port, __be32* addr)
{
    if (a.ss_family == AF_INET) {
        const sockaddr_in& v4 = reinterpret_cast<const sockaddr_in&>(a);
        *port = v4.sin_port;
        memcpy(addr, &v4.sin_addr, sizeof v4.sin_addr);
    } else {
        const sockaddr_in6& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        *port = v6.sin6_port;
        memcpy(addr, &v6.sin6_addr, sizeof v6.sin6_addr);
    }
}

bool InGroup(uid_t uid, gid_t gid)
{
    passwd pw, *found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return false;
    if (pw.pw_gid == gid)
        return true;
    int n = 256;
    std::vector<gid_t> groups((size_t)n);
    if (getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &n) < 0)
        return false;
    for (int i = 0; i < n; ++i)
        if (groups[(size_t)i] == gid)
            return true;
    return false;
}

bool AdminGroupId(gid_t* gid)
{
    char name[256];
    if (!gSystem || !papplSystemGetAdminGroup(gSystem, name, sizeof name) || !*name)
        return false;
    group gr, *found = nullptr;
    std::vector<char> buf(16384);
    if (getgrnam_r(name, &gr, buf.data(), buf.size(), &found) != 0 || !found)
        return false;
    *gid = gr.gr_gid;
    return true;
}

std::string UserName(uid_t uid)
{
    passwd pw, *found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found)
        return pw.pw_name;
    return "uid " + std::to_string(uid);
}
} // namespace

void SetUpAdminAccess(pappl_system_t* system, const char* adminGroup)
{
    gSystem = system;
    // A group that does not exist would let every login through.
    if (adminGroup && *adminGroup && !getgrnam(adminGroup)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "There is no group '%s': only root administers the server.",
                 adminGroup);
        adminGroup = nullptr;
    }
    papplSystemSetAdminGroup(system, adminGroup && *adminGroup ? adminGroup : kRootGroup);
}

bool LoopbackPeerUid(int fd, uid_t* uid)
{
    sockaddr_storage local = {}, peer = {};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 || local.ss_family != peer.ss_family ||
        !Loopback(peer))
        return false;
    // The client's end of the connection: its source is our peer.
    struct {
        nlmsghdr head;
        inet_diag_req_v2 req;
    } ask = {};
    ask.head.nlmsg_len = sizeof ask;
    ask.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.head.nlmsg_flags = NLM_F_REQUEST;
    ask.req.sdiag_family = (__u8)peer.ss_family;
    ask.req.sdiag_protocol = IPPROTO_TCP;
    ask.req.idiag_states = ~0u;
    ask.req.id.idiag_cookie[0] = ask.req.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    CopyEnd(peer, &ask.req.id.idiag_sport, ask.req.id.idiag_src);
    CopyEnd(local, &ask.req.id.idiag_dport, ask.req.id.idiag_dst);

    int nl = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0)
        return false;
    bool found = false;
    alignas(nlmsghdr) char answer[8192];
    ssize_t n = send(nl, &ask, sizeof ask, 0) == (ssize_t)sizeof ask ? recv(nl, answer, sizeof answer, 0) : -1;
    for (nlmsghdr* h = reinterpret_cast<nlmsghdr*>(answer); n > 0 && NLMSG_OK(h, (unsigned)n);
         h = NLMSG_NEXT(h, n)) {
        if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY && h->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            *uid = static_cast<const inet_diag_msg*>(NLMSG_DATA(h))->idiag_uid;
            found = true;
        }
        break;
    }
    close(nl);
    return found;
}

bool IsAdministrator(uid_t uid)
{
    gid_t gid;
    return uid == 0 || uid == geteuid() || (AdminGroupId(&gid) && InGroup(uid, gid));
}

AdminVerdict AdminRequestVerdict(pappl_client_t* client)
{
    http_t* http = papplClientGetHTTP(client);
    int fd = httpGetFd(http);
    uid_t uid = (uid_t)-1;
    bool known = false;
    const bool local = httpAddrFamily(httpGetAddress(http)) == AF_LOCAL;
    if (local) {
        ucred cred;
        socklen_t len = sizeof cred;
        known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0;
        uid = cred.uid;
    } else {
        known = LoopbackPeerUid(fd, &uid);
    }
    if (known && IsAdministrator(uid))
        return ADMIN_ALLOWED;
    // PAPPL lets every local socket in.
    if (!local && papplSystemGetAuthService(papplClientGetSystem(client)))
        return ADMIN_LOGIN;
    if (known)
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused: local user %s is not the administrator.",
                       UserName(uid).c_str());
    else
        papplLogClient(client, PAPPL_LOGLEVEL_WARN,
                       "Refused: administration from other hosts needs an auth service (-o auth-service).");
    return ADMIN_REFUSED;
}
