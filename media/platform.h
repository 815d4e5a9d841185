// Where the media core meets the platform. The core (drawing state and the
// headless renderer, images, text, streams, input state, clock, random
// numbers) needs no SDL, GL, OpenAL, FreeType or Vorbis; one backend
// supplies what does:
//   - the desktop backend: gl_driver.cpp, gl_texture.cpp, input_sdl.cpp,
//     gamepad.cpp, openal_driver.cpp, ogg_loader.cpp, font_freetype.cpp;
//   - the browser backend (web/, its own build): WebGL, the page's keys,
//     stb decoders, waits that give the browser its turn;
//   - the null backend (null_platform.cpp), for programs that show nothing
//     and play nothing, such as the replay verifier: any display it opens is
//     headless, no window event ever arrives, no TrueType font or Ogg file
//     loads, and the "OpenAL" driver never starts, so the "Null" one plays.
// Besides the two below, a backend defines the operations declared for it
// elsewhere: GLDriver, SetAppTitle, SetMouseVisible, GamepadCount, SetPadStartIsSpace,
// OpenALAudioDriver, FinishLoadingSounds, TFreeTypeFont and the Ogg loaders
// of audio_sample.h.
#pragma once

struct InputEvent;

void DeliverWindowEvents();                   // hands the window's pending events to the game
void DeliverSystemEvent(const InputEvent& e);  // (input.cpp) to the game, or aside while a replay plays
