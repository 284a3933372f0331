#include "photogrammetry/passport.h"

#include <strings.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <istream>
#include <ostream>

#include "system/nvtools.h"
#include "system/text_record.h"

namespace {

constexpr int kPassportFileVersion = 1;
constexpr int kSerialFormVersion = 1;
constexpr const char* kHeaderBCC = "VANTRI-PASSPORT-BCC";
constexpr const char* kHeaderCVC = "VANTRI-PASSPORT-CVC";
constexpr const char* kHeaderRDR = "VANTRI-PASSPORT-RDR";
constexpr const char* kHeaderCCB = "VANTRI-PASSPORT-CCB";
constexpr const char* kCoefficientKeys[5] = {"k1", "k2", "k3", "p1", "p2"};

const char* HeaderForCode(int code) {
  switch (code) {
    case vantri::photogrammetry::kPassportCodeBCC:
      return kHeaderBCC;
    case vantri::photogrammetry::kPassportCodeCVC:
      return kHeaderCVC;
    default:
      return kHeaderRDR;
  }
}

// --- Encoded text fields of the ccb form -------------------------------------------------------

std::string HexEncode(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool HexDecode(std::string_view text, std::string* out) {
  if (text.size() % 2 != 0) return false;
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]), low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    decoded += static_cast<char>(high * 16 + low);
  }
  *out = std::move(decoded);
  return true;
}

using TextCodec = std::string (*)(std::string_view);
std::string Plain(std::string_view text) { return std::string(text); }

constexpr const char* kTextKeys[4] = {"model", "camera_serial", "lens_serial", "calibration_date"};

std::string* TextField(CCameraPassport& passport, int index) {
  std::string* fields[4] = {&passport.model, &passport.camera_serial, &passport.lens_serial,
                            &passport.calibration_date};
  return fields[index];
}

void WriteFields(const CCameraPassport& passport, bool encoded,
                 vantri::system::TextRecord* record) {
  const TextCodec codec = encoded ? HexEncode : Plain;
  record->SetText(kTextKeys[0], codec(passport.model));
  record->SetText(kTextKeys[1], codec(passport.camera_serial));
  record->SetText(kTextKeys[2], codec(passport.lens_serial));
  record->SetInt("lens_constant", passport.lens_constant);
  record->SetText(kTextKeys[3], codec(passport.calibration_date));
  record->SetDouble("focal_mm", passport.focal_mm);
  record->SetDouble("pixel_mm", passport.pixel_mm);
  record->SetDouble("ppx", passport.ppx);
  record->SetDouble("ppy", passport.ppy);
  record->SetInt("width", passport.width);
  record->SetInt("height", passport.height);
}

// Reads every common field into `passport`; on failure it is left partly filled (callers read
// into a scratch object).
bool ReadFields(const vantri::system::TextRecord& record, bool encoded, CCameraPassport* passport) {
  for (int i = 0; i < 4; ++i) {
    std::string value;
    if (!record.GetText(kTextKeys[i], &value)) return false;
    if (encoded && !HexDecode(value, &value)) return false;
    *TextField(*passport, i) = value;
  }
  return record.GetInt("lens_constant", &passport->lens_constant) &&
         record.GetDouble("focal_mm", &passport->focal_mm) &&
         record.GetDouble("pixel_mm", &passport->pixel_mm) &&
         record.GetDouble("ppx", &passport->ppx) && record.GetDouble("ppy", &passport->ppy) &&
         record.GetInt("width", &passport->width) && record.GetInt("height", &passport->height);
}

void WriteCoefficients(const std::array<double, 5>& values, vantri::system::TextRecord* record) {
  for (int i = 0; i < 5; ++i) record->SetDouble(kCoefficientKeys[i], values[i]);
}

bool ReadCoefficients(const vantri::system::TextRecord& record, std::array<double, 5>* values) {
  for (int i = 0; i < 5; ++i) {
    if (!record.GetDouble(kCoefficientKeys[i], &(*values)[i])) return false;
  }
  return true;
}

bool HasExtension(const std::string& path, const char* extension) {
  const std::string actual = std::filesystem::path(path).extension().string();
  return actual.size() > 1 && strcasecmp(actual.c_str() + 1, extension) == 0;
}

// --- Binary serialised form (little-endian, project-file text prefixes) ------------------------

template <typename T>
void WriteBinary(std::ostream& out, T value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  out.write(reinterpret_cast<const char*>(bytes), sizeof(T));
}

template <typename T>
bool ReadBinary(std::istream& in, T* value) {
  unsigned char bytes[sizeof(T)];
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof(T))) return false;
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  std::memcpy(value, bytes, sizeof(T));
  return true;
}

void WriteBinaryText(std::ostream& out, const std::string& text) {
  const std::size_t length = text.size();
  if (length < 0xFF) {
    WriteBinary<std::uint8_t>(out, static_cast<std::uint8_t>(length));
  } else if (length < 0xFFFE) {
    WriteBinary<std::uint8_t>(out, 0xFF);
    WriteBinary<std::uint16_t>(out, static_cast<std::uint16_t>(length));
  } else {
    WriteBinary<std::uint8_t>(out, 0xFF);
    WriteBinary<std::uint16_t>(out, 0xFFFF);
    WriteBinary<std::uint32_t>(out, static_cast<std::uint32_t>(length));
  }
  out.write(text.data(), static_cast<std::streamsize>(length));
}

// Texts of a passport are short; a longer prefix means a corrupt stream.
constexpr std::uint32_t kMaxSerialText = 1u << 20;

bool ReadBinaryText(std::istream& in, std::string* text) {
  std::uint8_t short_length = 0;
  if (!ReadBinary(in, &short_length)) return false;
  std::uint32_t length = short_length;
  if (short_length == 0xFF) {
    std::uint16_t medium = 0;
    if (!ReadBinary(in, &medium)) return false;
    length = medium;
    if (medium == 0xFFFF && !ReadBinary(in, &length)) return false;
  }
  if (length > kMaxSerialText) return false;
  std::string value(length, '\0');
  if (length > 0 && !in.read(value.data(), length)) return false;
  *text = std::move(value);
  return true;
}

}  // namespace

namespace vantri::photogrammetry {

DistortionCoefficients MetricToNormalised(const DistortionCoefficients& metric, double focal_mm) {
  const double f2 = std::pow(focal_mm / 1000.0, 2);
  return {metric.k1 * f2, metric.k2 * f2 * f2, metric.k3 * f2 * f2 * f2, metric.p1 * f2,
          metric.p2 * f2};
}

DistortionCoefficients NormalisedToMetric(const DistortionCoefficients& normalised,
                                          double focal_mm) {
  const double f2 = std::pow(focal_mm / 1000.0, 2);
  if (f2 == 0.0) return {};
  return {normalised.k1 / f2, normalised.k2 / (f2 * f2), normalised.k3 / (f2 * f2 * f2),
          normalised.p1 / f2, normalised.p2 / f2};
}

}  // namespace vantri::photogrammetry

// --- CCameraPassport ---------------------------------------------------------------------------

std::unique_ptr<CCameraPassport> CCameraPassport::CreateForTypeCode(int code) {
  switch (code) {
    case vantri::photogrammetry::kPassportCodeBCC:
      return std::make_unique<CBCCCameraPassport>();
    case vantri::photogrammetry::kPassportCodeCVC:
      return std::make_unique<CCVCCameraPassport>();
    case vantri::photogrammetry::kPassportCodeRDR:
      return std::make_unique<CRDRCameraPassport>();
    default:
      return nullptr;
  }
}

std::unique_ptr<CCameraPassport> CCameraPassport::New(const std::string& path) {
  if (HasExtension(path, "ccb")) {
    auto passport = std::make_unique<CBCCCameraPassport>();
    if (!CCBtoBCC(path, passport.get())) return nullptr;
    return passport;
  }
  std::string format;
  int version = 0;
  if (!vantri::system::TextRecord::ReadHeader(path, &format, &version)) return nullptr;
  std::unique_ptr<CCameraPassport> passport;
  if (format == kHeaderBCC) passport = CreateForTypeCode(vantri::photogrammetry::kPassportCodeBCC);
  if (format == kHeaderCVC) passport = CreateForTypeCode(vantri::photogrammetry::kPassportCodeCVC);
  if (format == kHeaderRDR) passport = CreateForTypeCode(vantri::photogrammetry::kPassportCodeRDR);
  if (!passport || !passport->Load(path)) return nullptr;
  return passport;
}

int CCameraPassport::Save(const std::string& path) const {
  vantri::system::TextRecord record(HeaderForCode(TypeCode()), kPassportFileVersion);
  WriteFields(*this, false, &record);
  if (TypeCode() != vantri::photogrammetry::kPassportCodeRDR)
    WriteCoefficients(StoredCoefficients(), &record);
  return record.Save(path);
}

int CCameraPassport::Load(const std::string& path) {
  vantri::system::TextRecord record(HeaderForCode(TypeCode()), kPassportFileVersion);
  if (!record.Load(path)) return 0;
  std::unique_ptr<CCameraPassport> scratch = Clone();
  std::array<double, 5> coefficients{};
  if (!ReadFields(record, false, scratch.get())) return 0;
  if (TypeCode() != vantri::photogrammetry::kPassportCodeRDR &&
      !ReadCoefficients(record, &coefficients))
    return 0;
  model = scratch->model;
  camera_serial = scratch->camera_serial;
  lens_serial = scratch->lens_serial;
  lens_constant = scratch->lens_constant;
  calibration_date = scratch->calibration_date;
  focal_mm = scratch->focal_mm;
  pixel_mm = scratch->pixel_mm;
  ppx = scratch->ppx;
  ppy = scratch->ppy;
  width = scratch->width;
  height = scratch->height;
  SetStoredCoefficients(coefficients);
  return 1;
}

int CCameraPassport::Serialize(std::ostream& out) const {
  WriteBinary<std::int32_t>(out, kSerialFormVersion);
  WriteBinaryText(out, model);
  WriteBinaryText(out, camera_serial);
  WriteBinaryText(out, lens_serial);
  WriteBinaryText(out, calibration_date);
  WriteBinary<std::int32_t>(out, lens_constant);
  for (double value : {focal_mm, pixel_mm, ppx, ppy}) WriteBinary<double>(out, value);
  WriteBinary<std::int32_t>(out, width);
  WriteBinary<std::int32_t>(out, height);
  for (double value : StoredCoefficients()) WriteBinary<double>(out, value);
  return out.good() ? 1 : 0;
}

int CCameraPassport::Deserialize(std::istream& in) {
  std::int32_t form_version = 0, constant = 0, raster_width = 0, raster_height = 0;
  std::string texts[4];
  double numbers[4];
  std::array<double, 5> coefficients{};
  if (!ReadBinary(in, &form_version) || form_version < 1 || form_version > kSerialFormVersion)
    return 0;
  for (std::string& text : texts) {
    if (!ReadBinaryText(in, &text)) return 0;
  }
  if (!ReadBinary(in, &constant)) return 0;
  for (double& number : numbers) {
    if (!ReadBinary(in, &number)) return 0;
  }
  if (!ReadBinary(in, &raster_width) || !ReadBinary(in, &raster_height)) return 0;
  for (double& coefficient : coefficients) {
    if (!ReadBinary(in, &coefficient)) return 0;
  }
  model = texts[0];
  camera_serial = texts[1];
  lens_serial = texts[2];
  calibration_date = texts[3];
  lens_constant = constant;
  focal_mm = numbers[0];
  pixel_mm = numbers[1];
  ppx = numbers[2];
  ppy = numbers[3];
  width = raster_width;
  height = raster_height;
  SetStoredCoefficients(coefficients);
  return 1;
}

bool CCameraPassport::SameAs(const CCameraPassport& other) const {
  return TypeCode() == other.TypeCode() && model == other.model &&
         camera_serial == other.camera_serial && lens_serial == other.lens_serial &&
         lens_constant == other.lens_constant && calibration_date == other.calibration_date &&
         focal_mm == other.focal_mm && pixel_mm == other.pixel_mm && ppx == other.ppx &&
         ppy == other.ppy && width == other.width && height == other.height &&
         StoredCoefficients() == other.StoredCoefficients();
}

// --- CBCCCameraPassport ------------------------------------------------------------------------

int CBCCCameraPassport::Open(const std::string& path) {
  std::unique_ptr<CCameraPassport> opened = New(path);
  if (!opened) return 0;
  const vantri::photogrammetry::DistortionCoefficients converted = opened->MetricCoefficients();
  static_cast<CCameraPassport&>(*this) = static_cast<const CCameraPassport&>(*opened);
  metric = converted;
  return 1;
}

std::unique_ptr<CCameraPassport> CBCCCameraPassport::Clone() const {
  return std::make_unique<CBCCCameraPassport>(*this);
}

vantri::photogrammetry::DistortionCoefficients CBCCCameraPassport::NormalisedCoefficients() const {
  return vantri::photogrammetry::MetricToNormalised(metric, focal_mm);
}

std::array<double, 5> CBCCCameraPassport::StoredCoefficients() const {
  return {metric.k1, metric.k2, metric.k3, metric.p1, metric.p2};
}

void CBCCCameraPassport::SetStoredCoefficients(const std::array<double, 5>& values) {
  metric = {values[0], values[1], values[2], values[3], values[4]};
}

// --- CCVCCameraPassport ------------------------------------------------------------------------

std::unique_ptr<CCameraPassport> CCVCCameraPassport::Clone() const {
  return std::make_unique<CCVCCameraPassport>(*this);
}

vantri::photogrammetry::DistortionCoefficients CCVCCameraPassport::NormalisedCoefficients() const {
  const std::array<double, 5>& m = coefficient_matrix;
  return {m[0], m[1], m[4], m[2], m[3]};
}

vantri::photogrammetry::DistortionCoefficients CCVCCameraPassport::MetricCoefficients() const {
  return vantri::photogrammetry::NormalisedToMetric(NormalisedCoefficients(), focal_mm);
}

void CCVCCameraPassport::SetNormalisedCoefficients(
    const vantri::photogrammetry::DistortionCoefficients& n) {
  coefficient_matrix = {n.k1, n.k2, n.p1, n.p2, n.k3};
}

std::array<double, 5> CCVCCameraPassport::StoredCoefficients() const {
  const vantri::photogrammetry::DistortionCoefficients n = NormalisedCoefficients();
  return {n.k1, n.k2, n.k3, n.p1, n.p2};
}

void CCVCCameraPassport::SetStoredCoefficients(const std::array<double, 5>& values) {
  SetNormalisedCoefficients({values[0], values[1], values[2], values[3], values[4]});
}

// --- CRDRCameraPassport ------------------------------------------------------------------------

std::unique_ptr<CCameraPassport> CRDRCameraPassport::Clone() const {
  return std::make_unique<CRDRCameraPassport>(*this);
}

// --- ccb conversions ---------------------------------------------------------------------------

int CCBtoBCC(const std::string& ccb_path, CBCCCameraPassport* passport) {
  if (passport == nullptr) return 0;
  vantri::system::TextRecord record(kHeaderCCB, kPassportFileVersion);
  if (!record.Load(ccb_path)) return 0;
  CBCCCameraPassport scratch;
  std::array<double, 5> coefficients{};
  if (!ReadFields(record, true, &scratch) || !ReadCoefficients(record, &coefficients)) return 0;
  scratch.metric = {coefficients[0], coefficients[1], coefficients[2], coefficients[3],
                    coefficients[4]};
  *passport = scratch;
  return 1;
}

int BCCtoCCB(const CBCCCameraPassport& passport, const std::string& ccb_path) {
  vantri::system::TextRecord record(kHeaderCCB, kPassportFileVersion);
  WriteFields(passport, true, &record);
  const vantri::photogrammetry::DistortionCoefficients& m = passport.metric;
  WriteCoefficients({m.k1, m.k2, m.k3, m.p1, m.p2}, &record);
  return record.Save(ccb_path);
}

int CCBtoBCC(const std::string& ccb_path, const std::string& bcc_path) {
  CBCCCameraPassport passport;
  return CCBtoBCC(ccb_path, &passport) && passport.Save(bcc_path) ? 1 : 0;
}

int BCCtoCCB(const std::string& bcc_path, const std::string& ccb_path) {
  CBCCCameraPassport passport;
  return passport.Open(bcc_path) && BCCtoCCB(passport, ccb_path) ? 1 : 0;
}
