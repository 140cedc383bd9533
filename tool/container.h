#ifndef TARNWICK_TOOL_CONTAINER_H_
#define TARNWICK_TOOL_CONTAINER_H_

#include <cstddef>
#include <cstdint>

#include "common/inner.h"

namespace tarnwick {

// An encrypted file is the marker CR LF followed by the ciphertext of a
// record: the data length as 4 bytes least significant first, the data, and
// zero padding up to a multiple of the 8-byte block. Readers ignore the
// padding's values.
inline constexpr std::uint8_t kMarker[] = {0x0D, 0x0A};
inline constexpr std::size_t kMarkerSize = sizeof kMarker;
inline constexpr std::size_t kLengthFieldSize = 4;

// The record length of `dataLength` bytes must fit in 32 bits.
inline constexpr std::uint64_t kMaxDataLength = 0xFFFFFFF4;  // 2^32 - 12
// 0xFFFFFFFF is what a 32-bit size query returns on failure, so files of
// that size or more were never writable.
inline constexpr std::uint64_t kMaxEncryptedFileSize = 0xFFFFFFFEull;

// The record length for `dataLength` <= kMaxDataLength bytes of data.
std::uint32_t RecordLength(std::uint32_t dataLength);

// Whether a deciphered length field fits a record of `recordLength` bytes,
// which is how a wrong password shows.
bool LengthFits(std::uint32_t lengthField, std::uint32_t recordLength);

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_CONTAINER_H_
