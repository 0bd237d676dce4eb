# The command's files that parse arguments all include CLI11, a header-only
# library that costs each of them seconds to compile: the tavko target
# compiles them as one unit, so CLI11 is compiled once (the main job's
# build is mostly this).
set_target_properties(tavko PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
set_source_files_properties(tools/tavko.cpp tools/command.cpp tools/cmd_info.cpp tools/cmd_decode.cpp
  tools/cmd_encode.cpp tools/cmd_config.cpp tools/cmd_help.cpp TARGET_DIRECTORY tavko PROPERTIES UNITY_GROUP cli11)
