#include <csignal>
#include <cstdio>

#include "driver/run.h"

// Standard output is the user's only view of the run. When it cannot take
// the messages (closed, on a full disk, a pipe whose reader has gone) the
// run is not reported as a success: the status is 1 then, whatever else
// the run did. A reader that goes away makes the writes fail rather than
// ending the program part way, so that such a run ends like every other
// failure, with status 1.
int main(int, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  int status = run_map_tool(argv);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  return status;
}
