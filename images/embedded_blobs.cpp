#include "images/embedded_blobs.h"

namespace kel {

const EmbeddedBlob* FindEmbeddedBlob(std::string_view name) {
  // About a hundred entries, looked up once per selection: a scan is enough.
  for (unsigned i = 0; i < kEmbeddedBlobCount; ++i) {
    if (name == kEmbeddedBlobs[i].name) return &kEmbeddedBlobs[i];
  }
  return nullptr;
}

}  // namespace kel
