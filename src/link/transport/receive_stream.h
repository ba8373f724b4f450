#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "secure/record_layer.h"

// A read buffer in front of the link's socket. Frames are consumed exactly as written (a
// header, then the payload its code implies); the buffer only saves system calls, so a
// stream of small frames costs one read per buffer-full instead of two per frame.
//
// On a private link the socket's bytes are records: they gather in a second buffer, and
// each whole record is opened into the first, so the frames read the same either way.
namespace mirka {

class ReceiveStream {
public:
    static constexpr std::size_t kCapacity = 256 * 1024;

    ReceiveStream() : buffer(kCapacity) {}

    std::size_t Available() const { return end - begin; }
    const std::uint8_t* Data() const { return buffer.data() + begin; }
    void Consume(std::size_t n) { begin += n; }

    // From here on the stream carries records; the bytes still buffered are their start.
    void BeginRecords(std::unique_ptr<secure::RecordReader> recordReader) {
        records.resize(kCapacity);
        std::memcpy(records.data(), Data(), Available());
        recordsBegin = 0;
        recordsEnd = Available();
        begin = end = 0;
        reader = std::move(recordReader);
    }
    bool RecordFailed() const { return recordFailed; }
    // Every byte taken from the socket so far, records included.
    std::uint64_t BytesFromSocket() const { return fromSocket; }
    // The peer's final record has been opened: its stream ended on purpose.
    bool Ended() const { return reader && reader->Ended(); }

    // Opens the buffered whole records while their plaintext fits; false once one fails
    // its check (for good: the link must end).
    bool OpenRecords() {
        if (!reader) return true;
        if (recordFailed) return false;
        Compact();
        while (buffer.size() - end >= secure::kMaxRecordPlainBytes) {
            std::size_t used = 0, produced = 0;
            auto result = reader->Next({records.data() + recordsBegin, recordsEnd - recordsBegin},
                                       used, buffer.data() + end, produced);
            if (result == secure::RecordReader::Result::Failed) {
                recordFailed = true;
                return false;
            }
            if (result == secure::RecordReader::Result::NeedMore) break;
            recordsBegin += used;
            end += produced;
        }
        return true;
    }

    // Free space for an asynchronous fill; moves the unread bytes to the front first.
    std::uint8_t* PrepareFill(std::size_t& room) {
        if (reader) {
            if (recordsBegin > 0) {
                std::memmove(records.data(), records.data() + recordsBegin,
                             recordsEnd - recordsBegin);
                recordsEnd -= recordsBegin;
                recordsBegin = 0;
            }
            room = records.size() - recordsEnd;
            return records.data() + recordsEnd;
        }
        Compact();
        room = buffer.size() - end;
        return buffer.data() + end;
    }
    // False when a record failed its check.
    bool CommitFill(std::size_t n) {
        fromSocket += n;
        if (!reader) {
            end += n;
            return true;
        }
        recordsEnd += n;
        return OpenRecords();
    }

private:
    void Compact() {
        if (begin > 0) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
        }
    }

    std::vector<std::uint8_t> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    // Private link only: received record bytes not yet opened.
    std::vector<std::uint8_t> records;
    std::size_t recordsBegin = 0;
    std::size_t recordsEnd = 0;
    std::unique_ptr<secure::RecordReader> reader;
    bool recordFailed = false;
    std::uint64_t fromSocket = 0;
};

}  // namespace mirka
