#include "tests/gui/gui_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/settings.h"
#include "tests/support/temp_dir.h"

namespace tessary::test {
namespace {

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(kOrganizationName), QCoreApplication::applicationName());
}

void PutLe(Bytes& out, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

void ResetSettingsStore() {
    QSettings store = Store();
    store.clear();
    store.sync();
}

QVariant StoredSetting(const QString& name) {
    QSettings store = Store();
    return store.value(QStringLiteral("Settings/") + name);
}

void StoreSetting(const QString& name, const QVariant& value) {
    QSettings store = Store();
    store.setValue(QStringLiteral("Settings/") + name, value);
    store.sync();
}

void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(4, button->height() / 2));
}

void TypeInto(QWidget* field, const QString& text) {
    ASSERT_NE(field, nullptr);
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        edit->selectAll();
    }
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

void WhenModal(std::function<void(QWidget*)> action, QWidget* below) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action, below] {
        QWidget* top = QApplication::activeModalWidget();
        if (top && top != below && top->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(top);
        }
    });
    timer->start();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

bool WriteSolidBmp(const std::string& path, int width, int height, uint8_t red, uint8_t green,
                   uint8_t blue) {
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t pixelBytes = stride * static_cast<uint32_t>(height);
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    PutLe(out, 54 + pixelBytes, 4);
    PutLe(out, 0, 4);
    PutLe(out, 54, 4);
    PutLe(out, 40, 4);
    PutLe(out, static_cast<uint32_t>(width), 4);
    PutLe(out, static_cast<uint32_t>(height), 4);
    PutLe(out, 1, 2);
    PutLe(out, 24, 2);
    PutLe(out, 0, 4);
    PutLe(out, pixelBytes, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 2835, 4);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out.push_back(blue);
            out.push_back(green);
            out.push_back(red);
        }
        for (uint32_t pad = static_cast<uint32_t>(width) * 3; pad < stride; ++pad) {
            out.push_back(0);
        }
    }
    return WriteBytes(path, out);
}

}  // namespace tessary::test
