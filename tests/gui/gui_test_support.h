#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/dialog_builder.h"
#include "app/ui_services.h"

class QAbstractButton;

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tessary::test {

// Stands in for message boxes and file dialogs: records what was asked, answers
// from scripts. Installed for its lifetime.
class FakeUi : public UiServices {
  public:
    struct Message {
        QString text;
        QWidget* parent;
    };

    FakeUi() { SetUiServices(this); }
    ~FakeUi() override { SetUiServices(nullptr); }

    void ShowMessage(QWidget* parent, const QString& text) override {
        messages.push_back({text, parent});
        if (onMessage) {
            onMessage(text);
        }
    }
    QStringList GetOpenFileNames(QWidget*, const FileDialogRequest& request) override {
        openRequests.push_back(request);
        return Next(openAnswers);
    }
    bool AskYesNo(QWidget* parent, const QString& text) override {
        questions.push_back({text, parent});
        return Next(yesNoAnswers);
    }
    QString GetExistingFolder(QWidget*, const QString& startFolder) override {
        folderRequests.push_back(startFolder);
        return Next(folderAnswers);
    }

    QStringList MessageTexts() const {
        QStringList texts;
        for (const Message& m : messages) {
            texts << m.text;
        }
        return texts;
    }

    std::vector<Message> messages;
    std::function<void(const QString&)> onMessage;
    std::deque<QStringList> openAnswers;  // an empty list is a cancelled dialog
    std::deque<QString> folderAnswers;    // an empty text is a cancelled dialog
    std::deque<bool> yesNoAnswers;        // No once the script runs out
    std::vector<FileDialogRequest> openRequests;
    std::vector<QString> folderRequests;
    std::vector<Message> questions;

  private:
    template <typename T>
    static T Next(std::deque<T>& answers) {
        if (answers.empty()) {
            return T();
        }
        T answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// Points the per-user store at a fresh folder and empties it.
void ResetSettingsStore();
// The value stored under Settings/name, or an invalid QVariant.
QVariant StoredSetting(const QString& name);
void StoreSetting(const QString& name, const QVariant& value);

// A left click where a user would click: near the left edge, half way down.
void Click(QAbstractButton* button);
// Replaces a field's text by typing, as a user would.
void TypeInto(QWidget* field, const QString& text);

// Runs action once a modal widget other than `below` is on top; polls from the event
// loop, so call it before starting the modal run.
void WhenModal(std::function<void(QWidget*)> action, QWidget* below = nullptr);
// Processes events until done() holds or the time runs out; returns done().
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// A tiny real 24-bit BMP file: width x height of one colour.
bool WriteSolidBmp(const std::string& path, int width, int height, uint8_t red, uint8_t green,
                   uint8_t blue);

template <typename T>
T* Control(const QWidget* dialog, int id) {
    T* widget = FindControlAs<T>(dialog, id);
    if (!widget) {
        ADD_FAILURE() << "no control " << id;
    }
    return widget;
}

}  // namespace tessary::test
