#pragma once

#include <QObject>
#include <cstdint>

namespace tessary {

// The application object: start-up, the modal main dialog, and the answer to F1.
class CBatchApp : public QObject {
    Q_OBJECT
  public:
    static constexpr unsigned kHelpCommand = 57670;

    // Makes the QApplication, then InitInstance. The process exit status.
    static int Run(int& argc, char** argv);

    // Names the settings store, runs the main dialog modally with the settings loaded
    // before and saved after, and returns false: there is nothing left to run.
    bool InitInstance();
    // No help file exists; says so.
    void WinHelp(uintptr_t data, unsigned command);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool m_bHelpShowing = false;
};

}  // namespace tessary
