#ifndef TARNWICK_TOOL_MESSAGES_H_
#define TARNWICK_TOOL_MESSAGES_H_

namespace tarnwick {

// Every text the tool prints. Scripts match these byte for byte, so they
// never change.
inline constexpr char kUsageLine[] =
    "[USAGE] Tarnwick -e/d password input-file-path output-file-path\n";
inline constexpr char kUsageOptionsLine[] = "        (-e:encode / -d:decode)\n";
inline constexpr char kInvalidOption[] = "Invalid option.\n";
inline constexpr char kInputOpenFailed[] = "Input file open failed.\n";
inline constexpr char kInvalidInputSize[] = "Invalid input file size.\n";
inline constexpr char kInputReadFailed[] = "Input file read failed.\n";
inline constexpr char kOutputOpenFailed[] = "Output file open failed.\n";
inline constexpr char kOutputWriteFailed[] = "Output file write failed.\n";
inline constexpr char kInvalidMarker[] = "Invalid data (CRLF).\n";
inline constexpr char kInvalidFileSize[] = "Invalid data (file size).\n";
inline constexpr char kInvalidDataSize[] =
    "Invalid data (data size). Invalid password?\n";
inline constexpr char kOutOfMemory[] = "Out of memory.\n";

// Prints one message, unchanged, on standard output.
void Print(const char* message);

// Prints "Out of memory." and ends the run with status 1 once `cleanUp`
// has run. Throwing std::bad_alloc may need memory itself, so the run ends
// here, before anything unwinds; the message goes straight to the
// descriptor, as the stream's buffer may need memory of its own. Of threads
// out of memory together, one reports; the others return, to retry until
// the process has ended.
void EndOutOfMemory(void (*cleanUp)() noexcept) noexcept;

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_MESSAGES_H_
