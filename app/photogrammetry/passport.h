// Camera passports: the calibration of the one camera of a project.
//
// Units: focal length and pixel size in mm; principal point in pixels of the full raster, origin at
// the top-left corner of the top-left pixel, x to the right (column), y down (row); raster size in
// pixels. Distortion coefficients come in two conventions related by
//   normalised = metric * (f / 1000)^n,   n = 2 for K1, 4 for K2, 6 for K3, 2 for P1 and P2,
// with f the focal length in mm. A CBCCCameraPassport keeps the metric values, a
// CCVCCameraPassport the normalised ones, a CRDRCameraPassport none (all zero).
//
// Files: plain versioned text (docs/formats.md). `Save` writes through a temporary file and a
// rename. Every operation returns 1 (non-zero) on success and 0 on failure; none throws.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <string>

namespace vantri::photogrammetry {

// Type codes of the serialised form inside the project file.
constexpr int kPassportCodeBCC = 0;
constexpr int kPassportCodeCVC = 1;
constexpr int kPassportCodeRDR = 3;

struct DistortionCoefficients {
  double k1 = 0.0, k2 = 0.0, k3 = 0.0, p1 = 0.0, p2 = 0.0;
  bool operator==(const DistortionCoefficients&) const = default;
  bool IsZero() const { return k1 == 0.0 && k2 == 0.0 && k3 == 0.0 && p1 == 0.0 && p2 == 0.0; }
};

// metric -> normalised and back for focal length f (mm).
DistortionCoefficients MetricToNormalised(const DistortionCoefficients& metric, double focal_mm);
DistortionCoefficients NormalisedToMetric(const DistortionCoefficients& normalised,
                                          double focal_mm);
}  // namespace vantri::photogrammetry

class CCameraPassport {
 public:
  virtual ~CCameraPassport() = default;

  // Opens a passport file (bcc, cvc or rdr; the class follows the file's header line, the
  // extension is not trusted). A ".ccb" file is decoded as by CCBtoBCC. Null on failure.
  static std::unique_ptr<CCameraPassport> New(const std::string& path);
  // An empty passport of the class with this project-file type code; null for other codes.
  static std::unique_ptr<CCameraPassport> CreateForTypeCode(int code);

  virtual std::unique_ptr<CCameraPassport> Clone() const = 0;
  // 0 (bcc), 1 (cvc) or 3 (rdr).
  virtual int TypeCode() const = 0;
  // "bcc", "cvc" or "rdr".
  virtual const char* Extension() const = 0;

  virtual vantri::photogrammetry::DistortionCoefficients MetricCoefficients() const = 0;
  virtual vantri::photogrammetry::DistortionCoefficients NormalisedCoefficients() const = 0;
  // True when any distortion coefficient is non-zero.
  bool HasLensDistortion() const { return !MetricCoefficients().IsZero(); }
  // Sets every distortion coefficient to 0 (the passport of undistorted images).
  virtual void SetDistortionFree() = 0;

  // Passport file of this class. Load fails on a missing file, a wrong header, an unknown
  // version or a field that does not convert; the object is unchanged then.
  int Save(const std::string& path) const;
  int Load(const std::string& path);

  // Binary form inside the project file (little-endian; texts with the project file's length
  // prefix). Deserialize returns 0 on a truncated or malformed stream, object unchanged.
  int Serialize(std::ostream& out) const;
  int Deserialize(std::istream& in);

  // Field-by-field equality (class included).
  bool SameAs(const CCameraPassport& other) const;

  // Common fields.
  std::string model;
  std::string camera_serial;
  std::string lens_serial;
  int lens_constant = 0;         // nominal lens constant
  std::string calibration_date;  // "dd-mm-yyyy" as typed
  double focal_mm = 0.0;
  double pixel_mm = 0.0;
  double ppx = 0.0;  // principal point, pixels
  double ppy = 0.0;
  int width = 0;  // raster, pixels
  int height = 0;

  double FocalPixels() const { return pixel_mm > 0.0 ? focal_mm / pixel_mm : 0.0; }

 protected:
  // The five coefficients in the class's own convention, in file order K1 K2 K3 P1 P2.
  virtual std::array<double, 5> StoredCoefficients() const = 0;
  virtual void SetStoredCoefficients(const std::array<double, 5>& values) = 0;
};

// Metric distortion coefficients.
class CBCCCameraPassport : public CCameraPassport {
 public:
  // Reads a bcc file (or any passport file, converting its coefficients to metric).
  int Open(const std::string& path);

  std::unique_ptr<CCameraPassport> Clone() const override;
  int TypeCode() const override { return vantri::photogrammetry::kPassportCodeBCC; }
  const char* Extension() const override { return "bcc"; }
  vantri::photogrammetry::DistortionCoefficients MetricCoefficients() const override {
    return metric;
  }
  vantri::photogrammetry::DistortionCoefficients NormalisedCoefficients() const override;
  void SetDistortionFree() override { metric = {}; }

  vantri::photogrammetry::DistortionCoefficients metric;

 protected:
  std::array<double, 5> StoredCoefficients() const override;
  void SetStoredCoefficients(const std::array<double, 5>& values) override;
};

// Normalised distortion coefficients, kept in a coefficient matrix in the order K1 K2 P1 P2 K3.
class CCVCCameraPassport : public CCameraPassport {
 public:
  std::unique_ptr<CCameraPassport> Clone() const override;
  int TypeCode() const override { return vantri::photogrammetry::kPassportCodeCVC; }
  const char* Extension() const override { return "cvc"; }
  vantri::photogrammetry::DistortionCoefficients MetricCoefficients() const override;
  vantri::photogrammetry::DistortionCoefficients NormalisedCoefficients() const override;
  void SetDistortionFree() override { coefficient_matrix = {}; }
  void SetNormalisedCoefficients(const vantri::photogrammetry::DistortionCoefficients& normalised);

  std::array<double, 5> coefficient_matrix{};  // K1 K2 P1 P2 K3, normalised

 protected:
  std::array<double, 5> StoredCoefficients() const override;
  void SetStoredCoefficients(const std::array<double, 5>& values) override;
};

// Without distortion coefficients.
class CRDRCameraPassport : public CCameraPassport {
 public:
  std::unique_ptr<CCameraPassport> Clone() const override;
  int TypeCode() const override { return vantri::photogrammetry::kPassportCodeRDR; }
  const char* Extension() const override { return "rdr"; }
  vantri::photogrammetry::DistortionCoefficients MetricCoefficients() const override { return {}; }
  vantri::photogrammetry::DistortionCoefficients NormalisedCoefficients() const override {
    return {};
  }
  void SetDistortionFree() override {}

 protected:
  std::array<double, 5> StoredCoefficients() const override { return {}; }
  void SetStoredCoefficients(const std::array<double, 5>&) override {}
};

// The ccb archive form: a bcc passport whose text fields are stored encoded.
// CCBtoBCC reads a ccb file into `passport`; BCCtoCCB writes `passport` as a ccb file
// (temporary file + rename). The path forms convert file to file.
int CCBtoBCC(const std::string& ccb_path, CBCCCameraPassport* passport);
int BCCtoCCB(const CBCCCameraPassport& passport, const std::string& ccb_path);
int CCBtoBCC(const std::string& ccb_path, const std::string& bcc_path);
int BCCtoCCB(const std::string& bcc_path, const std::string& ccb_path);
