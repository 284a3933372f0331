#include "input/keywords.h"

namespace bravik {
namespace {

constexpr const char* kKeywords[] = {
    "params",
    "ls-params",
    "camera",
    "camera-frame",
    "camera-ccd",
    "camera-ccd-tr",
    "camera-pushbroom",
    "image",
    "image-frame",
    "image-scanner",
    "image-geometry",
    "ext-ori",
    "ext-ori-opk-rot",
    "ext-ori-pok-rot",
    "ext-ori-opk-fix",
    "ext-ori-australis",
    "ext-ori-quaternion",
    "dlt",
    "ext-ori-kratky",
    "pmf-linear",
    "image-crds",
    "obj-crds",
    "ctrl-supp",
    "ap-set",
    "gap",
    "australis",
    "p12",
    "p44",
    "inner-or",
    "radial-dist",
    "decentering-dist",
    "in-plane-dist",
    "out-of-plane-dist",
    "pos-cor",
    "att-cor",
    "patb-params",
    "patb-photos",
    "patb-control",
    "patb-orient",
    "oc-transform",
    "stop-dep",
};
static_assert(sizeof(kKeywords) / sizeof(kKeywords[0]) == 41);

}  // namespace

int keywordNumber(const std::string& word) {
  for (int i = 0; i < 41; ++i) {
    if (word == kKeywords[i]) return i + 1;
  }
  return kKwUnknown;
}

}  // namespace bravik
