// Process: the plan checked and confirmed, then the engine's parallel run on a thread of its
// own while the progress window shows it and takes Cancel.
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "app/dialog_builder.h"
#include "app/main_dialog.h"
#include "app/progress_dialog.h"
#include "app/ui_services.h"

namespace tessary {
namespace {

// How often the progress window is brought up to date while the engine runs.
constexpr int kProgressTickMs = 40;

QString FromLocal(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

std::string ToLocal(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

// Shows the tally in the progress window and passes a cancel request on to the engine.
void ShowProgress(const RunTally& tally, ProgressSink& progress, std::atomic<bool>& stop,
                  bool& cancelled) {
    progress.SetStatus(tally.status);
    // The bar shows the files finished; it never stands at the end while the run goes on.
    const std::size_t shown = std::min(tally.finished, tally.total - 1);
    progress.SetPos(static_cast<int32_t>(shown));
    if (progress.PollCancel() != 0) {
        cancelled = true;
        stop.store(true);
    }
}

// The plan run on the engine's workers from a thread of its own; this thread keeps the
// windows alive meanwhile. Returns once every started file is finished.
RunTally RunWithProgress(const DialogPlan& plan, unsigned workers, ProgressSink& progress) {
    RunTallyListener listener(plan.run.batch.jobs.size());
    progress.SetRange(0, static_cast<int32_t>(plan.run.batch.jobs.size()));
    progress.Create();  // without a window the run goes on; it just can't be cancelled
    std::atomic<bool> stop{false};
    bool cancelled = false;
    QEventLoop loop;
    std::string folderError;
    const auto run = [&] {
        folderError = RunDialogPlan(plan, workers, stop, listener).folderError;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    };
    QTimer tick;
    tick.setInterval(kProgressTickMs);
    QObject::connect(&tick, &QTimer::timeout, &loop,
                     [&] { ShowProgress(listener.Snapshot(), progress, stop, cancelled); });
    ShowProgress(listener.Snapshot(), progress, stop, cancelled);
    try {
        std::thread engine(run);
        tick.start();
        loop.exec();
        engine.join();
    } catch (const std::system_error&) {
        run();  // no thread to be had: run here, with the windows still until the end
    }
    tick.stop();
    RunTally tally = listener.Snapshot();
    tally.folderError = folderError;
    tally.cancelled = cancelled || progress.PollCancel() != 0;
    if (tally.cancelled) {
        progress.ShowMessage(kCancelMessage);
    }
    progress.Destroy();
    return tally;
}

}  // namespace

QString SharedOutputQuestion(const SharedOutputs& shared) {
    const QString pair =
        QStringLiteral("%1\n%2\nboth write %3")
            .arg(FromLocal(shared.first), FromLocal(shared.second), FromLocal(shared.output));
    if (shared.count == 1) {
        return QStringLiteral(
                   "Two inputs would write the same output, and the later would replace the "
                   "earlier:\n%1\n\nWrite it anyway?")
            .arg(pair);
    }
    return QStringLiteral(
               "%1 outputs would each be written by more than one input, the later replacing "
               "the earlier; the first of them:\n%2\n\nWrite them anyway?")
        .arg(QString::fromStdString(FormatCount(shared.count)), pair);
}

bool CMainDialog::RefuseRelativeLocation(const QString& location) {
    if (QDir::isAbsolutePath(location)) {
        return false;
    }
    Ui().ShowMessage(this, tr("The output location must be a full path, such as "
                              "/home/me/repaired/ or ~/repaired/.\n\"%1\" is not one.")
                               .arg(m_strOutputFolder));
    auto* output = FindControlAs<QLineEdit>(this, kOutputId);
    output->setFocus(Qt::OtherFocusReason);
    output->selectAll();
    return true;
}

bool CMainDialog::ConfirmPlan(const DialogPlan& plan) {
    if (plan.run.batch.replaced.count > 0 &&
        !Ui().AskYesNo(this, ReplaceQuestion(plan.run.batch.replaced))) {
        return false;
    }
    return plan.run.batch.shared.count == 0 ||
           Ui().AskYesNo(this, SharedOutputQuestion(plan.run.batch.shared));
}

void CMainDialog::ShowRunLine(const RunTally& tally, const DialogPlan& plan) {
    const QString folder = FromLocal(plan.place.folder);
    QString text;
    if (tally.written == tally.total) {
        text = tally.total == 1
                   ? tr("1 file written to %1").arg(folder)
                   : tr("%1 files written to %2")
                         .arg(QString::fromStdString(FormatCount(tally.total)), folder);
    } else {
        text = tr("%1 of %2 files written to %3")
                   .arg(QString::fromStdString(FormatCount(tally.written)),
                        QString::fromStdString(FormatCount(tally.total)), folder);
    }
    FindControlAs<QLabel>(this, kRunLineId)->setText(text);
}

void CMainDialog::OnProcess() {
    // A bad Top or Bottom has been reported with the focus on it; running with the
    // members as the failed read left them would write pictures nobody asked for.
    if (!UpdateData(true)) {
        return;
    }
    const QString location = ExpandHome(m_strOutputFolder);
    if (RefuseRelativeLocation(location)) {
        return;
    }
    std::vector<std::string> inputs;
    inputs.reserve(static_cast<size_t>(m_inputPaths.size()));
    for (const QString& path : m_inputPaths) {
        inputs.push_back(ToLocal(path));
    }
    const DialogOptions options = Options();
    const DialogPlan plan = PlanDialogRun(inputs, ToLocal(location), options);
    if (!ConfirmPlan(plan)) {
        return;
    }
    FindControlAs<QLabel>(this, kRunLineId)->clear();
    RunTally tally;
    {
        CProgressDialog progress(this);
        tally = RunWithProgress(plan, m_nRunWorkers, progress);
    }
    ShowRunLine(tally, plan);
    // Once, at the end, after "Rendering canceled" if the run was cancelled.
    const std::string summary = RunSummary(tally);
    if (!summary.empty()) {
        Ui().ShowMessage(this, FromLocal(summary));
    }
}

}  // namespace tessary
