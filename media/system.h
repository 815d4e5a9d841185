// Program end. The game ends the process from a few places (ESC on the
// title, the window's close box); tests replace the exit with a throw.
#pragma once
#include <functional>

struct ProgramEnded {  // thrown by the test hook instead of exiting
  int status;
};

[[noreturn]] void EndProgram(int status);  // shuts the media layer down and exits
void SetEndProgramHook(std::function<void(int)> hook);  // the hook may throw; if it returns we exit
void AtProgramEnd(std::function<void()> fn);            // run by EndProgram before exiting, newest first
