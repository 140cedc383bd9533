#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

// Hex digits to bytes; "-" stands for none.
inline Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; hex != "-" && i < hex.size(); i += 2) {
    bytes.push_back(std::stoul(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// A row of a file in testdata/; tests print it by its line number.
struct Row {
  int line;
  std::string text;
};

inline void PrintTo(const Row& row, std::ostream* out) {
  *out << "line " << row.line;
}

// The rows of a file in testdata/: all but blank lines and # comments.
inline std::vector<Row> DataLines(const std::string& name) {
  std::ifstream in(TARNWICK_TESTDATA_DIR "/" + name);
  std::vector<Row> rows;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (!text.empty() && text[0] != '#') rows.push_back({line, text});
  }
  if (rows.empty()) throw std::runtime_error("no rows in " + name);
  return rows;
}

inline std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), {}};
}

// The same bytes for the same seed, so a failure replays.
inline Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  Bytes bytes(size);
  std::generate(bytes.begin(), bytes.end(), [&engine] { return engine(); });
  return bytes;
}

}  // namespace tarnwick::testing
