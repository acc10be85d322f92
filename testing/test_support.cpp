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

int run_in_child_with_file_limit(rlim_t file_size_limit, const std::function<int()>& body) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {file_size_limit, file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    int status = body();
    fflush(stdout);
    _exit(status);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

namespace {

// In a forked child: puts the given descriptors in place of standard input,
// output and error, enters cwd and executes argv; never returns.
[[noreturn]] void exec_in_child(const std::vector<std::string>& argv, const std::string& cwd,
                                int in, int out, int err) {
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  if (chdir(cwd.c_str()) != 0) _exit(127);
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

process_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& stdin_text, rlim_t file_size_limit) {
  process_result result{-1, {}, {}};
  std::string input_path = make_temp_dir();
  std::string input_file = input_path + "/stdin";
  write_file_bytes(input_file, std::span(reinterpret_cast<const uint8_t*>(stdin_text.data()),
                                         stdin_text.size()));
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across exec
    struct rlimit limit = {file_size_limit, file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    exec_in_child(argv, cwd, open(input_file.c_str(), O_RDONLY), out_pipe[1], err_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  result.output = read_fd(out_pipe[0]);
  result.errors = read_fd(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.exit_status = WEXITSTATUS(status);
  remove_tree(input_path);
  return result;
}

process_result run_program_limited_at_prompt(const std::vector<std::string>& argv,
                                             const std::string& cwd, const std::string& prompt,
                                             const std::string& answer, rlim_t file_size_limit) {
  process_result result{-1, {}, {}};
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    signal(SIGXFSZ, SIG_IGN);
    exec_in_child(argv, cwd, in_pipe[0], out_pipe[1], err_pipe[1]);
  }
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
  result.output += read_fd(out_pipe[0]);
  result.errors = read_fd(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.exit_status = WEXITSTATUS(status);
  return result;
}

process_result run_program(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& stdin_text) {
  process_result result{-1, {}, {}};
  std::string input_path = make_temp_dir();
  std::string input_file = input_path + "/stdin";
  write_file_bytes(input_file, std::span(reinterpret_cast<const uint8_t*>(stdin_text.data()),
                                         stdin_text.size()));
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(input_file.c_str(), O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Standard error is small in every test; read standard output first.
  result.output = read_fd(out_pipe[0]);
  result.errors = read_fd(err_pipe[0]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    result.exit_status = WEXITSTATUS(status);
  remove_tree(input_path);
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
  std::string input_path = make_temp_dir();
  std::string input_file = input_path + "/stdin";
  write_file_bytes(input_file, std::span(reinterpret_cast<const uint8_t*>(stdin_text.data()),
                                         stdin_text.size()));
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  const output_sink sink = streams.output;
  if (sink == output_sink::pipe_without_reader) {
    close(out_pipe[0]);  // before the fork: no process holds the read end
    out_pipe[0] = -1;
  }
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    const int in = streams.stdin_closed ? -1 : open(input_file.c_str(), O_RDONLY);
    int out = -1;
    if (sink == output_sink::full_device) {
      out = open("/dev/full", O_WRONLY);
    } else if (sink != output_sink::closed) {
      out = out_pipe[1];
    }
    dup2(err_pipe[1], STDERR_FILENO);
    if (in >= 0) {
      dup2(in, STDIN_FILENO);
    } else {
      close(STDIN_FILENO);
    }
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
    } else {
      close(STDOUT_FILENO);
    }
    // Nothing else of the test reaches the program.
    for (int fd : {in, out, out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      if (fd > STDERR_FILENO) close(fd);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
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
  remove_tree(input_path);
  return result;
}
