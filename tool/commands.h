#ifndef TARNWICK_TOOL_COMMANDS_H_
#define TARNWICK_TOOL_COMMANDS_H_

#include <cstddef>

namespace tarnwick {

// Record bytes enciphered per pass: memory stays flat for any file size.
// 256 KiB measured fastest for whole runs (bench/whole-run.sh): large enough
// to amortise the system calls, small enough to stay in L2 cache.
// A multiple of the cipher's 8-byte block.
inline constexpr std::size_t kChunkSize = std::size_t{256} * 1024;

// The two commands. Each prints at most one message, on failure, and returns
// the exit status: 0 on success, 1 on failure. Nothing ever appears at
// `outputPath` unless the command succeeds, and nothing there is replaced.
// A run takes `threads` threads whatever the input's size; 0 chooses by the
// size and by the cores the process may use.
int EncodeFile(const char* password, const char* inputPath,
               const char* outputPath, unsigned threads = 0);
int DecodeFile(const char* password, const char* inputPath,
               const char* outputPath, unsigned threads = 0);

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_COMMANDS_H_
