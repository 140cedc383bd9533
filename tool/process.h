#ifndef TARNWICK_TOOL_PROCESS_H_
#define TARNWICK_TOOL_PROCESS_H_

#include <memory>

namespace tarnwick {

// Sets the process up for a run; main calls it before anything else, so
// before the password is copied:
// - no core file, and on Linux no other process of the user reads its
//   memory;
// - a closed pipe or a file-size limit fails a write instead of ending the
//   run;
// - running out of memory, in any thread, prints its message and ends the
//   run with status 1;
// - every signal that would end the run, and that the caller does not
//   ignore, removes the output's hidden temporary first, then ends the run
//   as it would have (on Windows the system removes it).
// One file a platform: process_posix.cc, process_win32.cc.
void SetUpProcess();

// The processors this process may run on, at least 1.
unsigned AvailableCores();

// Gives the calling thread, while it lives, a stack of its own for the
// handler of the signals that end the run: one that faults for want of
// stack still removes the hidden temporary. Each thread of a run holds one;
// SetUpProcess gives the main thread its own.
class SignalStack {
 public:
  SignalStack();
  ~SignalStack();
  SignalStack(const SignalStack&) = delete;
  SignalStack& operator=(const SignalStack&) = delete;

 private:
  std::unique_ptr<char[]> stack_;
};

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_PROCESS_H_
