#include "tests/gui/gui_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/settings.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary::test {
namespace {

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(kOrganizationName), QCoreApplication::applicationName());
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
    const uint32_t color = red | (uint32_t{green} << 8) | (uint32_t{blue} << 16);
    return WriteBytes(path, BmpBuilder(width, height, 24)
                                .Pixels24([color](int32_t, int32_t) { return color; })
                                .Build());
}

}  // namespace tessary::test
