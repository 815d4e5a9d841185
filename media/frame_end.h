// The end of every frame, for whoever must act between two whole frames.
#pragma once

// Called by Flip once the frame is shown (or skipped): a replay whose viewer
// stops it halfway through drawing a frame ends there, so that what stays on
// the screen is a whole frame. Null: nothing.
void SetFrameEndWatch(void (*watch)());
