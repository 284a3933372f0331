#include "input/readers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "lsq/ls_params.h"
#include "models/ext_orientation.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

namespace fs = std::filesystem;
using testing::HasSubstr;

// Runs a reader on `text`, returns what it printed; checks its result.
template <class Reader>
std::string run(Reader reader, const std::string& text, int expected) {
  std::istringstream in(text);
  testing::internal::CaptureStdout();
  const int result = reader(in);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, expected) << text << "\nprinted: " << printed;
  return printed;
}

class ReadersTest : public testing::Test {
 protected:
  int readCameras(std::istream& in) { return readCameraFile(in, block_.cameras); }
  std::string cameras(const std::string& text, int expected) {
    return run([this](std::istream& in) { return readCameraFile(in, block_.cameras); }, text,
               expected);
  }
  std::string images(const std::string& text, int expected) {
    return run(
        [this](std::istream& in) { return readImageFile(in, block_.images, block_.cameras); }, text,
        expected);
  }
  std::string geometries(const std::string& text, int expected) {
    return run(
        [this](std::istream& in) {
          return readGeometryFile(in, block_.geometries, block_.settings);
        },
        text, expected);
  }
  std::string objects(const std::string& text, int expected) {
    return run(
        [this](std::istream& in) {
          return readObjectCoordinates(in, block_.objectPoints, block_.settings);
        },
        text, expected);
  }
  std::string support(const std::string& text, int expected) {
    return run(
        [this](std::istream& in) {
          return readControlSupport(in, block_.objectPoints, block_.settings);
        },
        text, expected);
  }

  Block block_;
};

TEST_F(ReadersTest, CameraFileReplacementAndErrors) {
  EXPECT_EQ(cameras("stop-dep camera-frame X", 1), "");
  EXPECT_EQ(block_.cameras.count(), 0);
  EXPECT_EQ(cameras("camera-frame K1 a 100 0 0 230 230\n"
                    "camera-ccd K2 b 35 (0,0) 4000 3000 6 6\n"
                    "camera-ccd-tr K1 c 50 0 0 100 200 5 5\n",
                    1),
            "ATTENTION: Camera K1 was replaced.\n");
  ASSERT_EQ(block_.cameras.entryCount(), 2);
  EXPECT_EQ(block_.cameras.at(0)->typeName(), "CCD-frame (top-right)");
  EXPECT_EQ(block_.cameras.at(0)->comment, "c");
  EXPECT_EQ(cameras("camera-fisheye K3", -1), "ERROR: Unknown camera type: camera-fisheye\n");
  EXPECT_EQ(cameras("camera-ccd K4 x 35 0 0 4000", -1), "ERROR: Reading camera K4 failed.\n");
  EXPECT_EQ(cameras("camera-frame", -1), "ERROR: Reading camera  failed.\n");
}

TEST_F(ReadersTest, ImageFileBindsCamerasReadBefore) {
  cameras("camera-frame K1 a 100 0 0 230 230", 1);
  EXPECT_EQ(images("image-frame I1 S1 K1 image-frame I2 S2 K1 image-frame I1 S3 K1", 1),
            "ATTENTION: BundleImage I1 was replaced.\n");
  EXPECT_EQ(block_.images.find("I1")->geometryId, "S3");
  EXPECT_EQ(block_.images.find("I1")->camera, block_.cameras.find("K1"));
  EXPECT_EQ(images("image-frame I3 S1 K9", -1),
            "ERROR: Attach camera K9 for image I3 not failed.\n"
            "ERROR: Reading image I3 failed.\n");
  EXPECT_EQ(images("image-frame I4 S1", -1), "ERROR: Reading image I4 failed.\n");
  EXPECT_EQ(images("image-scanner I5 S1 K1", -1), "ERROR: Unknown image type: image-scanner\n");
}

TEST_F(ReadersTest, GeometryFileIndividualForm) {
  EXPECT_EQ(geometries("indiv-type\n"
                       "ext-ori-opk-rot S1 deg 0 (1,2,3) 1 1 1 10 20 30 1e31 1e31 1e31\n"
                       "ext-ori-quaternion S2 0 1 2 3 1 1 1 1 0 0 0 1 1 1 1\n"
                       "pmf-linear S3 0 1 0 2 0 3 0 4 0 5 0 6 0 7 0 8 0\n"
                       "dlt S4 0 1 0 2 0 3 0 4 0 5 0 6 0 7 0 8 0 9 0 10 0 11 0\n"
                       "ext-ori-opk-fix S1 rad 0 1 2 3 1 1 1 0 0 0 1 1 1\n"
                       "stop-dep ext-ori-kratky",
                       1),
            "ATTENTION: EO S1 was replaced.\n");
  ASSERT_EQ(block_.geometries.entryCount(), 4);
  EXPECT_EQ(block_.geometries.at(0)->keyword(), "ext-ori-opk-fix");
  EXPECT_EQ(block_.geometries.at(2)->p[7], 8.0);
  EXPECT_EQ(geometries("indiv-type ext-ori-kratky S9", -1),
            "ERROR: Unknown type of image geometry: ext-ori-kratky\n"
            "ERROR: Reading EO individual type failed.\n");
  EXPECT_EQ(geometries("indiv-type ext-ori-pok-rot S9 rad 0 1 2", -1),
            "ERROR: Reading projection centre coords. failed.\n"
            "ERROR: Reading exterior orientation failed.\n"
            "ERROR: Reading EO individual type failed.\n");
  EXPECT_EQ(geometries("ext-ori-opk-rot S1", -1), "ERROR: Unknown keyword: ext-ori-opk-rot\n");
  EXPECT_EQ(geometries("", -1), "ERROR: Reading keyword failed.\n");
}

TEST_F(ReadersTest, GeometryFileCommonForm) {
  const double deg = 180.0 / std::numbers::pi;
  EXPECT_EQ(geometries("common-type ext-ori-pok-rot deg 1 0 (0.1, 0.1, 0.2) 0.01 1e-31 1e31\n"
                       "S1 10.5 100 200 1000 90 0 0\n"
                       "S2 11.5 (150,200,1000) 0 0 45\n"
                       "S1 12.5 1 2 3 0 0 0\n"
                       "-1 S9 garbage",
                       1),
            "ATTENTION: Exterior orientation S1 was replaced.\n");
  ASSERT_EQ(block_.geometries.count(), 2);
  const ImageGeometry& s1 = *block_.geometries.at(0);
  EXPECT_EQ(s1.t, 12.5);
  EXPECT_EQ(s1.p[0], 1.0);
  EXPECT_DOUBLE_EQ(s1.s[3], 0.01 / deg);
  EXPECT_EQ(s1.s[4], 1e-31);
  EXPECT_EQ(s1.s[5], 1e31);
  EXPECT_DOUBLE_EQ(block_.geometries.at(1)->p[5], 45 / deg);

  // Rotation matrices give the rotation parameters; quaternions take four values.
  EXPECT_EQ(geometries("common-type ext-ori-opk-rot rad 0 1 0 0 0 0 0 0\n"
                       "S5 0 0 0  0 -1 0  1 0 0  0 0 1\n",
                       1),
            "");
  EXPECT_NEAR(block_.geometries.find("S5")->p[5], std::numbers::pi / 2, 1e-15);
  EXPECT_EQ(geometries("common-type ext-ori-quaternion deg 0 0 1 1 1 0.1 0.1 0.1 0.1\n"
                       "S6 0 0 0  0.5 0.5 0.5 0.5\n",
                       1),
            "");
  EXPECT_EQ(block_.geometries.find("S6")->p[6], 0.5);

  const std::pair<const char*, const char*> failures[] = {
      {"common-type", "ERROR: Cannot read type of geometry.\n"},
      {"common-type dlt", "ERROR: Unknown type of image geometry: dlt\n"},
      {"common-type ext-ori-opk-rot", "ERROR: Cannot read unit of rotation angles.\n"},
      {"common-type ext-ori-opk-rot grad", "ERROR: Invalid unit of rotation angles: grad\n"},
      {"common-type ext-ori-opk-rot rad 2", "ERROR: Cannot read time flag.\n"},
      {"common-type ext-ori-opk-rot rad 1 x", "ERROR: Cannot read rotation matrix flag.\n"},
      {"common-type ext-ori-opk-rot rad 1 0 1 1 1 1 1", "ERROR: Cannot read common std. devs.\n"},
      {"common-type ext-ori-opk-rot rad 1 0 1 1 1 1 1 1 S1 x",
       "ERROR: Cannot read exposure time.\n"},
      {"common-type ext-ori-opk-rot rad 0 0 1 1 1 1 1 1 S1 1 2",
       "ERROR: Cannot read projection centre coords.\n"},
      {"common-type ext-ori-opk-rot rad 0 1 1 1 1 1 1 1 S1 1 2 3 1 0 0 0 1",
       "ERROR: Cannot read rotation matrix.\n"},
      {"common-type ext-ori-opk-rot rad 0 0 1 1 1 1 1 1 S1 1 2 3 0 0",
       "ERROR: Cannot read rotation parameters.\n"},
  };
  for (const auto& [text, message] : failures) {
    EXPECT_EQ(geometries(text, -1),
              std::string(message) + "ERROR: Reading EO common type failed.\n");
  }
}

TEST_F(ReadersTest, ObjectCoordinatesTypesAndReplacement) {
  EXPECT_EQ(objects("common-sdev 0.1 0.1 0.1 stop-dep", 1), "");
  EXPECT_EQ(block_.objectPoints.count(), 0);
  EXPECT_EQ(objects("indiv-sdev\n"
                    "P1 1 2 3 1e31 1e31 1e31\n"
                    "P2 (4, 5, 6) (0.05, 0.05, 0.05)\n"
                    "P1 7 8 9 1e31 1e31 0.02\n"
                    "-1 P3",
                    1),
            "ATTENTION: Object point P1 replaced.\n");
  ASSERT_EQ(block_.objectPoints.entryCount(), 2);
  const ObjectPoint& p1 = *block_.objectPoints.at(0);
  EXPECT_EQ(p1.id(), "P1");
  EXPECT_EQ(p1.xyz[2], 9.0);
  EXPECT_EQ(p1.type, kPointControl);
  EXPECT_TRUE(p1.coordinatesGiven);
  EXPECT_EQ(block_.objectPoints.at(1)->type, kPointControl);
  objects("common-sdev 1e31 1e31 1e31 P4 0 0 0", 1);
  EXPECT_EQ(block_.objectPoints.find("P4")->type, kPointIntersection);

  EXPECT_EQ(objects("", -1), "");
  EXPECT_EQ(objects("xyz-sdev", -1), "ERROR: Unknown file type: xyz-sdev\n");
  EXPECT_EQ(objects("common-sdev 1 1", -1), "ERROR: Reading common std. dev. failed.\n");
  EXPECT_EQ(objects("indiv-sdev P1 1 2", -1), "ERROR: Reading coords. failed.\n");
  EXPECT_EQ(objects("indiv-sdev P1 1 2 3 (1, 1", -1), "ERROR: Reading std. dev. failed.\n");
}

TEST_F(ReadersTest, ControlSupportReclassifiesPoints) {
  objects("common-sdev 0.1 0.1 0.1 P7 1 2 3 P8 4 5 6 P9 7 8 9", 1);
  EXPECT_EQ(support("# header line\nP7 co z\n  # between records\nP8 ch xy\nP9 in", 1), "");
  const LSParams& ls = block_.settings;
  const ObjectPoint& p7 = *block_.objectPoints.find("P7");
  EXPECT_THAT(p7.sdev, testing::ElementsAre(ls.smaxu, ls.smaxu, ls.sminu));
  EXPECT_EQ(p7.type, kPointControl);
  EXPECT_EQ(p7.xyz[2], 3.0);
  const ObjectPoint& p8 = *block_.objectPoints.find("P8");
  EXPECT_THAT(p8.sdev, testing::ElementsAre(ls.smaxu, ls.smaxu, ls.smaxu));
  EXPECT_THAT(p8.checkComponents, testing::ElementsAre(true, true, false));
  EXPECT_EQ(p8.type, kPointCheck);
  EXPECT_EQ(block_.objectPoints.find("P9")->type, kPointIntersection);

  EXPECT_EQ(support("P7 CO xyz", -1),
            "ERROR: Invalid object point type: CO\nERROR: Set std. dev. from CS failed.\n");
  EXPECT_EQ(support("P7", -1),
            "ERROR: Cannot read object point type.\nERROR: Set std. dev. from CS failed.\n");
  EXPECT_EQ(support("P7 co", -1), "ERROR: Set std. dev. from CS failed.\n");
  EXPECT_EQ(support("P1 in", -1), "ERROR: Object point ID P1 not exist.\n");
  EXPECT_EQ(support("P7 in stop-dep P1 in", 1), "");
}

TEST_F(ReadersTest, ImageCoordinatesNeedKnownImages) {
  cameras("camera-frame K1 a 100 0 0 230 230", 1);
  images("image-frame I1 S1 K1", 1);
  EXPECT_EQ(run([this](std::istream& in) { return readImageCoordinates(in, block_.images); },
                "I1 0.001 P1 1 2 0.01 0.01 stop-dep -1", 1),
            "");
  EXPECT_EQ(block_.images.find("I1")->points.size(), 1u);
  EXPECT_EQ(run([this](std::istream& in) { return readImageCoordinates(in, block_.images); },
                "I7 1 P1 1 2 1 1", -1),
            "ERROR: BundleImage I7 not found.\n");
  EXPECT_EQ(run([this](std::istream& in) { return readImageCoordinates(in, block_.images); },
                "I1 1 P1 1 2 1", -1),
            "ERROR: BundleImage I1 read image coords. failed.\n");
}

TEST_F(ReadersTest, APSetAndCorrectionFiles) {
  EXPECT_EQ(run([this](std::istream& in) { return readAPSetFile(in, block_.apSets); },
                "gap A1 K1 1e-5 1e-6 2e-5 1e-6\n"
                "p12 A2 K1 30 1 1\n"
                "radial-dist A1 K1 1 2 3 4 5 6\nstop-dep",
                1),
            "ATTENTION: AP set A1 was replaced.\n");
  ASSERT_EQ(block_.apSets.entryCount(), 2);
  EXPECT_EQ(block_.apSets.at(0)->typeName(), "radial distortion");
  EXPECT_EQ(block_.apSets.at(0)->a[2], 5.0);
  EXPECT_DOUBLE_EQ(static_cast<APSetP*>(block_.apSets.at(1))->b, 0.03);
  EXPECT_EQ(
      run([this](std::istream& in) { return readAPSetFile(in, block_.apSets); }, "p13 A3", -1),
      "ERROR: Read AP set: Unknown type: p13\n");
  EXPECT_EQ(run([this](std::istream& in) { return readAPSetFile(in, block_.apSets); }, "gap", -1),
            "ERROR: Read AP set  failed.\n");

  EXPECT_EQ(
      run([this](std::istream& in) { return readPosCorrectionFile(in, block_.posCorrections); },
          "C1 S1 S2 stop-dep 0 1 1 0.1 2 0.1 3 0.1\n"
          "C2 S3 stop-dep 5\n"
          "C1 S1 stop-dep 0 1 4 0.1 5 0.1 6 0.1",
          1),
      "ATTENTION: Position correction C1 was replaced.\n");
  ASSERT_EQ(block_.posCorrections.entryCount(), 2);
  EXPECT_EQ(block_.posCorrections.at(0)->c[0], 4.0);
  EXPECT_EQ(block_.posCorrections.at(1)->t0, 5.0);
  EXPECT_EQ(block_.posCorrections.at(1)->termCount(), 1);
  EXPECT_EQ(
      run([this](std::istream& in) { return readAttCorrectionFile(in, block_.attCorrections); },
          "A1 stop-dep 0 1 0 1 0 1 0 1 A1 stop-dep 0 1 0 1 0 1 0 1", 1),
      "ATTENTION: Attitude correction A1 was replaced.\n");
}

// Coefficient-row counts from damaged files: 1.8e308 once overflowed int (3 m), 1e7 allocated
// gigabytes before failing. Both are refused before any allocation with the reader's message.
TEST_F(ReadersTest, CorrectionRowCountsAreBounded) {
  const auto positions = [this](const std::string& text) {
    return run(
        [this](std::istream& in) { return readPosCorrectionFile(in, block_.posCorrections); }, text,
        -1);
  };
  for (const char* count : {"1.8e308", "10000000", "2147483648", "101", "inf", "nan"}) {
    EXPECT_THAT(positions(std::string("C1 S1 stop-dep 0 ") + count),
                HasSubstr("ERROR: Position correction C1: number of coefficient rows"))
        << count;
  }
  EXPECT_EQ(positions("C1 S1 stop-dep 0 101"),
            "ERROR: Position correction C1: number of coefficient rows exceeds 100.\n");
  EXPECT_EQ(block_.posCorrections.entryCount(), 0);
  run([this](std::istream& in) { return readAttCorrectionFile(in, block_.attCorrections); },
      "A1 S1 stop-dep 0 100", 1);
  ASSERT_EQ(block_.attCorrections.entryCount(), 1);
  EXPECT_EQ(block_.attCorrections.at(0)->termCount(), 100);
}

// Main input files in a temporary folder that is the current directory.
class MainReaderTest : public ReadersTest {
 protected:
  void SetUp() override {
    ReadersTest::SetUp();
    previous_ = fs::current_path();
    folder_ = fs::path(testing::TempDir()) / ("bravik_readers_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    fs::current_path(folder_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(folder_);
    ReadersTest::TearDown();
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(name) << text; }
  std::string main(const std::string& text, int expected) {
    return run([this](std::istream& in) { return readInput(block_, in); }, text, expected);
  }

  fs::path previous_;
  fs::path folder_;
};

TEST_F(MainReaderTest, KeywordsAndTheirFiles) {
  EXPECT_EQ(main("", 1), "");
  EXPECT_EQ(main("Params x", -1), "ERROR: Unknown keyword: 'Params'\n");
  EXPECT_EQ(main("stop-dep Params x", 1), "");
  EXPECT_EQ(main("camera missing.cam", -1), "ERROR: Cannot open input file: missing.cam\n");
  EXPECT_EQ(main("patb-photos missing.txt", -1), "ERROR: Cannot open input file: missing.txt\n");
  write("notes.txt", "anything at all");
  EXPECT_EQ(main("patb-photos notes.txt", 1), "");
  EXPECT_EQ(main("camera", -1), "ERROR: Missing file name after keyword: 'camera'\n");
  fs::create_directory("folder.cam");
  EXPECT_EQ(main("camera folder.cam", -1), "ERROR: Cannot open input file: folder.cam\n");
}

// Devices and links to them are refused like folders: /dev/zero once ended in an oversized
// allocation of one endless word.
TEST_F(MainReaderTest, SpecialFilesAreRefused) {
  fs::create_symlink("/dev/zero", "zero.cam");
  EXPECT_EQ(main("camera zero.cam", -1), "ERROR: Cannot open input file: zero.cam\n");
  EXPECT_EQ(main("patb-photos /dev/zero", -1), "ERROR: Cannot open input file: /dev/zero\n");
  EXPECT_EQ(main("camera /dev/null", -1), "ERROR: Cannot open input file: /dev/null\n");
}

TEST_F(MainReaderTest, ImagesFollowAReplacedCamera) {
  write("a.cam", "camera-frame K1 a 100 0 0 230 230");
  write("b.cam", "camera-ccd K1 b 35 0 0 4000 3000 6 6");
  write("i.img", "image-frame I1 S1 K1");
  write("i.crd", "I1 1 P1 1999.5 1499.5 1 1");
  EXPECT_EQ(main("camera a.cam image i.img camera b.cam image-crds i.crd", 1),
            "ATTENTION: Camera K1 was replaced.\n");
  const BundleImage& image = *block_.images.find("I1");
  ASSERT_EQ(image.camera, block_.cameras.find("K1"));
  EXPECT_EQ(image.camera->typeName(), "CCD-frame");
}

TEST_F(MainReaderTest, ReaderFailureAddsFileLinesAndStops) {
  write("bad.cam", "camera-fisheye K1");
  write("good.cam", "camera-frame K1 a 100 0 0 230 230");
  EXPECT_EQ(main("camera bad.cam camera good.cam", -1),
            "ERROR: Unknown camera type: camera-fisheye\n"
            "ERROR: Reading camera file failed.\n"
            "ERROR: Reading input file failed: bad.cam\n");
  EXPECT_EQ(block_.cameras.count(), 0);
}

TEST_F(MainReaderTest, EntriesAreReadInOrder) {
  write("k.cam", "camera-frame K1 a 100 0 0 230 230");
  write("i.img", "image-frame I1 S1 K1");
  write("ls.par",
        "1e-6 10 0 0 1 1 0.001 0.001 1e-6 1e-8 1e-6 1e3 1e-7 1e4 1e10 1e10 0.8 1 0.001 1.96 "
        "0.0001 10 m rad native");
  write("o.obj", "common-sdev 1e31 1e31 1e31 P1 1 2 3");
  EXPECT_THAT(main("image i.img camera k.cam", -1),
              HasSubstr("ERROR: Attach camera K1 for image I1 not failed.\n"));
  block_ = Block();
  EXPECT_EQ(main("camera k.cam image i.img ls-params ls.par obj-crds o.obj", 1), "");
  EXPECT_EQ(block_.settings.smaxu, 1e4);
  // Under the new settings the point's std. devs. above smax make it an intersection point.
  EXPECT_EQ(block_.objectPoints.find("P1")->type, kPointIntersection);
  EXPECT_EQ(block_.images.find("I1")->camera, block_.cameras.find("K1"));
}

}  // namespace
}  // namespace bravik
