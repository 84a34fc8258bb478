#pragma once

#include <QFont>
#include <QLineEdit>
#include <QRect>
#include <QWidget>

#include "app/resources/dialog_templates.h"

class QDialog;

namespace tessary {

// The dynamic property that carries a control's id on its widget.
inline constexpr const char* kControlIdProperty = "controlId";

// Pixels per dialog unit come from the dialog font: x × average character width / 4,
// y × character height / 8.
struct DialogBaseUnits {
    int avgCharWidth = 0;
    int charHeight = 0;
};

// The dialogs' font: the platform's default family at the template's point size.
QFont DialogFont(int pointSize);
DialogBaseUnits BaseUnitsFor(const QFont& font);
// A dialog-unit rectangle in pixels; each edge is converted and rounded on its own,
// so neighbouring controls keep meeting where they met.
QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);

// Gives the dialog its caption, font and fixed size and creates every control of
// the template as a child widget at its converted place.
void BuildDialog(QDialog& dialog, const DialogTemplate& layout);

// The widget inside the dialog's window carrying that control id, or nullptr.
QWidget* FindControl(const QWidget* dialog, int id);
template <typename T>
T* FindControlAs(const QWidget* dialog, int id) {
    return qobject_cast<T*>(FindControl(dialog, id));
}

// An edit whose keyboard accepts only digits; pasted or programmatic text is not
// filtered, so reading the field still has to check it.
class DigitsOnlyEdit : public QLineEdit {
    Q_OBJECT
  public:
    using QLineEdit::QLineEdit;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tessary
