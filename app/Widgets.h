// Small controls of the setup window: the indicator lamp and the file-name field.
#pragma once

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QTimer>
#include <QWidget>

#include <functional>

class QToolButton;

// Lamp is a round indicator lamp: steady it shows its on colour; blinking it alternates
// between the on and off colours every BlinkInterval milliseconds.
class Lamp : public QWidget {
 public:
  Lamp(QColor onColor, QColor offColor, QWidget* parent = nullptr);

  void SetBlinking(bool blinking);
  bool Blinking() const { return timer_.isActive(); }
  QColor CurrentColor() const { return lit_ ? on_ : off_; }
  static constexpr int BlinkInterval = 500;

  QSize sizeHint() const override { return {18, 18}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor on_;
  QColor off_;
  bool lit_ = true;
  QTimer timer_;
};

// TElidedLabel shows one line of text, cut with "…" where it does not fit; the whole text is
// its tooltip. It never asks for more width than it gets, so a long text leaves the layout
// as it is.
class TElidedLabel : public QLabel {
 public:
  explicit TElidedLabel(QWidget* parent = nullptr);
  void SetFullText(const QString& text);
  QString FullText() const { return full_; }
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Elide();
  QString full_;
};

// TPasswordStyle draws the characters of a password field as "*".
class TPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                const QWidget* widget = nullptr,
                QStyleHintReturn* returnData = nullptr) const override {
    if (hint == SH_LineEdit_PasswordCharacter)
      return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// TFileNameEdit is a file-name field: it holds a path and shows the file's name, with the
// whole path as its tooltip, beside a button that picks a file with a file-open dialog
// listing all files. A click into the field or Space opens the dialog too; Delete and
// Backspace empty it. The dialog starts in the folder of the field's file, else of the file
// last chosen in any such field, else in the home folder. The dialog is replaceable (tests),
// and a chosen file replaces the path and fires textChanged.
class TFileNameEdit : public QWidget {
  Q_OBJECT
 public:
  using FilePicker = std::function<QString(QWidget* parent, const QString& startFolder)>;

  explicit TFileNameEdit(QWidget* parent = nullptr);

  QString text() const { return path_; }
  void setText(const QString& text);
  void clear() { setText(QString()); }
  QLineEdit* Edit() const { return edit_; }
  QToolButton* Button() const { return button_; }
  // SetHint: the tooltip while the field is empty.
  void SetHint(const QString& hint);
  // StartFolder is where the dialog opens.
  QString StartFolder() const;

  // SetLastFolder sets the folder of the file last chosen, where an empty field's dialog
  // opens (empty: the home folder).
  static void SetLastFolder(const QString& folder);
  // SetFilePicker replaces the dialog for every file-name field (empty = the real dialog).
  static void SetFilePicker(FilePicker picker);
  // Browse opens the dialog and takes the chosen file, if any.
  void Browse();

 signals:
  void textChanged(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* edit_;
  QToolButton* button_;
  QString path_;
  QString hint_;
};

class QDateTimeEdit;

// SelectSectionOnClick makes a click into a time or date field select the section it hits
// (hours, minutes, day, ...), so digits typed next fill that section as in any date field.
void SelectSectionOnClick(QDateTimeEdit* field);

// KeepOnScreen moves a pop-up window that would reach past its screen's edges back inside
// them each time it is shown.
void KeepOnScreen(QWidget* popup);
