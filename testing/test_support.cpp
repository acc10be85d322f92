#include "testing/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>

namespace {

int saved_stdout = -1;
FILE* capture_file = nullptr;

std::string read_fd(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0)
    text.append(chunk, static_cast<size_t>(n));
  return text;
}

}  // namespace

void begin_stdout_capture() {
  fflush(stdout);
  capture_file = tmpfile();
  saved_stdout = dup(STDOUT_FILENO);
  dup2(fileno(capture_file), STDOUT_FILENO);
}

std::string end_stdout_capture() {
  fflush(stdout);
  dup2(saved_stdout, STDOUT_FILENO);
  close(saved_stdout);
  saved_stdout = -1;
  rewind(capture_file);
  std::string text = read_fd(fileno(capture_file));
  fclose(capture_file);
  capture_file = nullptr;
  return text;
}

std::string make_temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "o1test.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool write_file_bytes(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool file_exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

int run_in_child_with_limit(int resource, rlim_t value, const std::function<int()>& body) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {value, value};
    setrlimit(resource, &limit);
    int status = body();
    fflush(stdout);
    _exit(status);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int run_in_child_with_file_limit(rlim_t file_size_limit, const std::function<int()>& body) {
  return run_in_child_with_limit(RLIMIT_FSIZE, file_size_limit, body);
}

int run_in_child_with_memory_limit(rlim_t address_space_limit, const std::function<int()>& body) {
  return run_in_child_with_limit(RLIMIT_AS, address_space_limit, body);
}

namespace {

// Descriptors a program gets as its standard input, output and error; -1
// leaves it without that descriptor.
struct child_streams {
  int in;
  int out;
  int err;
};

// Forks a child that runs setup (when given), puts streams in place of
// descriptors 0, 1 and 2, closes every other descriptor of streams and of
// others (the test's ends of its pipes), enters cwd and executes argv.
// Returns the child's process id, or -1 when the fork failed.
pid_t start_program(const std::vector<std::string>& argv, const std::string& cwd,
                    child_streams streams, std::initializer_list<int> others,
                    const std::function<void()>& setup) {
  fflush(stdout);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (setup) setup();
  const int targets[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
  const int sources[] = {streams.in, streams.out, streams.err};
  for (int i = 0; i < 3; ++i) {
    if (sources[i] >= 0) {
      dup2(sources[i], targets[i]);
    } else {
      close(targets[i]);
    }
  }
  // Nothing else of the test reaches the program.
  for (int fd : sources)
    if (fd > STDERR_FILENO) close(fd);
  for (int fd : others)
    if (fd > STDERR_FILENO) close(fd);
  if (chdir(cwd.c_str()) != 0) _exit(127);
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// Appends the program's standard output to result, then reads its standard
// error (small in every test), both to their ends; closes both descriptors
// and waits for the program to exit.
void collect_output(pid_t pid, int out, int err, process_result& result) {
  result.output += read_fd(out);
  result.errors = read_fd(err);
  close(out);
  close(err);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.exit_status = WEXITSTATUS(status);
}

// A file in a scratch directory holding a program's standard input; both
// are removed with the object.
struct input_file {
  explicit input_file(const std::string& text) : dir(make_temp_dir()), path(dir + "/stdin") {
    write_file_bytes(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  ~input_file() { remove_tree(dir); }
  input_file(const input_file&) = delete;
  input_file& operator=(const input_file&) = delete;

  int open_for_reading() const { return open(path.c_str(), O_RDONLY); }

  std::string dir;
  std::string path;
};

// run_program with setup run in the child before the program starts.
process_result run_with_input_file(const std::vector<std::string>& argv, const std::string& cwd,
                                   const std::string& stdin_text,
                                   const std::function<void()>& setup) {
  process_result result{-1, {}, {}};
  const input_file input(stdin_text);
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  const int in = input.open_for_reading();
  const pid_t pid =
      start_program(argv, cwd, {in, out_pipe[1], err_pipe[1]}, {out_pipe[0], err_pipe[0]}, setup);
  if (in >= 0) close(in);
  close(out_pipe[1]);
  close(err_pipe[1]);
  collect_output(pid, out_pipe[0], err_pipe[0], result);
  return result;
}

}  // namespace

process_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& stdin_text) {
  return run_with_input_file(argv, cwd, stdin_text, nullptr);
}

process_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& stdin_text, rlim_t file_size_limit) {
  return run_with_input_file(argv, cwd, stdin_text, [file_size_limit] {
    signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across exec
    struct rlimit limit = {file_size_limit, file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
  });
}

process_result run_program_limited_at_prompt(const std::vector<std::string>& argv,
                                             const std::string& cwd, const std::string& prompt,
                                             const std::string& answer, rlim_t file_size_limit) {
  process_result result{-1, {}, {}};
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  const pid_t pid =
      start_program(argv, cwd, {in_pipe[0], out_pipe[1], err_pipe[1]},
                    {in_pipe[1], out_pipe[0], err_pipe[0]}, [] { signal(SIGXFSZ, SIG_IGN); });
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  char chunk[4096];
  ssize_t n;
  while (result.output.find(prompt) == std::string::npos &&
         (n = read(out_pipe[0], chunk, sizeof chunk)) > 0) {
    result.output.append(chunk, static_cast<size_t>(n));
  }
  if (result.output.find(prompt) != std::string::npos) {
    struct rlimit limit = {file_size_limit, file_size_limit};
    prlimit(pid, RLIMIT_FSIZE, &limit, nullptr);
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    ssize_t sent = write(in_pipe[1], answer.data(), answer.size());
    (void)sent;
    signal(SIGPIPE, previous);
  }
  close(in_pipe[1]);
  collect_output(pid, out_pipe[0], err_pipe[0], result);
  return result;
}

namespace {

// Reads every descriptor in fds to its end while the child runs; gives up
// at deadline. Returns false when the deadline passed first.
bool drain_until(const std::vector<int>& fds, std::vector<std::string*> texts,
                 std::chrono::steady_clock::time_point deadline) {
  std::vector<pollfd> open_fds;
  for (int fd : fds)
    open_fds.push_back({fd, POLLIN, 0});
  while (!open_fds.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (poll(open_fds.data(), open_fds.size(), static_cast<int>(left.count())) < 0) return false;
    for (size_t i = 0; i < open_fds.size();) {
      if (open_fds[i].revents == 0) {
        ++i;
        continue;
      }
      char chunk[4096];
      const ssize_t n = read(open_fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        texts[i]->append(chunk, static_cast<size_t>(n));
        ++i;
      } else {
        open_fds.erase(open_fds.begin() + static_cast<ptrdiff_t>(i));
        texts.erase(texts.begin() + static_cast<ptrdiff_t>(i));
      }
    }
  }
  return true;
}

// Waits for the child until deadline, then kills it. Returns its exit
// status, or -1 when it did not exit normally in time.
int wait_until(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(10000);
  }
}

}  // namespace

process_result run_program_with_streams(const std::vector<std::string>& argv,
                                        const std::string& cwd, const std::string& stdin_text,
                                        const stream_setup& streams) {
  process_result result{-1, {}, {}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const input_file input(stdin_text);
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  const output_sink sink = streams.output;
  if (sink == output_sink::pipe_without_reader) {
    close(out_pipe[0]);  // before the fork: no process holds the read end
    out_pipe[0] = -1;
  }
  const int in = streams.stdin_closed ? -1 : input.open_for_reading();
  int out = -1;
  if (sink == output_sink::full_device) {
    out = open("/dev/full", O_WRONLY);
  } else if (sink != output_sink::closed) {
    out = out_pipe[1];
  }
  const pid_t pid = start_program(argv, cwd, {in, out, err_pipe[1]},
                                  {out_pipe[0], out_pipe[1], err_pipe[0]}, nullptr);
  if (in >= 0) close(in);
  if (sink == output_sink::full_device && out >= 0) close(out);
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::vector<int> fds = {err_pipe[0]};
  std::vector<std::string*> texts = {&result.errors};
  if (sink == output_sink::captured) {
    fds.push_back(out_pipe[0]);
    texts.push_back(&result.output);
  }
  const bool drained = drain_until(fds, texts, deadline);
  result.exit_status = wait_until(pid, drained ? deadline : std::chrono::steady_clock::now());
  if (sink == output_sink::unread_pipe) result.output = read_fd(out_pipe[0]);
  if (out_pipe[0] >= 0) close(out_pipe[0]);
  close(err_pipe[0]);
  return result;
}
