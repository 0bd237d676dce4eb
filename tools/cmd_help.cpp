// tavko help, the help texts, and tavko --version.
#include <cstring>
#include <string>

#include "tools/command.h"

const char kUsage[] =
    "usage: tavko COMMAND [ARGS]\n"
    "\n"
    "Reads and writes QVX pictures through the TAVKO plug-in.\n"
    "\n"
    "commands:\n"
    "  info FILE...                      what each file holds: size, depths, header, palette\n"
    "  decode IN.qvx OUT.png|OUT.bmp     decode a QVX picture to PNG or BMP\n"
    "  decode FILE... -d DIR             decode many pictures into DIR\n"
    "  encode IN.bmp|IN.png OUT.qvx      store a BMP or PNG picture as QVX\n"
#ifdef _WIN32
    "  config                            open the plug-in's configuration dialog\n"
#endif
    "  help COMMAND                      help on one command\n"
    "\n"
    "  tavko COMMAND --help              help on one command\n"
    "  tavko -V, --version               the version of tavko and of the plug-in\n"
    "\n"
    "A file name of - means standard input or standard output (a picture is\n"
    "not written to a terminal unless forced with -f); -- ends the options. An\n"
    "existing output is replaced only when the new one is complete, never when\n"
#ifdef _WIN32
    "it is the input itself or read-only.\n";
#else
    "it is the input itself; a read-only one only by root, as cp does.\n";
#endif

const char kInfoUsage[] =
    "usage: tavko info [--json] [--offset N] FILE...\n"
    "\n"
    "Reads the header of each file and tells whether the plug-in takes it as a\n"
    "QVX picture: width, height, stored and delivered depth, header form,\n"
    "palette size, densities, and whether the file is shorter than its header\n"
    "promises. Exit status 1 when any file is not a QVX picture or cannot be\n"
    "read.\n"
    "\n"
    "  --json       one JSON object per file, one per line; a file that cannot\n"
    "               be read has an \"error\" field\n"
    "  --offset N   the picture starts N bytes into each file\n";

const char kDecodeUsage[] =
    "usage: tavko decode IN.qvx OUT.png|OUT.bmp [OPTIONS]\n"
    "       tavko decode IN.qvx -o OUT [OPTIONS]\n"
    "       tavko decode FILE... -d DIR [OPTIONS]\n"
    "\n"
    "Decodes QVX pictures; the output's ending or --format chooses PNG or BMP.\n"
    "The BMP holds the plug-in's bitmap exactly as delivered; the PNG has the\n"
    "same pixels (palette and grey pictures stay palette and grey PNGs) and\n"
    "the picture's density. With -d, each FILE.qvx becomes DIR/FILE.png (DIR\n"
    "is made when missing); a failed file is reported and the others go on.\n"
    "- reads standard input or writes standard output.\n"
    "\n"
    "  -o FILE           the output of a single picture\n"
    "  -d DIR            write every output into DIR\n"
    "  -j N              decode N files at once (default: the number of processors)\n"
    "  --format F        png or bmp, where no ending says it (default png with -d)\n"
    "  --level N         PNG compression, 1 (fastest) to 9 (smallest); default 2\n"
    "  --offset N        the picture starts N bytes into the input file\n"
    "  --max-pixels N    refuse pictures of more than N pixels (default 268435456,\n"
    "                    that is 2^28; 0 for no limit)\n"
    "  -n, --no-clobber  never replace an existing output\n"
    "  -f, --force       write the picture to standard output on a terminal too\n"
    "  --keep16          deliver 16-bit pictures as 16-bit bit-field bitmaps\n"
    "  --keep32          deliver 32-bit pictures as 32-bit bit-field bitmaps\n"
    "  -q, --quiet       no progress and no summary\n"
    "  -v, --verbose     name every file written\n"
#ifdef _WIN32
    "\n"
    "On Windows the plug-in decodes with the options stored through its\n"
    "configuration dialog (tavko config); --keep16 and --keep32 are refused.\n"
#endif
    ;

const char kEncodeUsage[] =
    "usage: tavko encode IN.bmp|IN.png OUT.qvx [OPTIONS]\n"
    "\n"
    "Stores a BMP or PNG picture as QVX, so that the plug-in shows the same\n"
    "pixels. BMPs of any header size, bit-field and run-length BMPs are\n"
    "brought into a form the plug-in reads; PNGs are stored as 24-bit\n"
    "pictures (alpha is dropped) with their density. - reads standard input\n"
    "or writes standard output.\n"
    "\n"
    "  -o FILE           the output\n"
    "  --format qvx      write an output whose name does not end in .qvx\n"
    "  --max-pixels N    refuse pictures of more than N pixels (default 268435456,\n"
    "                    that is 2^28; 0 for no limit)\n"
    "  -n, --no-clobber  never replace an existing output\n"
    "  -f, --force       write the picture to standard output on a terminal too\n"
#ifdef _WIN32
    "\n"
    "On Windows any picture the imaging component reads is taken too (JPEG,\n"
    "GIF, TIFF, ..., and QVX where TAVKOWIC.dll is registered).\n"
#endif
    ;

const char kConfigUsage[] =
    "usage: tavko config\n"
    "\n"
#ifdef _WIN32
    "Opens the plug-in's own configuration dialog; what is chosen there is\n"
    "kept for every program that uses the plug-in.\n";
#else
    "The Windows build opens the plug-in's configuration dialog here. This\n"
    "build has none: tavko decode takes --keep16 and --keep32 instead.\n";
#endif

int RunHelp(int argc, char** argv) {
  if (argc < 2) return ShowHelp(kUsage);
  if (argc > 2) return UsageError("", "help takes one command");
  std::string topic = argv[1];
  if (topic == "info") return ShowHelp(kInfoUsage);
  if (topic == "decode") return ShowHelp(kDecodeUsage);
  if (topic == "encode") return ShowHelp(kEncodeUsage);
  if (topic == "config") return ShowHelp(kConfigUsage);
  if (topic == "help") return ShowHelp(kUsage);
  return UsageError("", "no help on " + topic);
}

int RunVersion() {
  std::string why, text[4];
  if (!OpenDecoder(DecoderOptions(), &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return kExitFailed;
  }
  DecoderStrings(text);
  // The plug-in's description ends in its own "version.0.04": quoted and
  // labelled, it is not taken for a second version of tavko.
  Print("tavko %s\nplug-in description string: \"%s\"\ninterface: %s\nfiles: %s %s\n", TAVKO_VERSION,
        text[1].c_str(), text[0].c_str(), text[2].c_str(), text[3].c_str());
  return kExitOk;
}
