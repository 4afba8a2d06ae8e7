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

// TFileNameEdit is a text field with a button that picks a file with a file-open dialog
// listing all files; a click into the text opens the dialog too. The dialog is replaceable
// (tests), and a chosen file replaces the text and fires textChanged.
class TFileNameEdit : public QWidget {
  Q_OBJECT
 public:
  using FilePicker = std::function<QString(QWidget* parent, const QString& current)>;

  explicit TFileNameEdit(QWidget* parent = nullptr);

  QString text() const { return edit_->text(); }
  void setText(const QString& text) { edit_->setText(text); }
  void clear() { edit_->clear(); }
  QLineEdit* Edit() const { return edit_; }
  QToolButton* Button() const { return button_; }

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
};
