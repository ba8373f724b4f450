#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

#include "app/chat_font.h"
#include "link/receive_paths.h"
#include "link/window_port.h"
#include "toolkit/text.h"

namespace mirka {

// One transfer's state: the open source or target file and its progress figures. Every
// access happens under the task table's lock.
class FileManager {
public:
    virtual ~FileManager() { CloseFile(); }

    // Opens the temporary file: at offset 0 created or truncated, otherwise an existing
    // partial file cut back to the offset. Writes the receive-start message.
    bool OpenForReceive(std::int64_t offset);
    bool OpenForSend(std::int64_t offset);
    // Writes received bytes; at the last byte flushes and closes the file (the engine then
    // gives it its final name). False when the disk refused the bytes.
    bool WriteChunk(const std::uint8_t* data, std::size_t length);
    // Hands buffered bytes to the system, so a partial file holds all that was received.
    void Flush();
    // Reads the next bytes to send; `failed` is set when the file gave fewer bytes than it
    // had, so no wrong data goes out.
    std::size_t ReadChunk(std::size_t length, std::uint8_t* buffer, bool& failed);
    void CloseFile();
    TransferFigures FiguresAs(TransferDirection direction, std::int32_t taskId) const {
        return {direction, taskId, transferred, fileSize, rate};
    }

    // The link's window slot (never the window itself): the start messages go there.
    WindowSlot* ownerWindow = nullptr;
    std::fstream file;
    std::int64_t fileSize = 0;
    std::int64_t transferred = 0;
    std::int64_t sampleBase = 1;
    std::uint32_t sampleTick = 0;
    std::uint32_t rate = 1;
    bool complete = false;
    bool eof = false;
    bool active = false;
    WString path;
    bool paused = false;
    bool sending = false;
    // A disk error ended this transfer: its later data is dropped without a word.
    bool failed = false;
    // A reception's hold on its temporary path, released after the file is closed.
    PathReservation reservation;

private:
    // Chunks gathered for one write (receiving) or read ahead in one read (sending).
    std::vector<char> block;
    std::size_t blockBegin = 0;
    std::size_t blockEnd = 0;

    void OpenBlocked(std::ios::openmode mode);
    bool WriteOutBlock();
    void TakeRateSample();
};

void AppendLogTo(WindowSlot* slot, const CharFormat* style, WStringView text);

}  // namespace mirka
