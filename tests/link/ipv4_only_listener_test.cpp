#include <cerrno>
#include <cstddef>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "link/transport/dual_stack_listener.h"

#if defined(__linux__) && defined(__x86_64__)
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#define MIRKA_CAN_REFUSE_IPV6 1
#endif

// A system without IPv6 refuses IPv6 sockets (EAFNOSUPPORT); turning IPv6 off with sysctl
// does not, so the test makes the refusal itself: a seccomp filter on one thread of its own.
namespace mirka {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

#ifdef MIRKA_CAN_REFUSE_IPV6
// From now on, socket(AF_INET6, ...) fails with EAFNOSUPPORT on this thread.
bool RefuseIPv6SocketsOnThisThread() {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET6, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}
#endif

TEST(IPv4OnlyListenerTest, WithoutIPv6TheServerListensOnIPv4Alone) {
#ifndef MIRKA_CAN_REFUSE_IPV6
    GTEST_SKIP() << "no seccomp filter for this system; the IPv4-only fallback is not tested";
#else
    bool filtered = false, ipv6Refused = false, listening = false, isV4 = false, accepted = false;
    std::thread system([&] {
        filtered = RefuseIPv6SocketsOnThisThread();
        if (!filtered) return;
        int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
        ipv6Refused = probe < 0 && errno == EAFNOSUPPORT;
        asio::io_context context;
        tcp::acceptor acceptor(context);
        listening = !OpenListener(acceptor, 0);
        if (!listening) return;
        tcp::endpoint local = acceptor.local_endpoint();
        isV4 = local.protocol() == tcp::v4();
        tcp::socket client(context);
        boost::system::error_code error;
        client.connect(tcp::endpoint(asio::ip::address_v4::loopback(), local.port()), error);
        tcp::socket peer(context);
        if (!error) acceptor.accept(peer, error);
        accepted = !error && UnmappedAddress(peer.remote_endpoint().address()).is_v4();
    });
    system.join();
    if (!filtered) GTEST_SKIP() << "seccomp filters are not allowed here";
    ASSERT_TRUE(ipv6Refused);  // otherwise the fallback was never needed
    EXPECT_TRUE(listening);
    EXPECT_TRUE(isV4);
    EXPECT_TRUE(accepted);
#endif
}

}  // namespace
}  // namespace mirka
