// Between the browser backend's own modules.
#pragma once
#include <string>

#include "media/text.h"

void WebYieldForFrame();                     // the page shows the frame; returns at its next animation frame
void WebShowViewerState(const Text& state);  // to the page's Module.onViewerState
void WebStartInput();                        // keys and focus of the page reach the game from now on
void WebFeedSound();                         // refills the queues of the long sounds playing
