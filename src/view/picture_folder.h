// Pictures from a folder: the PNG and JPEG files under a folder the user
// names (sub-folders included, links followed but no folder twice, so a
// link loop ends), one of them picked at random and letterboxed to the
// screen's shape. Relies on POSIX directory reads and the platform's image
// files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// How many directory entries one search looks at, at most, and how deep
// it goes below the folder.
inline constexpr int kPictureFolderEntryLimit = 4000;
inline constexpr int kPictureFolderDepthLimit = 16;

// The regular files under `folder` whose names end in .png, .jpg or .jpeg
// (any case), in the order found; names that start with a dot (hidden
// files and folders, thumbnails) are passed over. Looks at no more than
// `entryLimit` entries; *stopped (when given) tells whether entries were
// left unseen for that. False, with the reason, when the folder itself
// cannot be read; true with an empty list when it holds no such file.
bool ListFolderPictures(const std::string& folder, int entryLimit, std::vector<std::string>* paths,
                        std::string* error, bool* stopped = nullptr);

// Picks a picture of `folder` at random (from `seed`) and loads it to fit
// in screenWidth × screenHeight, keeping its aspect, letterboxed to the
// screen's shape (view/letterbox.h). A picture that cannot be read gives
// way to another, up to a few. The picture's path in *path. False, with
// the reason, when the folder cannot be read, holds no picture, or none of
// those tried could be read.
bool PickFolderPicture(const std::string& folder, int screenWidth, int screenHeight, uint32_t seed,
                       platform::RgbaImage* image, std::string* path, std::string* error);
