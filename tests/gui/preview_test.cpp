#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "app/main_dialog.h"
#include "app/preview_render.h"
#include "app/preview_view.h"
#include "app/preview_window.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Click;
using test::Control;

constexpr uint32_t kRed = 0x0000FF;  // packed: red in the low byte
constexpr uint32_t kBlue = 0xFF0000;

// Even rows red, odd rows blue: deinterlacing turns every row into their average.
bool WriteCombedBmp(const std::string& path, int width, int height) {
    return test::WriteBytes(
        path, test::BmpBuilder(width, height, 24)
                  .Pixels24([](int32_t, int32_t y) { return y % 2 == 0 ? kRed : kBlue; })
                  .Build());
}

DialogOptions OptionsWith(const BatchSettings& five) {
    DialogOptions options;
    options = five;
    return options;
}

TEST(RenderPreview, ShowsThePictureAsLoadedAndAsTheRunWouldWriteIt) {
    test::TempDir dir;
    ASSERT_TRUE(WriteCombedBmp(dir.File("c.bmp"), 4, 6));
    ASSERT_TRUE(test::WriteBytes(dir.File("grey8.bmp"),
                                 test::BmpBuilder(3, 2, 8)
                                     .GreyPalette(256)
                                     .Pixels8([](int32_t x, int32_t) { return uint8_t(x * 100); })
                                     .Build()));
    ASSERT_TRUE(test::WriteBytes(dir.File("text.jpg"), {'h', 'i'}));
    BatchSettings deinterlace;
    deinterlace.m_bInterlace = 1;
    BatchSettings clip;
    clip.m_bClip = 1;
    clip.m_nClipTop = 1;

    struct Case {
        const char* name;
        BatchSettings settings;
        QString description;
        QRgb originalTop, repairedTop, repairedRow1;
        QString failure;
    };
    const Case cases[] = {
        {"c.bmp",
         {},
         "4 × 6, BMP, 24 bits per pixel, written as BMP",
         qRgb(255, 0, 0),
         qRgb(255, 0, 0),
         qRgb(0, 0, 255),
         {}},
        {"c.bmp",
         deinterlace,
         "4 × 6, BMP, 24 bits per pixel, written as BMP",
         qRgb(255, 0, 0),
         qRgb(127, 0, 127),
         qRgb(127, 0, 127),
         {}},
        {"c.bmp",
         clip,
         "4 × 6, BMP, 24 bits per pixel, written as BMP",
         qRgb(255, 0, 0),
         qRgb(0, 0, 0),
         qRgb(0, 0, 255),
         {}},
        {"grey8.bmp",
         deinterlace,
         "3 × 2, BMP, 8 bits per pixel, written as BMP",
         qRgb(100, 100, 100),
         qRgb(100, 100, 100),
         qRgb(100, 100, 100),
         {}},
        {"missing.jpg", {}, {}, 0, 0, 0, "No such file or directory"},
        {"text.jpg", {}, {}, 0, 0, 0, "not a JPEG, GIF, BMP, PNG or TIFF image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PreviewPicture picture =
            RenderPreview(QString::fromStdString(dir.File(c.name)), OptionsWith(c.settings));
        EXPECT_EQ(picture.failure, c.failure);
        if (!c.failure.isEmpty()) {
            EXPECT_TRUE(picture.original.isNull());
            continue;
        }
        EXPECT_EQ(picture.description, c.description);
        ASSERT_EQ(picture.original.size(), picture.repaired.size());
        EXPECT_EQ(picture.original.pixel(1, 0), c.originalTop);
        EXPECT_EQ(picture.repaired.pixel(1, 0), c.repairedTop);
        EXPECT_EQ(picture.repaired.pixel(1, 1), c.repairedRow1);
    }
    // The paletted picture comes through its colour table.
    const PreviewPicture grey = RenderPreview(QString::fromStdString(dir.File("grey8.bmp")), {});
    EXPECT_EQ(grey.original.pixel(2, 1), qRgb(200, 200, 200));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"c.bmp", "grey8.bmp", "text.jpg"}))
        << "the preview writes nothing";
}

// Black bands of 6 rows at the top and 4 at the bottom around grey rows that alternate
// between two levels: a combed frame.
bool WriteBandedBmp(const std::string& path) {
    return test::WriteBytes(path, test::BmpBuilder(64, 48, 24)
                                      .Pixels24([](int32_t, int32_t y) -> uint32_t {
                                          if (y < 6 || y >= 44) {
                                              return 0;
                                          }
                                          return y % 2 == 0 ? 0x646464 : 0xC8C8C8;
                                      })
                                      .Build());
}

class PreviewTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteCombedBmp(dir.File("a.bmp"), 40, 30));
        ASSERT_TRUE(WriteCombedBmp(dir.File("b.bmp"), 8, 8));
        ASSERT_TRUE(WriteBandedBmp(dir.File("c.bmp")));
        dialog.AppendInputs({Path("a.bmp"), Path("b.bmp"), Path("c.bmp")});
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    QString Path(const std::string& name) { return QString::fromStdString(dir.File(name)); }
    QListWidget* List() { return Control<QListWidget>(&dialog, 1000); }
    QPoint RowCenter(int row) { return List()->visualItemRect(List()->item(row)).center(); }
    // The open preview once its job is done; nullptr when none opened.
    PreviewWindow* ShownPreview() {
        PreviewWindow* preview = dialog.Preview();
        if (preview) {
            EXPECT_TRUE(test::WaitFor([preview] { return !preview->IsBusy(); }));
        }
        return preview;
    }
    void ChooseFromContextMenu(QPoint inList) {
        QTimer::singleShot(20, [] {
            QWidget* popup = QApplication::activePopupWidget();
            ASSERT_NE(popup, nullptr);
            QTest::keyClick(popup, Qt::Key_Down);
            QTest::keyClick(popup, Qt::Key_Return);
        });
        const QPoint at = List()->viewport()->mapTo(&dialog, inList);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog.mapToGlobal(at));
        QApplication::sendEvent(&dialog, &event);
    }

    test::TempDir dir;
    test::FakeUi fake;
    CMainDialog dialog;
};

TEST_F(PreviewTest, OpensFromDoubleClickEnterAndContextMenu) {
    struct Case {
        const char* name;
        std::function<void()> open;
    };
    const Case cases[] = {
        {"double click",
         [&] {
             QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, RowCenter(1));
             QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, RowCenter(1));
         }},
        {"Enter",
         [&] {
             QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, RowCenter(1));
             List()->setFocus();
             QTest::keyClick(List(), Qt::Key_Return);
         }},
        {"context menu", [&] { ChooseFromContextMenu(RowCenter(1)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete dialog.Preview();
        List()->clearSelection();
        c.open();
        PreviewWindow* preview = ShownPreview();
        ASSERT_NE(preview, nullptr);
        EXPECT_TRUE(preview->isVisible());
        EXPECT_TRUE(dialog.isVisible()) << "Enter on an entry does not close the dialog";
        EXPECT_EQ(preview->Path(), Path("b.bmp"));
        EXPECT_EQ(preview->View()->Original().size(), QSize(8, 8));
        EXPECT_EQ(preview->InfoText(), "b.bmp — 8 × 8, BMP, 24 bits per pixel, written as BMP");
    }
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp"}))
        << "nothing written";
}

TEST_F(PreviewTest, DetectedBandsGoIntoTheDialog) {
    dialog.OnPreview(2);
    PreviewWindow* preview = ShownPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->DetectionText(),
              "Combing: 91.9 % (combed) — black bands: top 6, bottom 4 rows");
    auto* useBands = preview->findChild<QAbstractButton*>("useBands");
    ASSERT_TRUE(useBands->isEnabled());
    Control<QLineEdit>(&dialog, 1010)->setText("/typed/");
    useBands->click();
    EXPECT_TRUE(Control<QCheckBox>(&dialog, 1004)->isChecked());
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1005)->text(), "6");
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1006)->text(), "4");
    EXPECT_EQ(dialog.m_nClipTop, 6);
    EXPECT_EQ(dialog.m_strOutputFolder, "/typed/") << "other typing is kept";
    EXPECT_TRUE(preview->IsBusy()) << "the preview follows";

    // The bands belong to the picture shown: none while another loads, and a picture
    // without bands offers nothing to use.
    dialog.OnPreview(0);
    EXPECT_FALSE(useBands->isEnabled());
    preview = ShownPreview();
    EXPECT_FALSE(preview->findChild<QAbstractButton*>("useBands")->isEnabled());
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(PreviewTest, ABadRowCountOpensNoPreview) {
    Click(Control<QCheckBox>(&dialog, 1004));
    Control<QLineEdit>(&dialog, 1005)->setText("999");
    dialog.OnPreview(0);
    EXPECT_EQ(fake.MessageTexts(), QStringList({"Please enter an integer between 0 and 480."}));
    EXPECT_EQ(dialog.focusWidget(), FindControl(&dialog, 1005));
    EXPECT_EQ(dialog.Preview(), nullptr);
}

TEST_F(PreviewTest, FollowsEveryOptionWithinAMomentKeepingTheView) {
    dialog.OnPreview(0);
    PreviewWindow* preview = ShownPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->View()->Repaired().pixel(0, 1), qRgb(0, 0, 255));
    preview->View()->SetZoom(4);

    // None of these reads the controls into the dialog; the preview follows them anyway.
    struct Step {
        const char* name;
        std::function<void()> change;
        QPoint at;
        std::function<bool(QRgb)> shows;
    };
    const Step steps[] = {
        {"Deinterlace",
         [&] { Control<QCheckBox>(&dialog, 1003)->setChecked(true); },
         {0, 1},
         [](QRgb p) { return p == qRgb(127, 0, 127); }},
        {"method",
         [&] { Control<QComboBox>(&dialog, CMainDialog::kMethodId)->setCurrentIndex(1); },
         {0, 1},
         [](QRgb p) { return p == qRgb(255, 0, 0); }},
        {"typed Top",
         [&] {
             Control<QCheckBox>(&dialog, 1004)->setChecked(true);
             Control<QLineEdit>(&dialog, 1005)->setText("2");
         },
         {0, 1},
         [](QRgb p) { return p == qRgb(0, 0, 0); }},
        {"Soften",
         [&] { Control<QCheckBox>(&dialog, 1007)->setChecked(true); },
         {0, 2},
         [](QRgb p) { return qRed(p) > 0 && qRed(p) < 128; }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        EXPECT_TRUE(test::WaitFor([&] {
            return !preview->IsBusy() && step.shows(preview->View()->Repaired().pixel(step.at));
        }));
        EXPECT_EQ(preview->View()->Zoom(), 4);
    }
    EXPECT_EQ(dialog.m_bInterlace, 0) << "the members wait for the next read";

    // A row count out of range is not passed on.
    Control<QLineEdit>(&dialog, 1005)->setText("999");
    QTest::qWait(400);
    EXPECT_FALSE(preview->IsBusy());
    EXPECT_EQ(preview->View()->Repaired().pixel(0, 1), qRgb(0, 0, 0));
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(PreviewTest, ALongNameDoesNotWidenTheWindow) {
    const std::string longName = std::string(240, 'n') + ".bmp";
    ASSERT_TRUE(WriteCombedBmp(dir.File(longName), 8, 8));
    dialog.AppendInputs({Path(longName)});
    dialog.OnPreview(1);
    const int shortWidth = ShownPreview()->minimumSizeHint().width();
    dialog.OnPreview(3);
    EXPECT_EQ(ShownPreview()->minimumSizeHint().width(), shortWidth);
}

TEST_F(PreviewTest, ZoomButtonsSetTheirScale) {
    dialog.OnPreview(0);
    PreviewWindow* preview = ShownPreview();
    ASSERT_NE(preview, nullptr);
    PreviewView* view = preview->View();
    EXPECT_TRUE(view->IsFitting());
    const struct {
        const char* button;
        double zoom;
    } steps[] = {{"zoom1", 1}, {"zoom2", 2}, {"zoom4", 4}, {"zoomFit", 0}};
    for (const auto& step : steps) {
        preview->findChild<QAbstractButton*>(step.button)->click();
        EXPECT_EQ(view->IsFitting(), step.zoom == 0) << step.button;
        if (step.zoom != 0) {
            EXPECT_DOUBLE_EQ(view->Zoom(), step.zoom) << step.button;
        }
        EXPECT_TRUE(preview->findChild<QAbstractButton*>(step.button)->isChecked());
    }
    // The wheel leaves no fixed zoom checked.
    const QPoint middle = view->rect().center();
    QWheelEvent wheel(middle, view->mapToGlobal(middle), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    EXPECT_FALSE(view->IsFitting());
    for (const auto& step : steps) {
        EXPECT_FALSE(preview->findChild<QAbstractButton*>(step.button)->isChecked());
    }
}

TEST(PreviewView, WheelPanAndDividerMoveBothPartsTogether) {
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    PreviewView view;
    view.resize(100, 100);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.SetPictures(picture, picture, false);
    EXPECT_DOUBLE_EQ(view.Zoom(), 2.5) << "fit: 100 pixels for 40";
    view.SetZoom(4);
    const QPointF before = view.Center();
    EXPECT_EQ(before, QPointF(20, 15));

    // A notch zooms by a quarter about the pointer, here the middle.
    QWheelEvent wheel(QPointF(50, 50), view.mapToGlobal(QPointF(50, 50)), {}, QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    EXPECT_DOUBLE_EQ(view.Zoom(), 5);
    EXPECT_EQ(view.Center(), before);

    // Dragging 20 pixels left at 5:1 moves the picture 4 of its pixels.
    view.SetDivider(0.9);
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseMove(&view, QPoint(30, 50));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(30, 50));
    EXPECT_EQ(view.Center(), before + QPointF(4, 0));

    // Near the divider, the drag takes the divider and leaves the picture.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(88, 50));
    QTest::mouseMove(&view, QPoint(25, 50));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(25, 50));
    EXPECT_DOUBLE_EQ(view.Divider(), 0.25);
    EXPECT_EQ(view.Center(), before + QPointF(4, 0));

    // Panning stops at the picture's edge; side by side each part has half the width.
    view.SetCenter(QPointF(-100, 100));
    EXPECT_EQ(view.Center(), QPointF(10, 20));
    view.SetLayout(PreviewView::Layout::SideBySide);
    EXPECT_EQ(view.LeftArea().width(), view.RightArea().width());
    view.ZoomToFit();
    EXPECT_DOUBLE_EQ(view.Zoom(), 48.0 / 40);
}

TEST(PreviewView, FromTwoToOneEveryPixelIsASquare) {
    QImage combed(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < combed.height(); ++y) {
        const QRgb color = y % 2 == 0 ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
        for (int x = 0; x < combed.width(); ++x) {
            combed.setPixel(x, y, color);
        }
    }
    PreviewView view;
    view.resize(100, 100);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.SetPictures(combed, combed, false);
    view.SetLayout(PreviewView::Layout::SideBySide);
    for (double zoom : {1.5, 2.0, 4.0}) {
        SCOPED_TRACE(zoom);
        view.SetZoom(zoom);
        const QImage shot = view.grab().toImage();
        // Down the middle of the left part, below the caption: runs of `zoom` rows.
        const int x = view.LeftArea().center().x();
        int run = 0, changes = 0, blends = 0;
        for (int y = 30; y < 80; ++y) {
            const QRgb pixel = shot.pixel(x, y);
            if (pixel != qRgb(255, 0, 0) && pixel != qRgb(0, 0, 255)) {
                ++blends;
            } else if (y > 30 && pixel != shot.pixel(x, y - 1)) {
                EXPECT_TRUE(zoom < 2 || changes == 0 || run == int(zoom)) << run << " at " << y;
                ++changes;
                run = 0;
            }
            ++run;
        }
        EXPECT_EQ(blends == 0, zoom >= 2) << blends << " blended pixels";
        // The right part shows the same place of its picture.
        const QRect left = view.LeftArea().adjusted(0, 30, 0, -10);
        const QRect right = left.translated(view.RightArea().left() - left.left(), 0);
        EXPECT_EQ(shot.copy(left), shot.copy(right));
    }
}

}  // namespace
}  // namespace tessary
