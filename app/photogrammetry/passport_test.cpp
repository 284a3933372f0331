#include "photogrammetry/passport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "photogrammetry/point_collection.h"
#include "testing/temp_folder.h"

namespace {

using vantri::test_support::ReadFile;
using vantri::test_support::TempFolder;
using vantri::test_support::WriteFile;

void FillCommon(CCameraPassport* passport) {
  passport->model = "UltraCam Eagle = Mark 3";  // '=' inside a value
  passport->camera_serial = "UCE-M3-f100";
  passport->lens_serial = "L 4711";
  passport->lens_constant = 100;
  passport->calibration_date = "14-03-2024";
  passport->focal_mm = 100.50000000000001;
  passport->pixel_mm = 0.0046;
  passport->ppx = 6527.123456789;
  passport->ppy = 4215.2;
  passport->width = 13056;
  passport->height = 8430;
}

std::unique_ptr<CCameraPassport> SamplePassport(int code) {
  std::unique_ptr<CCameraPassport> passport = CCameraPassport::CreateForTypeCode(code);
  FillCommon(passport.get());
  if (auto* bcc = dynamic_cast<CBCCCameraPassport*>(passport.get()))
    bcc->metric = {-1.234e-5, 5.6e-9, -7.1e-13, 3.3e-6, -4.4e-7};
  if (auto* cvc = dynamic_cast<CCVCCameraPassport*>(passport.get()))
    cvc->SetNormalisedCoefficients({-0.11, 0.022, -0.0033, 0.00044, -0.000055});
  return passport;
}

class EveryPassportClass : public ::testing::TestWithParam<int> {};

TEST_P(EveryPassportClass, FileRoundTripKeepsClassAndEveryField) {
  TempFolder folder;
  const std::unique_ptr<CCameraPassport> original = SamplePassport(GetParam());
  const std::string path = folder / (std::string("camera.") + original->Extension());
  ASSERT_EQ(original->Save(path), 1);
  const std::unique_ptr<CCameraPassport> read = CCameraPassport::New(path);
  ASSERT_NE(read, nullptr);
  EXPECT_TRUE(read->SameAs(*original));
}

TEST_P(EveryPassportClass, SerialisedFormRoundTripsAndRefusesEveryTruncation) {
  const std::unique_ptr<CCameraPassport> original = SamplePassport(GetParam());
  std::ostringstream out(std::ios::binary);
  ASSERT_EQ(original->Serialize(out), 1);
  const std::string bytes = out.str();

  std::unique_ptr<CCameraPassport> read = CCameraPassport::CreateForTypeCode(GetParam());
  std::istringstream in(bytes, std::ios::binary);
  ASSERT_EQ(read->Deserialize(in), 1);
  EXPECT_TRUE(read->SameAs(*original));
  EXPECT_EQ(in.peek(), std::char_traits<char>::eof());  // consumed exactly its own bytes

  for (std::size_t length = 0; length < bytes.size(); length += 3) {
    std::unique_ptr<CCameraPassport> partial = CCameraPassport::CreateForTypeCode(GetParam());
    std::istringstream truncated(bytes.substr(0, length), std::ios::binary);
    EXPECT_EQ(partial->Deserialize(truncated), 0) << length;
    EXPECT_TRUE(partial->model.empty());  // untouched
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, EveryPassportClass,
                         ::testing::Values(vantri::photogrammetry::kPassportCodeBCC,
                                           vantri::photogrammetry::kPassportCodeCVC,
                                           vantri::photogrammetry::kPassportCodeRDR));

TEST(CameraPassport, TypeCodesAreThoseOfTheProjectFile) {
  EXPECT_EQ(CCameraPassport::CreateForTypeCode(0)->TypeCode(), 0);
  EXPECT_EQ(CCameraPassport::CreateForTypeCode(1)->TypeCode(), 1);
  EXPECT_EQ(CCameraPassport::CreateForTypeCode(3)->TypeCode(), 3);
  EXPECT_EQ(CCameraPassport::CreateForTypeCode(2), nullptr);
}

TEST(CameraPassport, ConventionsConvertBothWaysAndDistortionCanBeSwitchedOff) {
  const auto bcc = SamplePassport(vantri::photogrammetry::kPassportCodeBCC);
  const vantri::photogrammetry::DistortionCoefficients metric = bcc->MetricCoefficients();
  const vantri::photogrammetry::DistortionCoefficients normalised = bcc->NormalisedCoefficients();
  const double f = bcc->focal_mm / 1000.0;
  EXPECT_DOUBLE_EQ(normalised.k1, metric.k1 * f * f);
  EXPECT_DOUBLE_EQ(normalised.k2, metric.k2 * std::pow(f, 4));
  EXPECT_DOUBLE_EQ(normalised.k3, metric.k3 * std::pow(f, 6));
  EXPECT_DOUBLE_EQ(normalised.p2, metric.p2 * f * f);
  const vantri::photogrammetry::DistortionCoefficients back =
      vantri::photogrammetry::NormalisedToMetric(normalised, bcc->focal_mm);
  EXPECT_NEAR(back.k3, metric.k3, 1e-25);

  CCVCCameraPassport cvc;
  cvc.focal_mm = bcc->focal_mm;
  cvc.SetNormalisedCoefficients(normalised);
  EXPECT_EQ(cvc.coefficient_matrix[2], normalised.p1);  // K1 K2 P1 P2 K3
  EXPECT_EQ(cvc.coefficient_matrix[4], normalised.k3);
  EXPECT_NEAR(cvc.MetricCoefficients().k2, metric.k2, 1e-20);

  for (CCameraPassport* passport :
       {static_cast<CCameraPassport*>(bcc.get()), static_cast<CCameraPassport*>(&cvc)}) {
    EXPECT_TRUE(passport->HasLensDistortion());
    passport->SetDistortionFree();
    EXPECT_FALSE(passport->HasLensDistortion());
  }
  EXPECT_FALSE(SamplePassport(vantri::photogrammetry::kPassportCodeRDR)->HasLensDistortion());
}

TEST(CameraPassport, CcbStoresTextsEncodedAndConvertsBothWays) {
  TempFolder folder;
  const auto original = SamplePassport(vantri::photogrammetry::kPassportCodeBCC);
  const auto& bcc = static_cast<const CBCCCameraPassport&>(*original);
  ASSERT_EQ(BCCtoCCB(bcc, folder / "camera.ccb"), 1);
  const std::string content = ReadFile(folder / "camera.ccb");
  EXPECT_EQ(content.find("UltraCam"), std::string::npos);
  EXPECT_NE(content.find("VANTRI-PASSPORT-CCB 1"), std::string::npos);

  CBCCCameraPassport decoded;
  ASSERT_EQ(CCBtoBCC(folder / "camera.ccb", &decoded), 1);
  EXPECT_TRUE(decoded.SameAs(bcc));
  // New recognises a ccb by its extension; file-to-file conversions agree.
  ASSERT_NE(CCameraPassport::New(folder / "camera.ccb"), nullptr);
  ASSERT_EQ(CCBtoBCC(folder / "camera.ccb", folder / "back.bcc"), 1);
  ASSERT_EQ(BCCtoCCB(folder / "back.bcc", folder / "again.ccb"), 1);
  EXPECT_EQ(ReadFile(folder / "again.ccb"), content);
}

TEST(CameraPassport, BccOpenTakesAnyClassInMetricForm) {
  TempFolder folder;
  const auto cvc = SamplePassport(vantri::photogrammetry::kPassportCodeCVC);
  ASSERT_EQ(cvc->Save(folder / "camera.cvc"), 1);
  CBCCCameraPassport bcc;
  ASSERT_EQ(bcc.Open(folder / "camera.cvc"), 1);
  EXPECT_EQ(bcc.model, cvc->model);
  EXPECT_EQ(bcc.MetricCoefficients(), cvc->MetricCoefficients());
}

TEST(CameraPassport, AcceptsWindowsLineEndsAndRefusesDamagedFiles) {
  TempFolder folder;
  const auto original = SamplePassport(vantri::photogrammetry::kPassportCodeBCC);
  ASSERT_EQ(original->Save(folder / "unix.bcc"), 1);
  std::string crlf;
  for (char c : ReadFile(folder / "unix.bcc"))
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  WriteFile(folder / "windows.bcc", crlf);
  const auto from_windows = CCameraPassport::New(folder / "windows.bcc");
  ASSERT_NE(from_windows, nullptr);
  EXPECT_TRUE(from_windows->SameAs(*original));

  const std::string good = ReadFile(folder / "unix.bcc");
  const auto refused = [&](const std::string& content) {
    WriteFile(folder / "bad.bcc", content);
    return CCameraPassport::New(folder / "bad.bcc") == nullptr;
  };
  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused("VANTRI-PASSPORT-BCC 2\n" + good.substr(good.find('\n') + 1)));  // newer
  EXPECT_TRUE(refused("SOMETHING-ELSE 1\n"));
  std::string no_width = good;
  no_width.erase(no_width.find("width="),
                 no_width.find('\n', no_width.find("width=")) + 1 - no_width.find("width="));
  EXPECT_TRUE(refused(no_width));
  std::string bad_number = good;
  bad_number.replace(bad_number.find("focal_mm=") + 9, 3, "1x0");
  EXPECT_TRUE(refused(bad_number));
  EXPECT_EQ(CCameraPassport::New(folder / "missing.bcc"), nullptr);

  // A failed Load leaves the object unchanged.
  CBCCCameraPassport kept = static_cast<const CBCCCameraPassport&>(*original);
  EXPECT_EQ(kept.Load(folder / "bad.bcc"), 0);
  EXPECT_TRUE(kept.SameAs(*original));
}

// --- Point collections -----------------------------------------------------------------------

CGCPCollMap SamplePoints() {
  CGCPCollMap points;
  CGCPCollEx a;
  a.id = 100001;
  a.name = "GCP 12";
  a.x = 512345.6789;
  a.y = 4987654.3211;
  a.z = 123.456;
  a.res_x = 0.01;
  a.res_y = -0.02;
  a.res_z = 0.125;
  a.xy_var = 0.0004;
  a.use = true;
  a.measurements = {{0, 10.5, -20.25}, {3, -1999.75, 1499.5}};
  CGCPCollEx b;
  b.id = 100002;
  b.name = "cp=7";
  b.z_var = 0.09;
  points.emplace(a.name, a);
  points.emplace(b.name, b);
  return points;
}

TEST(PointCollectionFile, RoundTripsEveryFieldIncludingUndefinedVariances) {
  TempFolder folder;
  const CGCPCollMap original = SamplePoints();
  int calls = 0;
  ASSERT_EQ(WritePTCollFile(folder / "GCP.col", original, [&](int, int) { ++calls; }), 1);
  EXPECT_EQ(calls, 2);
  CGCPCollMap read;
  ASSERT_EQ(ReadGcpFiles(folder.path() + "/", &read), 1);
  EXPECT_EQ(read, original);
  EXPECT_EQ(read.at("cp=7").xy_var, vantri::photogrammetry::kUndefinedVariance);
  EXPECT_EQ(read.count("gcp 12"), 1u);              // names compare without case
  EXPECT_EQ(ReadCpFiles(folder.path(), &read), 0);  // no CP.col
}

TEST(PointCollectionFile, DamagedFilesLeaveTheMapUnchanged) {
  TempFolder folder;
  ASSERT_EQ(WritePTCollFile(folder / "CP.col", SamplePoints()), 1);
  const std::string good = ReadFile(folder / "CP.col");
  const CGCPCollMap before = SamplePoints();
  const auto refused = [&](const std::string& content) {
    WriteFile(folder / "CP.col", content);
    CGCPCollMap points = before;
    return ReadCpFiles(folder.path(), &points) == 0 && points == before;
  };
  EXPECT_TRUE(refused(good.substr(0, good.size() / 2)));          // truncated
  EXPECT_TRUE(refused(good.substr(0, good.rfind("end point"))));  // no end
  std::string miscounted = good;
  miscounted.replace(miscounted.find("measurements=2"), 14, "measurements=3");
  EXPECT_TRUE(refused(miscounted));
  std::string duplicate = good;
  duplicate.replace(duplicate.find("name=cp=7"), 9, "name=gcp 12");  // same name, other case
  EXPECT_TRUE(refused(duplicate));
  EXPECT_TRUE(refused("VANTRI-PASSPORT-BCC 1\n"));
  // Found by fuzzing: an image index beyond int was converted before the range check (UB).
  for (const char* index : {"18545261604", "2147483648", "1e308", "-1", "2.5"}) {
    std::string huge_index = good;
    const size_t at = huge_index.find("\nm=") + 3;
    huge_index.replace(at, huge_index.find(' ', at) - at, index);
    EXPECT_TRUE(refused(huge_index)) << index;
  }
}

}  // namespace
