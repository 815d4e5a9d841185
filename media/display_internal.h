// Between the media layer's own modules: window events that the display
// must act on, and what the input module needs to know about SDL.
#pragma once
#include <SDL.h>

void DisplayHandleWindowEvent(const SDL_WindowEvent& e);  // focus changes of a full-screen window
bool DisplayHasSDLWindow();                              // SDL video is up and a window is open

// Gamepads: started with the first window's events; their device, button
// and stick events become key presses (media/gamepad.cpp).
void StartGamepads();
void HandleGamepadEvent(const SDL_Event& ev);
struct InputEvent;
void DeliverPadEvent(const InputEvent& e);  // to the game, or aside while a replay plays
