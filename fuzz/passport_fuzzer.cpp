// Camera passports (.bcc, .cvc, .rdr): the class chosen by the header, and each class's reader.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "photogrammetry/passport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzing::kMaxFuzzInput) return 0;
  const std::string path = fuzzing::WriteScratchFile("camera.bcc", fuzzing::AsText(data, size));
  if (auto passport = CCameraPassport::New(path)) {
    passport->HasLensDistortion();
    passport->Clone()->SameAs(*passport);
  }
  CBCCCameraPassport bcc;
  bcc.Load(path);
  CCVCCameraPassport cvc;
  cvc.Load(path);
  CRDRCameraPassport rdr;
  rdr.Load(path);
  return 0;
}
