// Build step: the icon's PNG pictures as ARGB pixels in a header, so the program shows its icon
// without running a PNG decoder (whose code alone would add a fifth of a megabyte to its memory).
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return std::fputs("usage: icon_pixels OUT.h PICTURE.png...\n", stderr), 2;
    FILE* out = std::fopen(argv[1], "w");
    if (!out) return std::perror(argv[1]), 1;
    std::fputs("// Made by icon_pixels from the icon's PNG pictures.\n#pragma once\n\n"
               "namespace tidewell::icon_pixels {\n\n"
               "// Width, height, then the pixels row by row as 0xAARRGGBB.\n",
               out);
    for (int i = 2; i < argc; ++i) {
        const QImage image = QImage(argv[i]).convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            return std::fprintf(stderr, "icon_pixels: cannot read %s\n", argv[i]), 1;
        std::fprintf(out, "inline constexpr unsigned picture%d[] = {%d, %d,", i - 2, image.width(),
                     image.height());
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                std::fprintf(out, "%s0x%08x,", x % 8 ? " " : "\n    ", image.pixel(x, y));
        std::fputs("\n};\n", out);
    }
    std::fputs("inline constexpr const unsigned* kPictures[] = {", out);
    for (int i = 2; i < argc; ++i) std::fprintf(out, "%spicture%d", i > 2 ? ", " : "", i - 2);
    std::fputs("};\n\n}  // namespace tidewell::icon_pixels\n", out);
    return std::fclose(out) == 0 ? 0 : (std::perror(argv[1]), 1);
}
