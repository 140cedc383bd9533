#ifndef TARNWICK_TESTS_TEST_UTIL_H_
#define TARNWICK_TESTS_TEST_UTIL_H_

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

// Hex digits to bytes; "-" stands for no bytes.
inline Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; hex != "-" && i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The lines of a file in testdata/, blank lines and # comments left out.
inline std::vector<std::string> DataLines(const std::string& file_name) {
  std::ifstream in(std::string(TARNWICK_TESTDATA_DIR) + "/" + file_name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return !lines.empty() ? lines : throw std::runtime_error("no test data in " + file_name);
}

inline std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

// Pseudo-random bytes, the same for the same seed, so a failure replays.
inline Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  Bytes bytes(size);
  std::generate(bytes.begin(), bytes.end(), [&engine] { return static_cast<std::uint8_t>(engine()); });
  return bytes;
}

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_TEST_UTIL_H_
