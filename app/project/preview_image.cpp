#include "project/preview_image.h"

#include <gdal_priv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "photogrammetry/raster_roi.h"
#include "project/aba_image.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace vantri::project {

namespace fs = std::filesystem;

namespace {

struct GdalCloser {
  void operator()(GDALDataset* dataset) const { GDALClose(dataset); }
};

// Crash-safe; the temporary keeps the extension, which chooses the encoder.
bool WriteImageAtomically(const std::string& path, const cv::Mat& image) {
  return vantri::system::WriteFileAtomicallyWith(path, [&](const std::string& temporary) {
    try {
      return cv::imwrite(temporary, image);
    } catch (const cv::Exception&) {
      return false;
    }
  });
}

bool LoadImage(const std::string& path, cv::Mat* image) {
  *image = cv::imread(path, cv::IMREAD_UNCHANGED);
  return !image->empty();
}

}  // namespace

cv::Size PreviewSize(int width, int height, long long limit, bool* reduced) {
  const double pixels = static_cast<double>(width) * height;
  const bool reduce = pixels > static_cast<double>(limit) && width > 0 && height > 0;
  if (reduced != nullptr) *reduced = reduce;
  if (!reduce) return {width, height};
  const double scale = std::sqrt(static_cast<double>(limit) / pixels);
  int new_width = static_cast<int>(std::lround(width * scale));
  new_width = std::max(4, new_width - new_width % 4);
  const int new_height =
      static_cast<int>(std::lround(static_cast<double>(height) / width * new_width));
  return {new_width, std::max(1, new_height)};
}

int BuildPreviewImage(const std::string& image_path, const std::string& preview_path,
                      long long limit, cv::Mat* preview) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset, GdalCloser> dataset(static_cast<GDALDataset*>(GDALOpenEx(
      image_path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr)));
  if (dataset == nullptr || dataset->GetRasterCount() < 1) return 0;
  const int width = dataset->GetRasterXSize();
  const int height = dataset->GetRasterYSize();
  bool reduced = false;
  const cv::Size size = PreviewSize(width, height, limit, &reduced);
  cv::Mat image(size, dataset->GetRasterCount() >= 3 ? CV_8UC3 : CV_8UC1);
  if (GDALExtractROI(dataset.get(), &image, cv::Rect(0, 0, width, height),
                     photogrammetry::kRoiStretchMinMax) == 0)
    return 0;
  if (reduced) cv::GaussianBlur(image, image, cv::Size(3, 3), 0);
  if (!WriteImageAtomically(preview_path, image)) return 0;
  return LoadImage(preview_path, preview) ? 1 : 0;
}

std::string PreviewPathIn(const std::string& image_path, const std::string& folder) {
  const bool jpg =
      vantri::system::ToLower(FileExtension(image_path)).find("jpg") != std::string::npos;
  return folder + FileTitle(image_path) + (jpg ? ".bmp" : ".jpg");
}

int LoadPreviewImage(const CABAImage& image, cv::Mat* preview, long long limit) {
  const std::string& preview_path = image.PreviewPath();
  std::error_code error;
  if (fs::exists(preview_path, error)) return LoadImage(preview_path, preview) ? 1 : 0;
  const fs::path beside = fs::path(image.Path()).parent_path() / fs::path(preview_path).filename();
  if (fs::exists(beside, error)) {
    std::string bytes;
    if (vantri::system::ReadWholeFile(beside.string(), bytes) &&
        vantri::system::WriteFileAtomically(preview_path, bytes))
      return LoadImage(preview_path, preview) ? 1 : 0;
  }
  return BuildPreviewImage(image.Path(), preview_path, limit, preview);
}

int GenerateThumbnailsIn(const std::vector<std::string>& images, const std::string& folder,
                         long long limit) {
  int built = 0;
  for (const std::string& path : images) {
    const std::string preview_path = PreviewPathIn(path, folder);
    std::error_code error;
    if (fs::exists(preview_path, error)) continue;
    cv::Mat preview;
    built += BuildPreviewImage(path, preview_path, limit, &preview);
  }
  return built;
}

int GenerateThumbnails(vantri::UserInterface& ui, long long limit) {
  std::vector<std::string> images;
  if (!ui.PickOpenFiles("Thumbnails", {{"Images", "*.jpg;*.tif"}}, "", &images) || images.empty())
    return 0;
  std::sort(images.begin(), images.end());
  std::string folder;
  if (ui.AskYesNo("Do you want to generate thumbnails in the original image folder?")) {
    folder = fs::path(images.front()).parent_path().string();
  } else {
    folder = NVT_PickFolderPath(ui, "Select the destination folder", NVT_GetLastBrowsedPath());
    if (folder.empty()) return 0;
  }
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const int built = GenerateThumbnailsIn(images, folder, limit);
  char text[128];
  std::snprintf(text, sizeof text, "%d thumbnail generated on %d selected images", built,
                static_cast<int>(images.size()));
  ui.ShowMessage(text, vantri::MessageIcon::kInformation);
  return built;
}

}  // namespace vantri::project
