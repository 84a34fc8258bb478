#pragma once

#include <QImage>
#include <QString>

#include "app/batch_run.h"
#include "platform/memory_block.h"

namespace tessary {

// One picture for the preview: as loaded and as a run would write it.
struct PreviewPicture {
    QImage original;
    QImage repaired;
    QString description;  // size and format as read, e.g. "720 × 576, JPEG, 24 bits per pixel"
    QString failure;      // why there is nothing to show; empty when there is
};

// Loads path into a store of its own and repairs it with settings, as a run
// would, writing nothing. Safe to call on any thread: it shares nothing.
PreviewPicture RenderPreview(const QString& path, const BatchSettings& settings);

// A packed DIB as a picture to draw; null when it can't be read as one.
QImage ImageFromDib(const MemoryBlock& dib);

}  // namespace tessary
