// QUARV: Zephrant. Takes no arguments; ends by ESC on the title screen or
// the window's close box.
#include "flow/flow_state.h"

int main() { RunProgram(); }
