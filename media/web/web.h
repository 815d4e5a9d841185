// Between the browser backend's own modules.
#pragma once
#include <string>

void WebYieldForFrame();                     // the page shows the frame; returns at its next animation frame
void WebSetTitle(const std::string& title);  // the page's title, in a browser
void WebStartInput();                        // keys and focus of the page reach the game from now on
void WebFeedSound();                         // refills the queues of the long sounds playing
