// Program end. The game ends the process from a few places (ESC on the
// title, the window's close box); tests replace the exit with a throw.
// Also the process's memory between screens.
#pragma once
#include <functional>

struct ProgramEnded {  // thrown by the test hook instead of exiting
  int status;
};

[[noreturn]] void EndProgram(int status);               // shuts the media layer down and exits
void SetEndProgramHook(std::function<void(int)> hook);  // the hook may throw; if it returns we exit
void AtProgramEnd(std::function<void()> fn);  // run by EndProgram before exiting, newest first

// Gives the memory that earlier screens used and freed back to the system
// (the allocator keeps it otherwise): a busy game over leaves tens of MB.
void ReleaseFreeMemory();
