#pragma once

#include <QDialog>
#include <QPointer>

#include "batch/batch_run.h"

class QLabel;
class QProgressBar;

namespace tessary {

// The modeless window over the main dialog during a run: status text, bar, percent
// label and Cancel. While it exists its parent is disabled. Cancel, Escape, Enter and
// the close box only record a request, which the run collects with PollCancel.
class CProgressDialog : public QDialog, public ProgressSink {
    Q_OBJECT
  public:
    // captionId 0 selects "Rendering". The parent is the window Create disables.
    explicit CProgressDialog(QWidget* parent, unsigned captionId = 0);
    ~CProgressDialog() override;

    // ProgressSink
    void SetRange(int32_t lower, int32_t upper) override;
    bool Create() override;
    void SetStatus(const std::string& text) override;
    void SetPos(int32_t position) override;  // see SetPosition for the previous position
    int PollCancel() override;
    void ShowMessage(const std::string& text) override;
    void Destroy() override;

    // Moves the bar and returns where it was.
    int SetPosition(int32_t position);
    bool WindowExists() const { return m_bWindowExists; }

    void OnCancel();
    void OnOK() {}

  protected:
    void reject() override { OnCancel(); }
    void accept() override { OnOK(); }
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnInitDialog();
    void DestroyWindow();
    void ReenableParent();
    void UpdatePercent(int32_t position);
    static void PumpMessages();

    QPointer<QWidget> m_pParent;
    QProgressBar* m_pBar = nullptr;
    unsigned m_nCaptionId;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nStep = 10;
    int m_bCancel = 0;
    int m_bParentDisabled = 0;
    bool m_bWindowExists = false;
};

// The percent text for a position within lower..upper: the share truncated toward zero,
// kept below 100 by a remainder unless it is exactly 100. An empty range shows 0%.
QString PercentText(int32_t position, int32_t lower, int32_t upper);

}  // namespace tessary
