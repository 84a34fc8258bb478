#include "app/settings.h"

#include <QCoreApplication>
#include <QSettings>

namespace tessary {
namespace {

constexpr const char* kSection = "Settings";
constexpr const char* kOutputLocationKey = "Settings/strOutputFolder";

// The store is named by the maker key and the program's own name, so a renamed
// program keeps its options apart.
QSettings OpenStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(kOrganizationName), QCoreApplication::applicationName());
}

int32_t ReadInt(const QSettings& store, const char* name) {
    bool ok = false;
    const int value = store.value(QString::fromLatin1(name)).toInt(&ok);
    return ok ? value : 0;
}

constexpr const char* kMethodKey = "strMethod";
constexpr const char* kAutoClipKey = "bAutoClip";
constexpr const char* kOnlyCombedKey = "bOnlyCombed";
constexpr const char* kFormatKey = "strFormat";
constexpr const char* kQualityKey = "nJpegQuality";
constexpr const char* kMetadataKey = "bKeepMetadata";

bool ReadFlag(const QSettings& store, const char* name, bool fallback) {
    bool ok = false;
    const int value = store.value(QString::fromLatin1(name)).toInt(&ok);
    return ok ? value != 0 : fallback;
}

std::string ReadName(const QSettings& store, const char* name) {
    return store.value(QString::fromLatin1(name)).toString().toStdString();
}

}  // namespace

BatchSettings ReadBatchSettings() {
    QSettings store = OpenStore();
    store.beginGroup(QString::fromLatin1(kSection));
    BatchSettings s;
    s.m_bClip = ReadInt(store, "bclip");
    s.m_bInterlace = ReadInt(store, "bInterlace");
    s.m_bSoftenBorders = ReadInt(store, "bSoftenBorders");
    s.m_nClipTop = ReadInt(store, "nClipTop");
    s.m_nClipBottom = ReadInt(store, "nClipBottom");
    return s;
}

void WriteBatchSettings(const BatchSettings& s) {
    QSettings store = OpenStore();
    store.beginGroup(QString::fromLatin1(kSection));
    store.setValue(QStringLiteral("bclip"), s.m_bClip);
    store.setValue(QStringLiteral("bInterlace"), s.m_bInterlace);
    store.setValue(QStringLiteral("bSoftenBorders"), s.m_bSoftenBorders);
    store.setValue(QStringLiteral("nClipTop"), s.m_nClipTop);
    store.setValue(QStringLiteral("nClipBottom"), s.m_nClipBottom);
    store.endGroup();
    store.sync();
}

void ReadNewerOptions(DialogOptions& options) {
    const DialogOptions defaults;
    QSettings store = OpenStore();
    store.beginGroup(QString::fromLatin1(kSection));
    options.method = ParseDeinterlaceMethod(ReadName(store, kMethodKey)).value_or(defaults.method);
    options.autoClip = ReadFlag(store, kAutoClipKey, defaults.autoClip);
    options.onlyCombed = ReadFlag(store, kOnlyCombedKey, defaults.onlyCombed);
    options.format = OutputFormatNamed(ReadName(store, kFormatKey));
    bool ok = false;
    const int quality = store.value(QString::fromLatin1(kQualityKey)).toInt(&ok);
    options.jpegQuality =
        ok && quality >= 1 && quality <= kJpegBestQuality ? quality : defaults.jpegQuality;
    options.keepMetadata = ReadFlag(store, kMetadataKey, defaults.keepMetadata);
}

void WriteNewerOptions(const DialogOptions& options) {
    QSettings store = OpenStore();
    store.beginGroup(QString::fromLatin1(kSection));
    store.setValue(QString::fromLatin1(kMethodKey), QString::fromLatin1(NameOf(options.method)));
    store.setValue(QString::fromLatin1(kAutoClipKey), options.autoClip ? 1 : 0);
    store.setValue(QString::fromLatin1(kOnlyCombedKey), options.onlyCombed ? 1 : 0);
    QString format;
    for (const OutputFormatEntry& entry : NamedOutputFormats()) {
        if (options.format == entry.format) {
            format = QString::fromLatin1(entry.name);
        }
    }
    store.setValue(QString::fromLatin1(kFormatKey), format);
    store.setValue(QString::fromLatin1(kQualityKey), options.jpegQuality);
    store.setValue(QString::fromLatin1(kMetadataKey), options.keepMetadata ? 1 : 0);
    store.endGroup();
    store.sync();
}

QString ReadOutputLocation() {
    return OpenStore().value(QString::fromLatin1(kOutputLocationKey)).toString();
}

void WriteOutputLocation(const QString& location) {
    QSettings store = OpenStore();
    store.setValue(QString::fromLatin1(kOutputLocationKey), location);
    store.sync();
}

}  // namespace tessary
