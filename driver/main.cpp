#include "driver/run.h"

int main(int, char** argv) {
  return run_map_tool(argv);
}
