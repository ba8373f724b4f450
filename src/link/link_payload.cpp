#include "link/link_payload.h"

namespace mirka {

bool LinkPayload::Read(void* destination, std::size_t n) {
    if (link.ReadPayload(destination, n)) return true;
    if (link.Stream().RecordFailed()) {
        gate.OnRecordFailure(link);
    } else if (link.WasCut()) {
        gate.OnCut(link);
    }
    return false;
}

const std::uint8_t* LinkPayload::Buffered(std::size_t n) {
    ReceiveStream& stream = link.Stream();
    return stream.Available() < n ? nullptr : stream.Data();
}

void LinkPayload::Consume(std::size_t n) {
    link.Stream().Consume(n);
}

}  // namespace mirka
