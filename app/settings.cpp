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

QString ReadOutputLocation() {
    return OpenStore().value(QString::fromLatin1(kOutputLocationKey)).toString();
}

void WriteOutputLocation(const QString& location) {
    QSettings store = OpenStore();
    store.setValue(QString::fromLatin1(kOutputLocationKey), location);
    store.sync();
}

}  // namespace tessary
