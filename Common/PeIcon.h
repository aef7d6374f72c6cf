// The program's Explorer icon from a PNG image: PNG checking and the icon
// group (RT_GROUP_ICON with its RT_ICON images) that Windows Vista and later
// read straight from PNG data.
#pragma once

#include "PeResources.h"
#include "ZoTypes.h"

ZO_DECLARE_ERROR(EImageError, Exception);

struct TPngInfo {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint8_t BitDepth = 0;
    uint8_t ColorType = 0;
    bool Interlaced = false;
};

// Checks that the bytes are one whole PNG image (signature, chunk checksums,
// header values, image data that inflates to exactly the pixels the header
// calls for); raises EImageError saying what is wrong.
TPngInfo CheckPng(const uint8_t* data, size_t size);
inline TPngInfo CheckPng(const TBytes& png) { return CheckPng(png.data(), png.size()); }

// Decodes a PNG image (any colour type, bit depth and interlacing; checked as
// CheckPng does) into 8-bit RGBA pixels, rows top to bottom.
struct TRgbaImage {
    uint32_t Width = 0, Height = 0;
    TBytes Pixels;  // Width * Height * 4 bytes: R, G, B, A
};
TRgbaImage DecodePng(const TBytes& png);

// The image scaled to width x height (averaging the pixels it covers when made
// smaller, bilinear when made larger; colours weighted by their opacity).
TRgbaImage ScaleImage(const TRgbaImage& image, uint32_t width, uint32_t height);

// Encodes 8-bit RGBA pixels (rows top to bottom) as a PNG image.
TBytes EncodePng(uint32_t width, uint32_t height, const uint8_t* rgba);

// Makes the PNG the icon Explorer shows for the file: replaces the first icon
// group (the one Explorer takes) or adds group 1, with the PNG as its image.
// Icon images no other group uses are removed.
void SetExplorerIcon(TPeImage& pe, const TBytes& png);

// The window's ready icon: icon group kWindowIconGroup with the product's icon
// at each size the window draws it (small and large window icons, and the
// picture on the idle page at 100 % to 200 %), each a plain RGBA PNG image that
// the program decodes itself, so it needs neither GDI+ nor the system's imaging
// codecs to show it. pictureSide is the side of the picture's place at 100 %.
constexpr uint16_t kWindowIconGroup = 2;
void SetWindowIcon(TPeImage& pe, const TBytes& png, uint32_t pictureSide);
// The sizes SetWindowIcon writes for an icon of the given size.
std::vector<uint32_t> WindowIconSides(uint32_t width, uint32_t height, uint32_t pictureSide);

// The images of the icon group Explorer shows: (width, height, bytes) each;
// a width or height of 256 is stored as 0. Empty when the file has no icon.
struct TIconEntry {
    uint32_t Width = 0, Height = 0;
    uint16_t BitCount = 0;
    uint16_t Id = 0;
    TBytes Image;
};
std::vector<TIconEntry> ExplorerIcon(const TPeImage& pe);
