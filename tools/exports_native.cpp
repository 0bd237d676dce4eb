// The Linux build links the plug-in's code in.
#include "tools/exports.h"

bool LoadPluginExports(const std::string&, PluginExports* exports, std::string*) {
  exports->getPluginInfo = GetPluginInfo;
  exports->isSupported = IsSupported;
  exports->getPictureInfo = GetPictureInfo;
  exports->getPicture = GetPicture;
  exports->getPreview = GetPreview;
  exports->configurationDlg = nullptr;
  exports->getPictureInfoW = nullptr;
  exports->getPictureW = nullptr;
  return true;
}
