// Textures for image frames on the OpenGL renderer, and the one place that
// remembers which texture is bound, so redundant binds never reach GL.
#pragma once
#include <cstdint>
#include <memory>

#include "media/graphics.h"
#include "media/image.h"

// A texture made from the pixmap: power-of-two sized, its edge repeated
// once, filtered and mipmapped as the image flags say. Null on failure.
std::unique_ptr<TImageFrame> CreateGLImageFrame(const TPixmap& pixmap, int flags);

void GLBindTexture(unsigned name);       // enables texturing and binds, skipping what is already so
void GLDisableTexturing();               // before untextured primitives
void GLForgetTextureState();             // when a display is (re)opened: the next bind reaches GL
void GLSetColor(const uint8_t rgba[4]);  // the colour of what is drawn next, quads included

// Image quads are collected and go to GL together; anything else that
// changes what they would draw (blend, scissor, another primitive, a read
// of the screen, a swap) sends them first.
void GLFlushBatch();
void GLDropBatch();
// On: the quads from now on land texel for pixel and are read unfiltered.
void GLSetUnfiltered(bool on);  // the display is closing: what was not shown never will be
