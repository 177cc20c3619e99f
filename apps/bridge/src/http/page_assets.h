// The status page's files, built into the program from http/page/ (see
// embed_page.cmake), so the page works on a network with no internet and
// nothing is read from disk at run time.
#ifndef OMBRIX_BRIDGE_HTTP_PAGE_ASSETS_H
#define OMBRIX_BRIDGE_HTTP_PAGE_ASSETS_H

#include <cstddef>

namespace ombrix_bridge {

struct PageAsset {
  const unsigned char* data;
  size_t size;
  const char* type;  // Content-Type
};

extern const PageAsset kPageHtml;    // index.html
extern const PageAsset kPageScript;  // page.js
extern const PageAsset kPageStyle;   // page.css

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_PAGE_ASSETS_H
