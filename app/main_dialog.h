#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QStringList>
#include <optional>

#include "app/dialog_engine.h"
#include "app/preview_window.h"
#include "batch/batch_run.h"

class QFontMetrics;
class QMenu;
class QTimer;
class QUrl;

namespace tessary {

struct FileDialogRequest;

// The one main window: the input list, the three options with the two row counts,
// the output location and the commands. Commands copy the controls into the members
// before they act and the members back into the controls afterwards.
class CMainDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kAboutBoxCommand = 16;   // the About item of the window menu
    static constexpr int kCloseCommand = 0xF060;  // the Close item of the window menu

    enum ControlId {
        kCloseId = 1,
        kCancelId = 2,
        kListId = 1000,
        kAddId = 1001,
        kRemoveId = 1002,
        kDeinterlaceId = 1003,
        kClipId = 1004,
        kTopId = 1005,
        kBottomId = 1006,
        kSoftenId = 1007,
        kProcessId = 1008,
        kOutputId = 1010,
        kBrowseId = 1011,
        // Beside the controls of the template.
        kMethodId = 1012,
        kAutoClipId = 1013,
        kOnlyCombedId = 1014,
        kFormatId = 1015,
        kQualityId = 1016,
        kMetadataId = 1017,
        kPreviewId = 1018,
        kWritesId = 1019,   // where the selected (or first) file will be written
        kRunLineId = 1020,  // what the last run wrote
    };

    explicit CMainDialog(QWidget* parent = nullptr);

    // Settings load, the modal run, settings save; returns the modal result.
    int DoModal();
    void LoadSettings();
    void SaveSettings();

    // The exchange: saving = true reads the controls into the members and reports
    // whether every field was valid; false writes the members into the controls.
    bool UpdateData(bool saving);

    void RefreshControls();
    void OnAddInputs();
    void OnRemoveInputs();
    void OnBrowseOutput();
    void OnProcess();
    // Opens the preview of list entry row with the options read as Process reads them;
    // a failed read has shown its message and opens nothing.
    void OnPreview(int row);
    // Ticks Clip and puts the rows into Top and Bottom, then refreshes the controls.
    void OnUseBands(int32_t top, int32_t bottom);
    void OnOK();
    void OnCancel();
    void OnSysCommand(int command);
    // Removes the first entry equal to text; false when there is none.
    bool RemoveInputPath(const QString& text);

    // The window menu: Close, a separator, then "&About Tessary...". Each action's
    // data is its command id.
    QMenu* BuildWindowMenu(QWidget* parent);
    // The filters of the open dialog, the first one active.
    static QStringList InputNameFilters();
    // The preview window, while one is open.
    PreviewWindow* Preview() const { return m_pPreview; }

    // The name patterns of the images the program reads, as in "All supported files".
    static QStringList SupportedImagePatterns();

    // Appends paths to the list and its box, as Add does with the chosen files.
    void AppendInputs(const QStringList& paths);
    // Makes folder (with a trailing separator added) the output location, as browsing does.
    void SetOutputLocation(const QString& folder);

    BatchSettings Settings() const;
    void SetSettings(const BatchSettings& settings);
    // Every option as the members hold them, and back.
    DialogOptions Options() const;
    void SetOptions(const DialogOptions& options);
    // The options as the controls show them now, without reading them into the members or
    // showing any message; false while Top or Bottom holds no valid row count.
    bool PeekOptions(DialogOptions* options) const;
    // Adds files and folders as a drop adds them (a folder: its pictures and its subfolders').
    void AddPaths(const QStringList& paths);

    // The persisted options, as the dialog holds them.
    int32_t m_bClip = 0;
    int32_t m_bInterlace = 0;
    int32_t m_bSoftenBorders = 0;
    int32_t m_nClipBottom = 0;
    int32_t m_nClipTop = 0;
    QString m_strOutputFolder;
    QIcon m_hIcon;
    QStringList m_inputPaths;
    // The options beside the five.
    DeinterlaceMethod m_method = DeinterlaceMethod::Average;
    bool m_bAutoClip = false;
    bool m_bOnlyCombed = false;
    std::optional<OutputFormat> m_format;  // unset: as the input's name
    int m_nJpegQuality = kJpegBestQuality;
    bool m_bKeepMetadata = true;
    // Threads a run uses; 0: one per processor, as the engine counts them.
    unsigned m_nRunWorkers = 0;

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnInitDialog();
    void ConnectCommands();
    void AddNewerControls();
    void LayOutControls();
    void SetNewerTabOrder();
    void ConnectLiveUpdates();
    void ExchangeNewer(bool saving);
    void UpdateWritesLine();
    void FollowInPreview();
    bool RefuseRelativeLocation(const QString& location);
    bool ConfirmPlan(const DialogPlan& plan);
    void ShowRunLine(const RunTally& tally, const DialogPlan& plan);
    std::optional<OutputFormat> ShownFormat() const;
    bool ExchangeCheck(int id, int32_t& member, bool saving);
    bool ExchangeRowCount(int id, int32_t& member, bool saving);
    void FailField(int id, const QString& message);
    void SetEnabledStates();
    FileDialogRequest InputDialogRequest() const;
    void AcceptDropsOnListAndOutput();
    bool HandleListDrag(QEvent* event);
    bool HandleOutputDrag(QEvent* event);

    int SelectedRow() const;
    int PreviewRowAt(QPoint at) const;

    bool m_bInitialised = false;
    // The options reach an open preview only after a read that succeeded.
    bool m_bLastReadValid = true;
    // The last Top and Bottom that were in range: what is stored when the fields are not.
    int32_t m_nValidTop = 0;
    int32_t m_nValidBottom = 0;
    QPointer<PreviewWindow> m_pPreview;
    QTimer* m_pPreviewDelay = nullptr;
};

// An integer field's text as the exchange reads it: blanks and tabs around an optional
// sign and digits, of the first 31 characters only; 0 only when written with a leading
// "0". Saturates at the 32-bit limits. False for anything else.
bool ParseFieldInteger(const QString& text, int32_t* value);

// Paths in their order: a file as it is, a folder as the pictures in it and in its
// subfolders, sorted by path.
QStringList ExpandedInputPaths(const QStringList& paths);
// Local paths of dropped URLs, expanded as above. Anything not local is left out.
QStringList InputPathsFromUrls(const QList<QUrl>& urls);
// The first dropped URL when it names a local folder, else empty.
QString FolderFromUrls(const QList<QUrl>& urls);
// The question before a run that would replace originals: how many, and the first.
QString ReplaceQuestion(const ReplacedOriginals& replaced);
// The question before a run in which two inputs would write the same output.
QString SharedOutputQuestion(const SharedOutputs& shared);

// "~" and "~/..." as the home folder; anything else as it is.
QString ExpandHome(const QString& location);
// path fitted into width: whole when it fits, else its folder elided in the middle so that the
// file name stays whole, else the name itself elided.
QString ElidedPath(const QFontMetrics& metrics, const QString& path, int width);

// folder with one trailing "/", as the output location takes it.
QString WithTrailingSeparator(const QString& folder);

}  // namespace tessary
