// Writes the application icon as PNG files at the sizes a desktop's icon theme
// asks for, from the icon's own image: icon_png ICO SIZE OUT.png [SIZE OUT.png ...]
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s ICO SIZE OUT.png [SIZE OUT.png ...]\n", argv[0]);
        return 2;
    }
    GError* error = nullptr;
    GdkPixbuf* icon = gdk_pixbuf_new_from_file(argv[1], &error);
    if (!icon) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error->message);
        return 1;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) {
            std::fprintf(stderr, "bad size %s\n", argv[i]);
            return 2;
        }
        // The 32-pixel image as it is; other sizes scaled from it.
        GdkPixbuf* scaled = size == gdk_pixbuf_get_width(icon)
                                ? GDK_PIXBUF(g_object_ref(icon))
                                : gdk_pixbuf_scale_simple(icon, size, size, GDK_INTERP_HYPER);
        const bool saved = gdk_pixbuf_save(scaled, argv[i + 1], "png", &error, nullptr);
        g_object_unref(scaled);
        if (!saved) {
            std::fprintf(stderr, "%s: %s\n", argv[i + 1], error->message);
            return 1;
        }
    }
    g_object_unref(icon);
    return 0;
}
