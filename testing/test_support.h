#ifndef O1PC98MAP_TESTING_TEST_SUPPORT_H_
#define O1PC98MAP_TESTING_TEST_SUPPORT_H_

// Helpers shared by the tests: capturing what the code under test prints,
// scratch directories, whole-file reads and writes, and child processes.

#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// Standard output of the process goes to a scratch file between the two
// calls; end_stdout_capture returns every byte printed meanwhile.
void begin_stdout_capture();
std::string end_stdout_capture();

// A new empty directory under the system's temporary directory, and its
// removal with everything below it.
std::string make_temp_dir();
void remove_tree(const std::string& path);

std::vector<uint8_t> read_file_bytes(const std::string& path);
bool write_file_bytes(const std::string& path, std::span<const uint8_t> bytes);
bool file_exists(const std::string& path);

// Runs body in a forked child whose limit on resource (an RLIMIT_ value) is
// value, SIGXFSZ ignored so that a write past a file-size limit fails with
// EFBIG as on a full disk. Returns the child's exit status, or -1 when it
// did not exit normally.
int run_in_child_with_limit(int resource, rlim_t value, const std::function<int()>& body);

// run_in_child_with_limit with a file-size limit of file_size_limit bytes.
int run_in_child_with_file_limit(rlim_t file_size_limit, const std::function<int()>& body);

// run_in_child_with_limit with the address space limited to
// address_space_limit bytes, so that a large allocation fails.
int run_in_child_with_memory_limit(rlim_t address_space_limit, const std::function<int()>& body);

// Result of running a program.
struct process_result {
  int exit_status;     // -1 when the program did not exit normally
  std::string output;  // everything it wrote to standard output
  std::string errors;  // everything it wrote to standard error
};

// Runs argv[0] with the given arguments in directory cwd, feeding it
// stdin_text on standard input (then end of input).
process_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& stdin_text);

// The same with a file-size limit of file_size_limit bytes on the program
// (SIGXFSZ ignored, so a write past it fails with EFBIG as on a full disk).
process_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& stdin_text, rlim_t file_size_limit);

// Runs argv[0] in directory cwd with standard input on a pipe. Once its
// standard output has shown prompt, lowers the program's file-size limit to
// file_size_limit bytes (SIGXFSZ ignored), then sends answer and ends the
// input. Lets a test make a later file of a run fail after earlier ones
// were written in full. When prompt never shows, no limit is set and
// nothing is sent.
process_result run_program_limited_at_prompt(const std::vector<std::string>& argv,
                                             const std::string& cwd, const std::string& prompt,
                                             const std::string& answer, rlim_t file_size_limit);

// What a program's standard output is connected to in run_program_with_streams.
enum class output_sink {
  captured,             // a pipe read while the program runs (as run_program)
  closed,               // no descriptor 1 at all
  full_device,          // /dev/full: every write fails as on a full disk
  pipe_without_reader,  // a pipe whose read end is closed before the program starts
  unread_pipe,          // a pipe nobody reads until the program has ended
};

struct stream_setup {
  bool stdin_closed = false;  // no descriptor 0 at all, instead of stdin_text
  output_sink output = output_sink::captured;
};

// Runs argv[0] in cwd with standard input and output set up as streams
// says (stdin_text on standard input unless it is closed). Standard error is
// captured. output holds what the program wrote to a captured or unread
// pipe, and is empty for the other sinks. A program still running after a
// minute is killed and reported as not having exited normally.
process_result run_program_with_streams(const std::vector<std::string>& argv,
                                        const std::string& cwd, const std::string& stdin_text,
                                        const stream_setup& streams);

#endif  // O1PC98MAP_TESTING_TEST_SUPPORT_H_
