#ifndef TARNWICK_TESTS_TEST_UTIL_H_
#define TARNWICK_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

// Hex digits to bytes; "-" stands for no bytes.
Bytes FromHex(std::string_view hex);
std::string ToHex(const Bytes& bytes);

// The non-blank, non-comment lines of a file in the test data folder.
std::vector<std::string> VectorLines(const std::string& file_name);

// A line's whitespace-separated fields.
std::vector<std::string> Fields(const std::string& line);

// Deterministic pseudo-random bytes, so a failure can be replayed.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_TEST_UTIL_H_
