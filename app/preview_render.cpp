#include "app/preview_render.h"

#include <QFile>
#include <QTemporaryDir>

#include "formats/dib.h"
#include "image/image_surface.h"
#include "ops/black_bands.h"
#include "ops/combing.h"
#include "ops/pixel_rows.h"

namespace tessary {
namespace {

void Detect(CDibImage& image, PreviewPicture& picture) {
    const PixelRows rows = RowsOf(image);
    if (rows.IsEmpty()) {
        return;
    }
    const CombingReport combing = DetectCombing(rows);
    const BandReport bands = DetectBands(rows);
    picture.detected = true;
    picture.combScore = combing.score;
    picture.combed = combing.combed;
    picture.bandTop = bands.top;
    picture.bandBottom = bands.bottom;
    picture.blank = bands.blank;
}

// The common case straight from the rows: bottom-up blue, green, red into top-down RGB32.
QImage ImageFrom24BitRows(const uint8_t* pixels, int32_t width, int32_t height, uint64_t stride) {
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + uint64_t(height - 1 - y) * stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int32_t x = 0; x < width; ++x, row += 3) {
            out[x] = qRgb(row[2], row[1], row[0]);
        }
    }
    return image;
}

// Other depths and layouts go through Qt's own BMP reading of the same bytes
// behind a file header.
QImage ImageFromBmpBytes(const MemoryBlock& dib, const BitmapInfoHeader& header) {
    const uint64_t fileSize = uint64_t{kFileHeaderSize} + dib.Size();
    if (fileSize > uint64_t{INT32_MAX}) {
        return {};
    }
    QByteArray file(static_cast<qsizetype>(fileSize), '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(file.data());
    StoreLe16(bytes, kBmpSignature);
    StoreLe32(bytes + 2, static_cast<uint32_t>(fileSize));
    StoreLe32(bytes + 10, static_cast<uint32_t>(kFileHeaderSize + DibPixelOffset(header)));
    std::copy_n(dib.Data(), dib.Size(), bytes + kFileHeaderSize);
    return QImage::fromData(file, "BMP").convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QImage ImageFromDib(const MemoryBlock& dib) {
    BitmapInfoHeader header;
    if (GetDibInfo(dib, &header) == 0) {
        return {};
    }
    const bool plain24 = header.biSize == kInfoHeaderSize && header.biBitCount == 24 &&
                         header.biCompression == 0 && header.biWidth > 0 && header.biHeight > 0;
    if (plain24) {
        const uint64_t offset = DibPixelOffset(header);
        const uint64_t stride = DibStride(static_cast<uint32_t>(header.biWidth), 24);
        if (offset + stride * uint64_t(header.biHeight) <= dib.Size()) {
            return ImageFrom24BitRows(dib.Data() + offset, header.biWidth, header.biHeight, stride);
        }
    }
    return ImageFromBmpBytes(dib, header);
}

PreviewPicture RenderPreview(const QString& path, const DialogOptions& options) {
    PreviewPicture picture;
    CImageSurface surface;
    CDibImage& image = *surface.GetImage();
    const std::string input = QFile::encodeName(path).toStdString();
    image.Load(input.c_str());
    const LoadReport load = image.GetLoadReport();
    if (!image.HasImage() || load.source == LoadSource::MissingFile) {
        picture.failure = QString::fromStdString(LoadFailureReason(load));
        return picture;
    }
    // A picture with 16-bit samples is drawn from its 8-bit rounding, which is
    // all a screen shows; the description says what the file holds.
    const QString depth = image.HasDeep()
                              ? QStringLiteral("16 bits per sample")
                              : QStringLiteral("%1 bits per pixel").arg(image.GetBitCount());
    const OutputFormat format = OutputFormatOf(input, options);
    picture.description = QStringLiteral("%1 × %2, %3, %4, written as %5")
                              .arg(image.GetWidth())
                              .arg(image.GetHeight())
                              .arg(QLatin1String(load.FormatName()))
                              .arg(depth)
                              .arg(QLatin1String(OutputFormatName(format)));
    picture.original = ImageFromDib(image.GetDib());
    // The detectors need 24 bits; widening changes no colour.
    if (image.GetBitCount() != 24) {
        image.WidenTo24Bits();
    }
    Detect(image, picture);

    const QTemporaryDir folder;
    if (!folder.isValid()) {
        picture.failure =
            QStringLiteral("No temporary folder for the preview: %1").arg(folder.errorString());
        return picture;
    }
    const std::string output = WithFormatExtension(
        QFile::encodeName(folder.filePath(QStringLiteral("preview"))).toStdString(), format);
    const FileReport report = RepairForPreview(surface, input, output, options);
    if (report.status != FileStatus::Written) {
        picture.failure = QString::fromStdString(report.reason);
        return picture;
    }
    picture.warning = QString::fromStdString(report.warning);
    CImageSurface written;
    written.GetImage()->Load(output.c_str());
    picture.repaired = ImageFromDib(written.GetImage()->GetDib());
    if (picture.original.isNull() || picture.repaired.isNull()) {
        picture.failure = QStringLiteral("The image cannot be shown.");
    }
    return picture;
}

}  // namespace tessary
