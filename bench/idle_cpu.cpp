// Prints the CPU share of an idle linked pair of link managers over 10 seconds.
#include <cstdio>
#include <ctime>
#include <thread>

#include "support/loopback.h"

int main() {
    mirka::test::LinkedPair pair;
    if (!pair.Link()) {
        std::puts("link failed");
        return 1;
    }
    std::clock_t start = std::clock();
    auto wallStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    double cpu = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf(
        "idle linked pair: %.4f s CPU in %.2f s wall = %.3f %% of one core (target < 0.5 %%)\n",
        cpu, wall, 100.0 * cpu / wall);
    return 0;
}
