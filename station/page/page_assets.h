// The page's HTML, CSS, JavaScript and icon, compiled into the program (page_assets_data.cc is made
// at build time from the files under assets/): the page works on a network with no internet.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct PageAsset {
  const char* name;  // the file's name under assets/: "jig.html"
  const unsigned char* data;
  std::size_t size;
};

const std::vector<PageAsset>& PageAssets();
// Null when there is no such file.
const PageAsset* FindPageAsset(const std::string& name);
// The Content-Type of a file by its name's ending.
std::string PageAssetType(const std::string& name);
