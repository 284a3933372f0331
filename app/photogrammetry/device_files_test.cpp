#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "photogrammetry/passport.h"
#include "photogrammetry/point_collection.h"
#include "system/nvtools.h"
#include "testing/temp_folder.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;

using BoundedRead = test_support::SpecialFilesTest;

// A passport or point collection that is /dev/zero (or a link to it) once ended in an oversized
// allocation; the INI reader and the point files share the same line reader.
TEST_F(BoundedRead, PassportsPointFilesAndIniRefuseDevices) {
  for (const std::string& path : {std::string("/dev/zero"), zero_link_, fifo_, folder_}) {
    EXPECT_EQ(CCameraPassport::New(path), nullptr) << path;
    CBCCCameraPassport passport;
    EXPECT_EQ(passport.Load(path), 0) << path;
    CGCPCollMap points;
    EXPECT_EQ(ReadPTCollFile(path, &points, nullptr), 0) << path;
    system::IniFile ini;
    EXPECT_EQ(ini.Load(path), 0) << path;
  }
}

}  // namespace
}  // namespace vantri
