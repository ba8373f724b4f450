#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/text.h"

// Wire structures are encoded field by field in little-endian order, never by copying
// structs, so their layout does not depend on the compiler.
namespace mirka {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutI32(std::uint8_t* p, std::int32_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
}
inline void PutI64(std::uint8_t* p, std::int64_t v) {
    PutU64(p, static_cast<std::uint64_t>(v));
}

inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline std::uint64_t GetU64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline std::int32_t GetI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(GetU32(p));
}
inline std::int64_t GetI64(const std::uint8_t* p) {
    return static_cast<std::int64_t>(GetU64(p));
}

// UTF-16LE without terminator.
inline Bytes EncodeUtf16Le(WStringView text) {
    Bytes bytes(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) PutU16(&bytes[2 * i], text[i]);
    return bytes;
}

// Decodes byteCount bytes; an odd last byte is dropped.
inline WString DecodeUtf16Le(const std::uint8_t* bytes, std::size_t byteCount) {
    WString text(byteCount / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = GetU16(bytes + 2 * i);
    return text;
}

// A zero-terminated, zero-filled UTF-16LE field of fieldBytes bytes. The text is cut to
// the field; it is terminated only when it leaves room for the terminator.
inline void PutUtf16Field(std::uint8_t* field, std::size_t fieldBytes, WStringView text) {
    std::size_t units = fieldBytes / 2;
    for (std::size_t i = 0; i < units; ++i) PutU16(field + 2 * i, i < text.size() ? text[i] : 0);
}

// Reads a UTF-16LE field up to its first zero unit, never past the field's end.
inline WString GetUtf16Field(const std::uint8_t* field, std::size_t fieldBytes) {
    WString text;
    for (std::size_t i = 0; i + 1 < fieldBytes; i += 2) {
        char16_t unit = GetU16(field + i);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

}  // namespace mirka
