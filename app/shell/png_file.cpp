#include "shell/png_file.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace velmo {

bool WritePngFile(const std::string& path, const uint8_t* pixels, int width, int height, int channels, size_t stride,
                  int level, bool quick) {
  if (pixels == nullptr || width <= 0 || height <= 0 || (channels != 1 && channels != 3)) return false;
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    return false;
  }
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  if (quick) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  for (size_t y = 0; y < rows.size(); ++y) rows[y] = const_cast<png_bytep>(pixels + y * stride);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(fp) == 0;
}

}  // namespace velmo
