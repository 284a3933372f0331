#pragma once
// Preview images (thumbnails) of the project images: 8-bit copies reduced to a pixel limit,
// stored as <project folder><name>.bmp (jpg images) or .jpg (others).

#include <opencv2/core.hpp>
#include <string>
#include <vector>

class CABAImage;

namespace vantri {
class UserInterface;
}

namespace vantri::project {

// Working-image pixel limit of previews and processing.
inline constexpr long long kWorkingImagePixelLimit = 8388608;

// Size of the preview of a w x h raster. Within the limit the size is kept; above it both sides
// are scaled by sqrt(limit / (w * h)), the width rounded and reduced to a multiple of 4, and the
// height set to round(h / w * width). `reduced` (optional) tells whether it was scaled.
cv::Size PreviewSize(int width, int height, long long limit = kWorkingImagePixelLimit,
                     bool* reduced = nullptr);

// Reads the whole raster into an 8-bit image of PreviewSize (one channel for one-band rasters,
// three for three or more bands), smooths a reduced one with a 3 x 3 Gaussian and writes it to
// `preview_path` (format from its extension, temporary file + rename). 1 / 0.
int BuildPreviewImage(const std::string& image_path, const std::string& preview_path,
                      long long limit, cv::Mat* preview);

// The preview of an image record: the preview file when it exists; else a file of the preview's
// name and extension in the image's own folder, copied to the preview path; else built from the
// image. 1 with `preview` loaded, 0 on failure.
int LoadPreviewImage(const CABAImage& image, cv::Mat* preview,
                     long long limit = kWorkingImagePixelLimit);

// Preview path of an image in `folder` (with trailing separator): .bmp for "jpg" extensions,
// .jpg otherwise.
std::string PreviewPathIn(const std::string& image_path, const std::string& folder);

// The Thumbnails command: images from the file window ("Images (*.jpg;*.tif;)"), sorted; "Do you
// want to generate thumbnails in the original image folder?" (No asks for a folder, "Select the
// destination folder"); builds every missing preview and shows
// "%d thumbnail generated on %d selected images". Returns the number built.
int GenerateThumbnails(vantri::UserInterface& ui, long long limit = kWorkingImagePixelLimit);
// The same over given images and destination folder (with trailing separator).
int GenerateThumbnailsIn(const std::vector<std::string>& images, const std::string& folder,
                         long long limit = kWorkingImagePixelLimit);

}  // namespace vantri::project
