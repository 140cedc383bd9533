// Runs one of the tool's commands on a given number of threads, so that
// bench/whole-run.sh can set the pipelined run against a single thread of
// the same build. Usage: run_with_threads THREADS -e|-d password input output
#include <cstdlib>
#include <cstring>

#include "tool/commands.h"
#include "tool/process.h"

int main(int argc, char** argv) {
  tarnwick::SetUpProcess();
  if (argc != 6) return 2;
  char* end = nullptr;
  const unsigned long threads = std::strtoul(argv[1], &end, 10);
  if (*end != '\0' || threads == 0 || threads > 64) return 2;
  const auto command = std::strcmp(argv[2], "-e") == 0 ? tarnwick::EncodeFile
                                                       : tarnwick::DecodeFile;
  return command(argv[3], argv[4], argv[5], static_cast<unsigned>(threads));
}
