#ifndef TARNWICK_TESTS_TEST_UTIL_H_
#define TARNWICK_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

// Hex digits to bytes; "-" stands for no bytes.
Bytes FromHex(const std::string& hex);

// The lines of a file in testdata/, blank lines and # comments left out,
// and a line's whitespace-separated fields.
std::vector<std::string> DataLines(const std::string& file_name);
std::vector<std::string> Split(const std::string& line);

// Pseudo-random bytes, the same for the same seed, so a failure replays.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_TEST_UTIL_H_
