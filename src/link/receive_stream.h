#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <boost/asio/read.hpp>
#include <boost/system/error_code.hpp>

// A read buffer in front of the link's socket. Frames are consumed exactly as written (a
// header, then the payload its code implies); the buffer only saves system calls, so a
// stream of small frames costs one read per buffer-full instead of two per frame.
namespace mirka {

class ReceiveStream {
public:
    static constexpr std::size_t kCapacity = 256 * 1024;

    ReceiveStream() : buffer(kCapacity) {}

    void Reset() { begin = end = 0; }
    std::size_t Available() const { return end - begin; }
    const std::uint8_t* Data() const { return buffer.data() + begin; }
    void Consume(std::size_t n) { begin += n; }

    // Free space for an asynchronous fill; moves the unread bytes to the front first.
    std::uint8_t* PrepareFill(std::size_t& room) {
        if (begin > 0) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
        }
        room = buffer.size() - end;
        return buffer.data() + end;
    }
    void CommitFill(std::size_t n) { end += n; }

    // Blocking read of exactly n bytes: first what is buffered, then from the socket.
    // Large reads go straight to the destination.
    template <typename Socket>
    bool ReadExact(Socket& socket, std::uint8_t* destination, std::size_t n,
                   boost::system::error_code& error) {
        // An empty payload may come with no storage at all (an empty vector's data()).
        if (n == 0) return true;
        std::size_t fromBuffer = n < Available() ? n : Available();
        std::memcpy(destination, Data(), fromBuffer);
        Consume(fromBuffer);
        destination += fromBuffer;
        n -= fromBuffer;
        if (n == 0) return true;
        if (n >= kCapacity / 4) {
            boost::asio::read(socket, boost::asio::buffer(destination, n), error);
            return !error;
        }
        while (Available() < n) {
            std::size_t room = 0;
            std::uint8_t* space = PrepareFill(room);
            std::size_t got = socket.read_some(boost::asio::buffer(space, room), error);
            if (error) return false;
            CommitFill(got);
        }
        std::memcpy(destination, Data(), n);
        Consume(n);
        return true;
    }

private:
    std::vector<std::uint8_t> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
};

}  // namespace mirka
