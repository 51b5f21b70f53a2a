// Saving snapshot pictures: the folder, the four switches, the file names and the JPEG
// quality from the settings file. Takes finished pictures; draws and shows nothing.
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "formats/output_name.h"

// The preview panel's size: small snapshots are stretched to it.
inline constexpr int SnapshotSmallWidth = 243;
inline constexpr int SnapshotSmallHeight = 171;

// The frame stretched over the whole small picture, its proportions not kept.
QImage MakeSmallSnapshot(const QImage &frame, int width = SnapshotSmallWidth,
                         int height = SnapshotSmallHeight);

struct TSnapshotResult {
  std::string Folder;              // ends with "/"
  std::vector<std::string> Written; // full paths, in the order written
};

// Writes "Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg" and
// "Snapshot_small.jpg" into "SnapOutPutDir" as "snapFullSize", "snapSmallSize", "snapBmp" and
// "snapJpg" allow (a switch is on only when it holds exactly 1), JPEG at "jpgCmp" quality,
// overwriting older files. Nothing is written for a full picture without pixels. Throws
// std::runtime_error naming the file when a picture cannot be written.
TSnapshotResult SaveSnapshots(const QImage &full, const QImage &small,
                              const TOutputNameSources &sources = {});
