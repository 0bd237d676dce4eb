/* Opens a picture with gdk_pixbuf_new_from_file, as any GTK program does,
 * and prints its width and height; given a second picture, also checks
 * that both hold the same pixels.
 *   pixbuf_open PICTURE [SAME_PIXELS_AS]      exit 0 on success */
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <string.h>

static GdkPixbuf* Open(const char* path) {
  GError* error = NULL;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path, &error);
  if (!pixbuf) {
    fprintf(stderr, "%s: %s\n", path, error ? error->message : "no picture and no error");
    g_clear_error(&error);
  }
  return pixbuf;
}

static int SamePixels(GdkPixbuf* a, GdkPixbuf* b) {
  int width = gdk_pixbuf_get_width(a), height = gdk_pixbuf_get_height(a);
  int channels = gdk_pixbuf_get_n_channels(a);
  if (width != gdk_pixbuf_get_width(b) || height != gdk_pixbuf_get_height(b) ||
      channels != gdk_pixbuf_get_n_channels(b) || gdk_pixbuf_get_bits_per_sample(a) != 8 ||
      gdk_pixbuf_get_bits_per_sample(b) != 8)
    return 0;
  for (int y = 0; y < height; ++y) {
    const guchar* rowA = gdk_pixbuf_read_pixels(a) + (size_t)y * gdk_pixbuf_get_rowstride(a);
    const guchar* rowB = gdk_pixbuf_read_pixels(b) + (size_t)y * gdk_pixbuf_get_rowstride(b);
    if (memcmp(rowA, rowB, (size_t)width * channels) != 0) return 0;
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: pixbuf_open PICTURE [SAME_PIXELS_AS]\n");
    return 2;
  }
  GdkPixbuf* pixbuf = Open(argv[1]);
  if (!pixbuf) return 1;
  printf("%d %d\n", gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf));
  int status = 0;
  if (argc == 3) {
    GdkPixbuf* other = Open(argv[2]);
    if (!other || !SamePixels(pixbuf, other)) {
      fprintf(stderr, "%s and %s differ\n", argv[1], argv[2]);
      status = 1;
    }
    if (other) g_object_unref(other);
  }
  g_object_unref(pixbuf);
  return status;
}
