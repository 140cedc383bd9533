#include "tool/container.h"

namespace tarnwick {
namespace {

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

}  // namespace tarnwick
