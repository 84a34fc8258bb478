// The dialog and the command-line program, given the same options, write the same bytes.
#include <QProcess>
#include <QPushButton>

#include "app/main_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

constexpr const char* kSamples[] = {"interlaced-1.jpg", "interlaced-2.gif", "interlaced-3.bmp"};

// The first sample with a comment after its start marker: metadata to keep or to drop.
test::Bytes CommentedJpeg() {
    test::Bytes bytes = test::ReadBytes(std::string(TESSARY_SAMPLES_DIR) + "/" + kSamples[0]);
    const std::string text = "captured 1999-12-31";
    const uint16_t length = static_cast<uint16_t>(text.size() + 2);
    test::Bytes segment = {0xFF, 0xFE, uint8_t(length >> 8), uint8_t(length & 0xFF)};
    segment.insert(segment.end(), text.begin(), text.end());
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    return bytes;
}

struct Case {
    const char* name;
    QStringList cliOptions;
    DialogOptions options;
};

DialogOptions With(DeinterlaceMethod method, std::optional<OutputFormat> format) {
    DialogOptions options;
    options.m_bInterlace = 1;
    options.method = method;
    options.format = format;
    return options;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    const std::pair<DeinterlaceMethod, const char*> methods[] = {
        {DeinterlaceMethod::Average, "average"},
        {DeinterlaceMethod::Top, "top"},
        {DeinterlaceMethod::Bottom, "bottom"},
        {DeinterlaceMethod::Adaptive, "adaptive"}};
    for (const auto& [method, methodName] : methods) {
        cases.push_back({methodName,
                         {QStringLiteral("--deinterlace=%1").arg(methodName)},
                         With(method, std::nullopt)});
        for (const OutputFormatEntry& entry : NamedOutputFormats()) {
            cases.push_back({entry.name,
                             {QStringLiteral("--deinterlace=%1").arg(methodName),
                              QStringLiteral("--format=%1").arg(entry.name)},
                             With(method, entry.format)});
        }
    }
    DialogOptions banded = With(DeinterlaceMethod::Adaptive, std::nullopt);
    banded.m_bClip = 1;
    banded.m_nClipTop = 7;  // not used: the bands found are
    banded.autoClip = true;
    banded.m_bSoftenBorders = 1;
    banded.onlyCombed = true;
    cases.push_back({"auto bands, soften, only combed",
                     {"--deinterlace=adaptive", "-c", "auto", "-s", "--only-combed"},
                     banded});
    DialogOptions typed;
    typed.m_bClip = 1;
    typed.m_nClipTop = 8;
    typed.m_nClipBottom = 4;
    typed.jpegQuality = 75;
    typed.keepMetadata = false;
    cases.push_back(
        {"typed bands, quality, no metadata", {"-c", "8:4", "--quality", "75", "--strip"}, typed});
    return cases;
}

void RunDialog(const QStringList& inputs, const std::string& folder, const DialogOptions& options) {
    test::FakeUi fake;
    CMainDialog dialog;
    dialog.SetOptions(options);
    dialog.m_strOutputFolder = QString::fromStdString(folder) + "/";
    dialog.AppendInputs(inputs);
    dialog.show();
    test::Click(test::Control<QPushButton>(&dialog, CMainDialog::kProcessId));
    EXPECT_TRUE(fake.messages.empty()) << fake.MessageTexts().join("\n").toStdString();
}

int RunCli(const QStringList& inputs, const std::string& folder, const QStringList& options) {
    QProcess cli;
    cli.start(QStringLiteral(TESSARY_BATCH_BINARY),
              options + QStringList{"-q", "-o", QString::fromStdString(folder)} + inputs);
    cli.waitForFinished(60000);
    return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

TEST(SameBytes, DialogAndCommandLineWriteTheSameFiles) {
    test::TempDir in;
    QStringList inputs;
    for (const char* name : kSamples) {
        inputs << QStringLiteral(TESSARY_SAMPLES_DIR "/") + name;
    }
    ASSERT_TRUE(test::WriteBytes(in.File("commented.jpg"), CommentedJpeg()));
    inputs << QString::fromStdString(in.File("commented.jpg"));

    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name + (" " + c.cliOptions.join(' ').toStdString()));
        test::TempDir fromDialog, fromCli;
        RunDialog(inputs, fromDialog.Path(), c.options);
        ASSERT_EQ(RunCli(inputs, fromCli.Path(), c.cliOptions), 0);
        const std::vector<std::string> names = fromCli.List();
        ASSERT_EQ(fromDialog.List(), names);
        EXPECT_EQ(names.size(), std::size_t(inputs.size()));
        for (const std::string& name : names) {
            EXPECT_TRUE(test::ReadBytes(fromDialog.File(name)) ==
                        test::ReadBytes(fromCli.File(name)))
                << name;
        }
    }
}

}  // namespace
}  // namespace tessary
