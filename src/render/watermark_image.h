// Reads the image watermark's file into a 24-bit BGR picture, keeping the last few decoded
// pictures so that a conversion does not decode the same file for every frame. Does no drawing.
#pragma once

#include <QImage>
#include <memory>
#include <string>

// The picture in the file at path (UTF-8), as Format_BGR888. Any picture format Qt reads is
// accepted; the dialogs offer Windows bitmaps. A cached picture is reused only while the
// file's size and modification time are unchanged, so an edited file is read again.
// Throws TRenderError naming the file when it is missing or cannot be decoded.
// Safe to call from several threads at once. The picture is shared, never copied: it is held
// through a shared_ptr so that the last user frees it, whichever thread that is.
std::shared_ptr<const QImage> LoadWatermarkImage(const std::string &path);
