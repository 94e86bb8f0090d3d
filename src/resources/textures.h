// The texture table: every image lump of the resource archive decoded and
// uploaded as an OpenGL texture, in a table indexed by lump number. Relies on
// RESFILE, the TGA stream decoder and a current OpenGL context.
//
// The resources layer (src/resources/): the archive, TGA decoding and
// texture upload. It may use support/ only.
#pragma once

#include "resources/texture.h"

// Alpha modes of an image lump (its directory param).
//   1: colour key: alpha 0 where R, G, B equal the image's first pixel, else 255
//   2: alpha = the largest of R, G and B
//   other: the image's own alpha for 32-bit images, 255 for 24-bit ones
inline constexpr int kAlphaColourKey = 1;
inline constexpr int kAlphaBrightness = 2;

// Opens the archive at path and replaces *textures with a new array (from
// new[], owned by the caller) of one record per lump, *count records. Lumps
// of type 1 are decoded and uploaded with their alpha mode; other lumps keep
// an empty record. 1 when every image lump loaded; 0 on failure. If the
// archive cannot be opened, or the table cannot be allocated, *textures and
// *count are left as they were. Otherwise loading stops at the first lump
// that fails: the table stays with the caller, records before that lump
// uploaded and records from it on empty.
int LoadTexturesFromDataFile(const char* path, Texture** textures, int* count);

// Uploads a decoded record (24 or 32 bits per pixel) as an RGBA texture of
// the image's own size, with repeat wrapping and linear filtering, leaves it
// bound to GL_TEXTURE_2D, stores its name in glName and frees pixels. 1 on
// success; 0 if the record holds no pixels or the working memory cannot be
// had (pixels then stay; a generated name stays in glName).
int BuildTexture(Texture* texture, int alphaMode);
