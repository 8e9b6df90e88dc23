#include "display/png_output.h"

#include <png.h>

#include <csetjmp>
#include <fstream>

namespace kestra::display {
namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

// Kept free of objects with destructors: libpng leaves by longjmp on errors.
bool WriteRows(png_structp png, png_infop info, int width, int height, png_bytepp rows,
               std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, AppendBytes, NoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const Canvas& picture) {
    std::vector<uint8_t> out;
    int width = picture.Width();
    int height = picture.Height();
    if (width <= 0 || height <= 0) return out;

    std::vector<uint8_t> raw(static_cast<size_t>(width) * height * 3);
    const auto& pixels = picture.Pixels();
    for (size_t i = 0; i < pixels.size(); ++i) {
        raw[3 * i] = pixels[i].r;
        raw[3 * i + 1] = pixels[i].g;
        raw[3 * i + 2] = pixels[i].b;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[y] = raw.data() + static_cast<size_t>(y) * width * 3;

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return out;
    png_infop info = png_create_info_struct(png);
    bool ok = info != nullptr && WriteRows(png, info, width, height, rows.data(), &out);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok) out.clear();
    return out;
}

bool SavePng(const Canvas& picture, const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes = EncodePng(picture);
    if (bytes.empty()) {
        if (error) *error = "cannot encode an empty picture";
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace kestra::display
