// QUARV: Zephrant. Ends by ESC on the title screen or the window's close
// box; `zephrant --help` lists the options.
#include "flow/flow_state.h"
#include "flow/options.h"

int main(int argc, char** argv) {
  int status = ParseOptions(argc, argv);
  if (status >= 0) return status;
  RunProgram();
}
