// Writes a memory image as an 8-bit RGB PNG file through libpng.
#pragma once

#include "engine/MemoryCanvas.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

class PngWriter {
public:
    // False when the file cannot be written (the image may be empty: a
    // picture before the first repaint is 0 × 0 and has no rows).
    static bool write(const char* path, const MemoryCanvas& image) {
        uint32_t w = image.getWidth(), h = image.getHeight();
        if (w == 0 || h == 0) return false;
        FILE* f = std::fopen(path, "wb");
        if (!f) return false;
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        std::vector<png_byte> row(static_cast<size_t>(w) * 3);
        bool ok = png && info;
        if (ok && setjmp(png_jmpbuf(png))) ok = false;
        else if (ok) {
            png_init_io(png, f);
            png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                         PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            for (uint32_t y = 0; y < h; y++) {
                for (uint32_t x = 0; x < w; x++) {
                    Colour c = image.at(x, y);
                    row[3 * x] = colour_red(c);
                    row[3 * x + 1] = colour_green(c);
                    row[3 * x + 2] = colour_blue(c);
                }
                png_write_row(png, row.data());
            }
            png_write_end(png, nullptr);
        }
        png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
        return std::fclose(f) == 0 && ok;
    }
};
