#include "tests/test_util.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tarnwick::testing {

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; hex != "-" && i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<std::string> DataLines(const std::string& file_name) {
  std::ifstream in(std::string(TARNWICK_TESTDATA_DIR) + "/" + file_name);
  if (!in) throw std::runtime_error("no test data " + file_name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  Bytes bytes(size);
  std::generate(bytes.begin(), bytes.end(), [&engine] { return static_cast<std::uint8_t>(engine()); });
  return bytes;
}

}  // namespace tarnwick::testing
