#pragma once

#include <QImage>
#include <QString>

#include "app/dialog_engine.h"
#include "platform/memory_block.h"

namespace tessary {

// One picture for the preview: as loaded and as a run would write it.
struct PreviewPicture {
    QImage original;
    QImage repaired;
    QString description;  // size and format as read, e.g. "720 × 576, JPEG, 24 bits per pixel"
    QString failure;      // why there is nothing to show; empty when there is
    QString warning;      // what the run would warn of when writing it
    // What the detectors found in the picture as loaded; false when they could not look.
    bool detected = false;
    double combScore = 0;  // percent
    bool combed = false;
    int32_t bandTop = 0;  // black rows, or tape noise at the bottom
    int32_t bandBottom = 0;
    bool blank = false;  // one colour throughout: nothing to clip
};

// Loads path into a store of its own and looks for combing and black bands; then writes it
// through the run's own per-file step into a temporary file and reads that back, so the
// repaired side is exactly what Process writes. Safe to call on any thread: it shares nothing.
PreviewPicture RenderPreview(const QString& path, const DialogOptions& options);

// A packed DIB as a picture to draw; null when it can't be read as one.
QImage ImageFromDib(const MemoryBlock& dib);

}  // namespace tessary
