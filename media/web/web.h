// Between the browser backend's own modules.
#pragma once
#include <string>

#include "media/text.h"

// A frame is finished: the page may look at it, and with `shown` it is
// what the page paints at its next animation frame, when this returns.
void WebYieldForFrame(bool shown);
bool WebHoldingFrames();                     // the page holds the picture at a frame to come
void WebShowViewerState(const Text& state);  // to the page's Module.onViewerState
void WebStartInput();                        // keys and focus of the page reach the game from now on
void WebFeedSound();                         // refills the queues of the long sounds playing
