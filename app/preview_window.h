#pragma once

#include <QFutureWatcher>
#include <QWidget>

#include "app/dialog_engine.h"
#include "app/preview_render.h"
#include "batch/batch_run.h"

class QAbstractButton;
class QButtonGroup;
class QLabel;

namespace tessary {

class PreviewView;

// A modeless window showing one input as loaded beside the same picture as a run would
// write it with the main dialog's options. Loading and repairing run on a worker thread;
// the window never writes a file.
class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewWindow(QWidget* parent);
    ~PreviewWindow() override;

    // Shows path as a run with these options would write it, fitted to the window.
    void ShowPicture(const QString& path, const DialogOptions& options);
    // The options changed: the same picture is repaired again when they differ, at the
    // same zoom and place.
    void SetOptions(const DialogOptions& options);

    const QString& Path() const { return m_strPath; }
    bool IsBusy() const { return m_bBusy; }
    PreviewView* View() const { return m_pView; }
    QString InfoText() const;
    QString DetectionText() const;

  signals:
    // A job's picture, or why there is none, is on show.
    void Shown();
    // "Use these bands": clip these rows at the top and the bottom.
    void UseBands(int32_t top, int32_t bottom);

  private:
    QWidget* MakeToolBar();
    QWidget* MakeDetectionRow();
    void ShowDetection(const PreviewPicture& picture);
    void StartRender(bool keepView);
    void OnRendered();
    void ShowZoom();

    QString m_strPath;
    QString m_strShownPath;  // the picture on show, whose bands "Use these bands" gives
    DialogOptions m_options;
    bool m_bBusy = false;
    bool m_bPending = false;  // a request came in while a job ran
    bool m_bKeepView = false;
    QFutureWatcher<PreviewPicture> m_watcher;

    PreviewView* m_pView = nullptr;
    QLabel* m_pInfo = nullptr;
    QLabel* m_pDetection = nullptr;
    QAbstractButton* m_pUseBands = nullptr;
    int32_t m_nBandTop = 0;
    int32_t m_nBandBottom = 0;
    QLabel* m_pZoom = nullptr;
    QButtonGroup* m_pZoomButtons = nullptr;
};

}  // namespace tessary
