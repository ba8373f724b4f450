#pragma once

#include <cstddef>
#include <cstdint>

#include "toolkit/text.h"

namespace mirka {

// Renders 256 bytes as a hexadecimal dump: a heading, a rule and sixteen rows of
// "%02X " bytes, "| " and the bytes as characters, each line 68 characters with CR LF.
class MemoryDump {
public:
    static constexpr std::size_t kDumpBytes = 256;

    virtual ~MemoryDump() = default;

    // The text stays valid until the next Dump or the object's destruction.
    const WString& Dump(const std::uint8_t* bytes);

private:
    WString text;
};

}  // namespace mirka
