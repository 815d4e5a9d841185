// Textures for image frames on the OpenGL renderer, and the one place that
// remembers which texture is bound, so redundant binds never reach GL.
#pragma once
#include <memory>

#include "media/graphics.h"
#include "media/image.h"

// A texture made from the pixmap: power-of-two sized, its edge repeated
// once, filtered and mipmapped as the image flags say. Null on failure.
std::unique_ptr<TImageFrame> CreateGLImageFrame(const TPixmap& pixmap, int flags);

void GLBindTexture(unsigned name);  // enables texturing and binds, skipping what is already so
void GLDisableTexturing();          // before untextured primitives
void GLForgetTextureState();        // when a display is (re)opened: the next bind reaches GL
