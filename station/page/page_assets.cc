#include "station/page/page_assets.h"

const PageAsset* FindPageAsset(const std::string& name) {
  for (const PageAsset& asset : PageAssets()) {
    if (name == asset.name) return &asset;
  }
  return nullptr;
}

std::string PageAssetType(const std::string& name) {
  auto endsWith = [&](const char* ending) {
    const std::string tail(ending);
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith(".html")) return "text/html; charset=utf-8";
  if (endsWith(".css")) return "text/css; charset=utf-8";
  if (endsWith(".js")) return "text/javascript; charset=utf-8";
  if (endsWith(".svg")) return "image/svg+xml";
  return "application/octet-stream";
}
