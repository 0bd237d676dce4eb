// Writes the Linux build's digest of every test picture: digest SHARED SAMPLES OUT
#include <cstdio>

#include "common/digest.h"
#include "decode/options.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: digest SHARED_DIR SAMPLES_DIR OUT\n");
    return 2;
  }
  PluginSettings.cpuHasMmx = DetectMmx();
  PluginExports plugin;
  std::string why;
  LoadPluginExports("", &plugin, &why);
  return WriteDigests(plugin, argv[1], argv[2], argv[3]) ? 0 : 1;
}
