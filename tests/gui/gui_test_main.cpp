#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

// The widget tests need a QApplication on an offscreen screen, and a settings store
// of their own so that nobody's real options are read or replaced.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir configHome(QDir::tempPath() + QStringLiteral("/tessary-gui-tests-XXXXXX"));
    if (!configHome.isValid()) {
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QApplication application(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
