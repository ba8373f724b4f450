// The C library's copy of the kernel's TCP figures stops short of the smallest round trip,
// and its header cannot be used beside the kernel's own: this file reads the figures
// through the kernel's header alone.
#include "toolkit/platform.h"

#include <cstddef>

#ifdef __linux__
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace mirka {

std::uint32_t PathRoundTripMicros(std::intptr_t handle) {
#ifdef __linux__
    struct tcp_info info {};
    socklen_t size = sizeof info;
    if (::getsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return 0;
    // An older kernel gives a shorter record without the field.
    if (size < offsetof(struct tcp_info, tcpi_min_rtt) + sizeof info.tcpi_min_rtt) return 0;
    // No sample yet reads as the largest value.
    return info.tcpi_min_rtt == ~0U ? 0 : info.tcpi_min_rtt;
#else
    (void)handle;
    return 0;
#endif
}

}  // namespace mirka
