// Writes the Linux build's digest of every test picture: digest SHARED SAMPLES OUT
#include <cstdio>
#include <string>

#include "common/digest.h"
#include "settings/options.h"

int main(int argc, char** argv) {
  // --options: keep16, keep32 and useMmx all set, as "16", "32" and "MMX"
  // stored as 1 give the Windows build.
  bool options = argc == 6 && std::string(argv[5]) == "--options";
  if (argc != 5 && !options) {
    std::fprintf(stderr, "usage: digest CORPUS_DIR SAMPLES_DIR SEEDS_DIR OUT [--options]\n");
    return 2;
  }
  PluginSettings.keep16 = PluginSettings.keep32 = PluginSettings.useMmx = options ? 1 : 0;
  DetectProcessor();
  UpdateOutputDepths();
  PluginExports plugin;
  std::string why;
  LoadPluginExports("", &plugin, &why);
  return WriteDigests(plugin, argv[1], argv[2], argv[3], argv[4]) ? 0 : 1;
}
