#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>

#include "blockgen.h"
#include "raster_outputs.h"
#include "test_folder.h"

namespace blockgen {
namespace {

namespace fs = std::filesystem;

BlockOptions small_block(const std::string& out) {
  BlockOptions o;
  o.out_dir = out;
  o.strips = 2;
  o.images_per_strip = 4;
  o.camera.width = 320;
  o.camera.height = 240;
  o.camera.pp_col = 160;
  o.camera.pp_row = 120;
  o.tie_points = 60;
  o.control_points = 4;
  o.check_points = 2;
  o.forward_overlap = 0.65;
  o.side_overlap = 0.35;
  o.threads = 2;
  return o;
}

std::string fresh_folder(const std::string& name) { return fresh_test_folder(name); }

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> folder_contents(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = read_file(e.path());
  return files;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

TEST(BlockTest, SameSeedGivesTheSameBytesWhateverTheThreads) {
  BlockOptions a = small_block(fresh_folder("same_a"));
  BlockOptions b = small_block(fresh_folder("same_b"));
  a.threads = 1;
  b.threads = 3;
  std::ostringstream log;
  generate_block(a, log);
  generate_block(b, log);
  const auto first = folder_contents(a.out_dir), second = folder_contents(b.out_dir);
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [name, bytes] : first) {
    ASSERT_TRUE(second.count(name)) << name;
    EXPECT_TRUE(second.at(name) == bytes) << name << " differs";
    EXPECT_EQ(name.find(".part"), std::string::npos) << "temporary left: " << name;
  }
  for (const char* expected :
       {"truth.json", "dem.tif", "gps_imu.txt", "gcp.txt", "cp.txt", "camera.bcc",
        "engine/block.inp", "images/101.jpg", "images/204.jpg"})
    EXPECT_TRUE(first.count(expected)) << expected;

  BlockOptions c = small_block(fresh_folder("other_seed"));
  c.seed = 2;
  c.write_images = false;
  generate_block(c, log);
  EXPECT_NE(read_file(fs::path(c.out_dir) / "gps_imu.txt"), first.at("gps_imu.txt"));
}

// The engine's model written out independently: ext-ori-opk-rot rotation (radians), CCD pixels
// with c0 = (nc - 1) / 2, reduced coordinates u = -c U / N with (U, V, N) = R^T (P - X0), and
// the radial and decentering AP sets in metres.
struct EngineCamera {
  double c = 0, xp = 0, yp = 0, sc = 0, sr = 0, c0 = 0, r0 = 0;
  double k[3] = {0, 0, 0}, p[2] = {0, 0};
};

Eigen::Vector2d engine_pixel_of(const EngineCamera& cam, const Eigen::Vector3d& x0, double om,
                                double ph, double ka, const Eigen::Vector3d& point) {
  const double s1 = std::sin(om), c1 = std::cos(om), s2 = std::sin(ph), c2 = std::cos(ph);
  const double s3 = std::sin(ka), c3 = std::cos(ka);
  Eigen::Matrix3d r;
  r << c3 * c2, -c2 * s3, s2, s2 * s1 * c3 + c1 * s3, c3 * c1 - s2 * s1 * s3, -c2 * s1,
      s3 * s1 - s2 * c1 * c3, c3 * s1 + s3 * s2 * c1, c1 * c2;
  const Eigen::Vector3d uvn = r.transpose() * (point - x0);
  const double u = -cam.c * uvn.x() / uvn.z(), v = -cam.c * uvn.y() / uvn.z();
  const double r2 = u * u + v * v;
  const double radial = cam.k[0] * r2 + cam.k[1] * r2 * r2 + cam.k[2] * r2 * r2 * r2;
  const double x = cam.xp + u + u * radial + cam.p[0] * (3 * u * u + v * v) + cam.p[1] * 2 * u * v;
  const double y = cam.yp + v + v * radial + cam.p[0] * 2 * u * v + cam.p[1] * (u * u + 3 * v * v);
  return {x / cam.sc + cam.c0, cam.r0 - y / cam.sr};
}

struct EngineBlock {
  EngineCamera camera;
  std::map<std::string, std::string> files;                 // keyword -> file name
  std::map<std::string, std::vector<double>> orientations;  // X Y Z omega phi kappa (rad)
  struct Measurement {
    std::string image, point;
    double c, r, sc, sr;
  };
  std::vector<Measurement> measurements;
  std::map<std::string, std::vector<double>> objects;  // X Y Z sX sY sZ
  std::map<std::string, std::string> support;          // point -> "ch xyz"
};

// Reads the generated engine input with the engine's token grammar.
EngineBlock read_engine_input(const fs::path& folder) {
  EngineBlock block;
  const auto main = words(read_file(folder / "block.inp"));
  size_t i = 0;
  for (; i + 1 < main.size() && main[i] != "stop-dep"; i += 2) {
    block.files[main[i]] = main[i + 1];
    EXPECT_TRUE(fs::exists(folder / main[i + 1])) << main[i + 1];
  }
  EXPECT_EQ(main.at(i), "stop-dep");
  auto file = [&](const std::string& keyword) {
    return words(read_file(folder / block.files.at(keyword)));
  };

  const auto cam = file("camera");
  EXPECT_EQ(cam.at(0), "camera-ccd");
  EngineCamera& c = block.camera;
  c.c = std::stod(cam.at(3)) * 1e-3;
  c.xp = std::stod(cam.at(4)) * 1e-3;
  c.yp = std::stod(cam.at(5)) * 1e-3;
  const int nc = std::stoi(cam.at(6)), nr = std::stoi(cam.at(7));
  c.sc = std::stod(cam.at(8)) * 1e-6;
  c.sr = std::stod(cam.at(9)) * 1e-6;
  c.c0 = (nc - 1) * 0.5;
  c.r0 = (nr - 1) * 0.5;
  EXPECT_EQ(cam.at(10), "stop-dep");
  if (block.files.count("ap-set")) {
    const auto ap = file("ap-set");
    EXPECT_EQ(ap.at(0), "radial-dist");
    for (int k = 0; k < 3; ++k) c.k[k] = std::stod(ap.at(3 + 2 * k));
    EXPECT_EQ(ap.at(9), "decentering-dist");
    for (int k = 0; k < 2; ++k) c.p[k] = std::stod(ap.at(12 + 2 * k));
  }

  const auto eo = file("ext-ori");
  EXPECT_EQ(eo.at(0), "indiv-type");
  size_t k = 1;
  for (; eo.at(k) != "stop-dep"; k += 16) {
    EXPECT_EQ(eo.at(k), "ext-ori-opk-rot");
    EXPECT_EQ(eo.at(k + 2), "deg");
    const double f = std::numbers::pi / 180.0;
    block.orientations[eo.at(k + 1)] = {std::stod(eo.at(k + 4)),      std::stod(eo.at(k + 5)),
                                        std::stod(eo.at(k + 6)),      std::stod(eo.at(k + 10)) * f,
                                        std::stod(eo.at(k + 11)) * f, std::stod(eo.at(k + 12)) * f};
  }

  const auto ic = file("image-crds");
  for (k = 0; ic.at(k) != "stop-dep";) {
    const std::string image = ic.at(k);
    EXPECT_EQ(std::stod(ic.at(k + 1)), 1.0);
    for (k += 2; ic.at(k) != "stop-dep"; k += 5)
      block.measurements.push_back({image, ic.at(k), std::stod(ic.at(k + 1)),
                                    std::stod(ic.at(k + 2)), std::stod(ic.at(k + 3)),
                                    std::stod(ic.at(k + 4))});
    ++k;
  }

  const auto oc = file("obj-crds");
  EXPECT_EQ(oc.at(0), "indiv-sdev");
  for (k = 1; oc.at(k) != "stop-dep"; k += 7) {
    std::vector<double> v;
    for (int j = 1; j <= 6; ++j) v.push_back(std::stod(oc.at(k + j)));
    block.objects[oc.at(k)] = v;
  }
  std::istringstream cs(read_file(folder / block.files.at("ctrl-supp")));
  for (std::string line; std::getline(cs, line);) {
    const auto w = words(line);
    if (w.empty() || w[0][0] == '#' || w[0] == "stop-dep") continue;
    block.support[w.at(0)] = w.at(1) + " " + w.at(2);
  }
  return block;
}

void expect_engine_reproduces_measurements(const BlockOptions& options) {
  std::ostringstream log;
  generate_block(options, log);
  const Survey survey = plan_survey(options);
  const EngineBlock block = read_engine_input(fs::path(options.out_dir) / "engine");
  std::map<std::string, const ImageRecord*> images;
  for (const ImageRecord& im : survey.images) images[im.id] = &im;
  std::map<std::string, const GroundPoint*> points;
  for (const GroundPoint& p : survey.points) points[p.id] = &p;

  ASSERT_EQ(block.measurements.size(), survey.observations.size());
  double sum2 = 0, worst = 0;
  for (const auto& m : block.measurements) {
    const ImageRecord& im = *images.at(m.image);
    const Eigen::Vector2d p =
        engine_pixel_of(block.camera, im.truth.centre, im.truth.omega, im.truth.phi, im.truth.kappa,
                        points.at(m.point)->truth);
    const double dc = m.c - p.x(), dr = m.r - p.y();
    sum2 += dc * dc + dr * dr;
    worst = std::max({worst, std::abs(dc), std::abs(dr)});
    EXPECT_DOUBLE_EQ(m.sc, options.pixel_noise);
  }
  // Residuals against the truth are the chosen measurement noise, nothing more.
  const double rms = std::sqrt(sum2 / (2.0 * block.measurements.size()));
  EXPECT_GT(rms, 0.7 * options.pixel_noise);
  EXPECT_LT(rms, 1.3 * options.pixel_noise);
  EXPECT_LT(worst, 5.0 * options.pixel_noise);

  // Approximate orientations are the GPS/IMU values, close to the truth.
  ASSERT_EQ(block.orientations.size(), survey.images.size());
  for (const auto& [id, eo] : block.orientations) {
    const ImageRecord& im = *images.at(id);
    EXPECT_LT((Eigen::Vector3d(eo[0], eo[1], eo[2]) - im.truth.centre).norm(), 0.5);
    EXPECT_NEAR(eo[3], im.truth.omega, 1e-3);
    EXPECT_NEAR(std::remainder(eo[5] - im.truth.kappa, 2 * std::numbers::pi), 0.0, 1e-3);
  }
  // Control points are observed, check points are free and marked for the check analysis.
  for (const GroundPoint& p : survey.points) {
    if (p.kind == PointKind::kTie) {
      EXPECT_FALSE(block.objects.count(p.id));
      continue;
    }
    const std::vector<double>& o = block.objects.at(p.id);
    EXPECT_LT((Eigen::Vector3d(o[0], o[1], o[2]) - p.truth).norm(), 6 * options.control_noise);
    if (p.kind == PointKind::kControl) {
      EXPECT_DOUBLE_EQ(o[5], options.control_noise);
      EXPECT_FALSE(block.support.count(p.id));
    } else {
      EXPECT_GT(o[5], 1e30);
      EXPECT_EQ(block.support.at(p.id), "ch xyz");
    }
  }
}

TEST(EngineInputTest, ReadThroughTheEngineModelItGivesTheTrueProjectionsPlusNoise) {
  BlockOptions o = small_block(fresh_folder("engine_plain"));
  o.write_images = false;
  expect_engine_reproduces_measurements(o);
}

TEST(EngineInputTest, DistortionAndAnOffsetPrincipalPointAreCarriedIntoTheEngineModel) {
  BlockOptions o = small_block(fresh_folder("engine_distorted"));
  o.write_images = false;
  o.pixel_noise = 0.2;
  o.camera.pp_col = 171.25;
  o.camera.pp_row = 112.5;
  // About 2 pixels at the corners: far above the measurement noise.
  o.camera.distortion = {8e-3, -3e-5, 2e-8, 1.5e-4, -2.5e-4};
  expect_engine_reproduces_measurements(o);
}

class GeoTiff {
 public:
  explicit GeoTiff(const std::string& path) {
    GDALAllRegister();
    d_.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    EXPECT_TRUE(d_) << path;
    d_->GetGeoTransform(t_);
    cols_ = d_->GetRasterXSize();
    rows_ = d_->GetRasterYSize();
    values_.resize(static_cast<size_t>(cols_) * rows_);
    EXPECT_EQ(d_->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cols_, rows_, values_.data(), cols_,
                                             rows_, GDT_Float64, 0, 0),
              CE_None);
  }
  GDALDataset& dataset() { return *d_; }
  const double* transform() const { return t_; }
  int cols() const { return cols_; }
  int rows() const { return rows_; }
  double at(int c, int r) const { return values_[static_cast<size_t>(r) * cols_ + c]; }
  // Bilinear between cell centres.
  double bilinear(double x, double y) const {
    const double fc = (x - t_[0]) / t_[1] - 0.5, fr = (y - t_[3]) / t_[5] - 0.5;
    const int c = static_cast<int>(std::floor(fc)), r = static_cast<int>(std::floor(fr));
    const double tc = fc - c, tr = fr - r;
    return (at(c, r) * (1 - tc) + at(c + 1, r) * tc) * (1 - tr) +
           (at(c, r + 1) * (1 - tc) + at(c + 1, r + 1) * tc) * tr;
  }

 private:
  struct Closer {
    void operator()(GDALDataset* d) const { GDALClose(d); }
  };
  std::unique_ptr<GDALDataset, Closer> d_;
  double t_[6] = {};
  int cols_ = 0, rows_ = 0;
  std::vector<double> values_;
};

TEST(TerrainFilesTest, SrtmTileAndDemAgreeInHeight) {
  BlockOptions o = small_block(fresh_folder("terrain"));
  o.write_images = false;
  std::ostringstream log;
  generate_block(o, log);
  const Survey survey = plan_survey(o);
  GeoTiff dem(o.out_dir + "/dem.tif");
  EXPECT_EQ(dem.dataset().GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
  EXPECT_STREQ(dem.dataset().GetSpatialRef()->GetAuthorityCode(nullptr), "32632");
  const fs::path srtm_dir = fs::path(o.out_dir) / "srtm";
  const fs::path tile = fs::directory_iterator(srtm_dir)->path();
  EXPECT_EQ(tile.filename().string().substr(0, 1), "N");
  GeoTiff srtm(tile.string());
  EXPECT_EQ(srtm.dataset().GetRasterBand(1)->GetRasterDataType(), GDT_Int16);
  EXPECT_NEAR(srtm.transform()[1], 1.0 / 3600.0, 1e-12);
  int has_nodata = 0;
  EXPECT_EQ(srtm.dataset().GetRasterBand(1)->GetNoDataValue(&has_nodata), kSrtmNoData);
  EXPECT_TRUE(has_nodata);

  OGRSpatialReference geographic, projected;
  geographic.importFromEPSG(4326);
  projected.importFromEPSG(o.epsg);
  geographic.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  projected.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> to_projected(
      OGRCreateCoordinateTransformation(&geographic, &projected));
  int voids = 0, compared = 0;
  double west = 1e300, east = -1e300, south = 1e300, north = -1e300;
  for (int r = 0; r < srtm.rows(); ++r) {
    for (int c = 0; c < srtm.cols(); ++c) {
      double x = srtm.transform()[0] + (c + 0.5) * srtm.transform()[1];
      double y = srtm.transform()[3] + (r + 0.5) * srtm.transform()[5];
      ASSERT_TRUE(to_projected->Transform(1, &x, &y));
      west = std::min(west, x), east = std::max(east, x);
      south = std::min(south, y), north = std::max(north, y);
      const GroundBox& block = survey.block_box;
      const bool in_block =
          x > block.min_east && x < block.max_east && y > block.min_north && y < block.max_north;
      if (srtm.at(c, r) == kSrtmNoData) {
        ++voids;
        EXPECT_FALSE(in_block) << "void inside the block at " << c << "," << r;
        continue;
      }
      // Rounded to whole metres from the same surface.
      EXPECT_NEAR(srtm.at(c, r), dem.bilinear(x, y), 0.5 + 1e-3);
      ++compared;
    }
  }
  EXPECT_GE(voids, 1);
  EXPECT_GT(compared, 100);
  // The tile covers the block with a margin.
  EXPECT_LT(west, survey.block_box.min_east);
  EXPECT_GT(east, survey.block_box.max_east);
  EXPECT_LT(south, survey.block_box.min_north);
  EXPECT_GT(north, survey.block_box.max_north);
}

TEST(TextFilesTest, CameraPassportHoldsTheRenderedCameraExactly) {
  BlockOptions o = small_block(fresh_folder("passport"));
  o.write_images = false;
  o.camera.pp_col = 161.3;
  o.camera.pp_row = 118.7;
  o.camera.distortion = {1.2e-3, -3e-6, 2e-9, 1.5e-5, -2.5e-5};
  std::ostringstream log;
  generate_block(o, log);
  std::istringstream in(read_file(fs::path(o.out_dir) / "camera.bcc"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "VANTRI-PASSPORT-BCC 1");
  std::map<std::string, std::string> fields;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << line;
    fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  for (const char* key :
       {"model", "camera_serial", "lens_serial", "lens_constant", "calibration_date", "focal_mm",
        "pixel_mm", "ppx", "ppy", "width", "height", "k1", "k2", "k3", "p1", "p2"})
    EXPECT_TRUE(fields.count(key)) << key;
  EXPECT_EQ(std::stod(fields["focal_mm"]), o.camera.focal_mm);
  EXPECT_EQ(std::stod(fields["pixel_mm"]), o.camera.pixel_mm);
  EXPECT_EQ(std::stod(fields["ppx"]), o.camera.pp_col);
  EXPECT_EQ(std::stod(fields["ppy"]), o.camera.pp_row);
  EXPECT_EQ(std::stoi(fields["width"]), o.camera.width);
  EXPECT_EQ(fields["calibration_date"].size(), 10u);  // dd-mm-yyyy
  const MetricDistortion m = metric_distortion(o.camera.distortion);
  EXPECT_EQ(std::stod(fields["k1"]), m.k1);
  EXPECT_EQ(std::stod(fields["p2"]), m.p2);
}

TEST(TextFilesTest, GpsImuAndControlFilesCarryTheTruthPlusTheirNoise) {
  BlockOptions o = small_block(fresh_folder("texts"));
  o.write_images = false;
  o.gps_noise = 0.1;
  o.gps_drift = 2.0;
  std::ostringstream log;
  generate_block(o, log);
  const Survey survey = plan_survey(o);
  std::istringstream gps(read_file(fs::path(o.out_dir) / "gps_imu.txt"));
  std::string line;
  std::getline(gps, line);
  EXPECT_EQ(line.rfind("# ID,X,Y,Z,omega,phi,kappa", 0), 0u);
  EXPECT_NE(line.find("R = Rx(omega)*Ry(phi)*Rz(kappa)"), std::string::npos);
  size_t n = 0;
  for (; std::getline(gps, line); ++n) {
    std::replace(line.begin(), line.end(), ',', ' ');
    const auto w = words(line);
    ASSERT_EQ(w.size(), 7u);
    const ImageRecord& im = survey.images.at(n);
    EXPECT_EQ(w[0], im.id);
    const Eigen::Vector3d xyz(std::stod(w[1]), std::stod(w[2]), std::stod(w[3]));
    // The drift grows along each strip up to gps_drift; noise adds at most a few sigma.
    const double along = im.exposure / double(o.images_per_strip - 1);
    EXPECT_LT((xyz - im.truth.centre).norm(), along * o.gps_drift + 5 * o.gps_noise);
    EXPECT_NEAR(std::stod(w[6]), degrees(im.truth.kappa), 5 * o.imu_noise + 1e-6);
  }
  EXPECT_EQ(n, survey.images.size());
  // True image measurements of control points agree with the camera model both ways.
  std::istringstream gcp(read_file(fs::path(o.out_dir) / "gcp_image.txt"));
  std::getline(gcp, line);
  size_t rows = 0;
  for (; std::getline(gcp, line); ++rows) {
    std::replace(line.begin(), line.end(), ',', ' ');
    const auto w = words(line);
    ASSERT_EQ(w.size(), 6u);
    const Centred c = survey.camera().centred_from_pixel({std::stod(w[2]), std::stod(w[3])});
    EXPECT_NEAR(c.x_mm, std::stod(w[4]), 2e-6);
    EXPECT_NEAR(c.y_mm, std::stod(w[5]), 2e-6);
  }
  EXPECT_EQ(rows, static_cast<size_t>(std::count_if(
                      survey.observations.begin(), survey.observations.end(), [&](auto& ob) {
                        return survey.points[ob.point].kind == PointKind::kControl;
                      })));
}

TEST(SampleBlockTest, CommittedSampleIsWhatTheDefaultOptionsGenerate) {
  const std::string out = fresh_folder("sample");
  const ParsedArguments parsed = parse_arguments({"--out", out, "--no-images"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  std::ostringstream log;
  generate_block(parsed.options, log);
  const fs::path sample = fs::path("..") / ".." / "examples" / "sample-block";
  const auto committed = folder_contents(sample.string());
  ASSERT_GE(committed.size(), 10u);
  for (const auto& [name, bytes] : committed)
    EXPECT_TRUE(read_file(fs::path(out) / name) == bytes)
        << name << " differs: regenerate examples/sample-block (see tools/blockgen/README.md)";
}

}  // namespace
}  // namespace blockgen
