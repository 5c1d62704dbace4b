#pragma once

// Every complete download's memory image, kept in the user's data folder before anything
// decodes it, so that a Create or Append that fails afterwards loses nothing: one file per
// download, named by its date and time and the instrument's identification, the oldest going
// once there are more than kKeptImages.

#include "link/Exchange.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace ulen3 {

constexpr int kKeptImages = 1000;

// The folder of the kept images (…/ULEN3/images under the XDG data home), and of the exchange
// logs (…/ULEN3/logs).
QString image_folder();
QString log_folder();

// Writes the image and returns its path; throws std::runtime_error naming the file when it cannot.
QString keep_image(const DownloadResults& results, const QDateTime& when);

// The identification a kept image's name carries ("2026-12-09_13-45-10_serial1234_code21.bin").
bool identification_from_name(const QString& fileName, std::uint8_t& devCode, std::uint16_t& devSerial);

} // namespace ulen3
