#pragma once

#include "image/boot_sector.h"
#include "image/dir_entry.h"
#include "image/fat_image.h"
#include "image/fat_layout.h"
#include "image/image_builder.h"
#include "image/mbr.h"

// Tests name the image builder's types as their own.
namespace kestra::testing {
using namespace kestra::image;
}  // namespace kestra::testing
