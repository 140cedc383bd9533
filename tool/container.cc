#include "tool/container.h"

namespace tarnwick {
namespace {

constexpr std::uint64_t kBlockSize = 8;

std::uint64_t RoundUpToBlock(std::uint64_t size) {
  return (size + kBlockSize - 1) / kBlockSize * kBlockSize;
}

}  // namespace

std::uint32_t RecordLength(std::uint32_t dataLength) {
  return static_cast<std::uint32_t>(
      RoundUpToBlock(std::uint64_t{dataLength} + kLengthFieldSize));
}

bool LengthFits(std::uint32_t lengthField, std::uint32_t recordLength) {
  // 64-bit sums: a field near 2^32 must not wrap around into a fit. The sum
  // rounds up to 8 or more, so a record too short for the field never fits.
  return RoundUpToBlock(std::uint64_t{lengthField} + kLengthFieldSize) ==
         recordLength;
}

void StoreLength(std::uint32_t length, std::uint8_t out[kLengthFieldSize]) {
  out[0] = static_cast<std::uint8_t>(length);
  out[1] = static_cast<std::uint8_t>(length >> 8);
  out[2] = static_cast<std::uint8_t>(length >> 16);
  out[3] = static_cast<std::uint8_t>(length >> 24);
}

std::uint32_t LoadLength(const std::uint8_t in[kLengthFieldSize]) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 |
         std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
}

}  // namespace tarnwick
