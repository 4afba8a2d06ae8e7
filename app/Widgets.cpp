#include "app/Widgets.h"

#include <QDateTimeEdit>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

#include "app/Dialogs.h"

Lamp::Lamp(QColor onColor, QColor offColor, QWidget* parent)
    : QWidget(parent), on_(onColor), off_(offColor) {
  timer_.setInterval(BlinkInterval);
  connect(&timer_, &QTimer::timeout, this, [this] {
    lit_ = !lit_;
    update();
  });
  setFixedSize(sizeHint());
}

void Lamp::SetBlinking(bool blinking) {
  if (blinking) {
    timer_.start();
  } else {
    timer_.stop();
    lit_ = true;
  }
  update();
}

void Lamp::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor c = CurrentColor();
  QRadialGradient g(rect().center() - QPoint(2, 2), width() / 2.0);
  g.setColorAt(0, c.lighter(160));
  g.setColorAt(1, c);
  p.setBrush(g);
  p.setPen(QPen(c.darker(160), 1));
  p.drawEllipse(rect().adjusted(1, 1, -1, -1));
}

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TElidedLabel::SetFullText(const QString& text) {
  full_ = text;
  setToolTip(text);
  setAccessibleName(text);
  Elide();
}

QSize TElidedLabel::minimumSizeHint() const {
  return {0, QLabel::minimumSizeHint().height()};
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void TElidedLabel::Elide() {
  QString line = full_;
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  setText(fontMetrics().elidedText(line, Qt::ElideRight, width()));
}

namespace {
TFileNameEdit::FilePicker& Picker() {
  static TFileNameEdit::FilePicker picker;
  return picker;
}
}  // namespace

TFileNameEdit::TFileNameEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  button_->setText(QStringLiteral("…"));
  button_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  button_->setFocusPolicy(Qt::StrongFocus);
  // The path is chosen, not typed: the field shows the file's name, the dialog picks it.
  edit_->setReadOnly(true);
  edit_->installEventFilter(this);
  connect(button_, &QToolButton::clicked, this, dialogs::Guard([this] { Browse(); }));
}

namespace {
QString& LastFolder() {
  static QString folder;
  return folder;
}
}  // namespace

void TFileNameEdit::setText(const QString& text) {
  if (text == path_)
    return;
  path_ = text;
  edit_->setText(text.isEmpty() ? QString() : QFileInfo(text).fileName());
  edit_->setCursorPosition(0);
  edit_->setToolTip(text.isEmpty() ? hint_ : text);
  setToolTip(edit_->toolTip());
  emit textChanged(text);
}

void TFileNameEdit::SetHint(const QString& hint) {
  hint_ = hint;
  if (path_.isEmpty()) {
    edit_->setToolTip(hint);
    setToolTip(hint);
  }
}

QString TFileNameEdit::StartFolder() const {
  if (!path_.isEmpty()) {
    const QFileInfo file(path_);
    if (file.dir().exists())
      return file.absolutePath();
  }
  if (!LastFolder().isEmpty() && QDir(LastFolder()).exists())
    return LastFolder();
  return QDir::homePath();
}

void TFileNameEdit::SetLastFolder(const QString& folder) {
  LastFolder() = folder;
}

void TFileNameEdit::SetFilePicker(FilePicker picker) {
  Picker() = std::move(picker);
}

void TFileNameEdit::Browse() {
  const QString start = StartFolder();
  const QString chosen = Picker()
                             ? Picker()(this, start)
                             : QFileDialog::getOpenFileName(this, QString(), start,
                                                            QStringLiteral("Všechny soubory (*)"));
  if (chosen.isEmpty())
    return;
  LastFolder() = QFileInfo(chosen).absolutePath();
  setText(chosen);
}

bool TFileNameEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && isEnabled()) {
    if (event->type() == QEvent::MouseButtonRelease) {
      dialogs::Guarded([this] { Browse(); });
      return true;
    }
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
        clear();
        return true;
      }
      if (key == Qt::Key_Space) {
        dialogs::Guarded([this] { Browse(); });
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

namespace {

class SectionClickFilter : public QObject {
 public:
  explicit SectionClickFilter(QDateTimeEdit* field) : QObject(field), field_(field) {}
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    // The press has put the cursor where the click hit, and the field has taken that
    // section as its current one; selecting it lets the next digits replace it.
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
      field_->setSelectedSection(field_->currentSection());
    return false;
  }

 private:
  QDateTimeEdit* field_;
};

class OnScreenFilter : public QObject {
 public:
  explicit OnScreenFilter(QWidget* popup) : QObject(popup), popup_(popup) {}
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Show || event->type() == QEvent::Move ||
        event->type() == QEvent::Resize)
      Clamp();
    return false;
  }

 private:
  void Clamp() {
    const QScreen* screen = popup_->screen();
    if (!screen)
      return;
    const QRect area = screen->availableGeometry();
    const QRect frame = popup_->frameGeometry();
    QPoint at = frame.topLeft();
    at.setX(std::max(area.left(), std::min(at.x(), area.right() - frame.width() + 1)));
    at.setY(std::max(area.top(), std::min(at.y(), area.bottom() - frame.height() + 1)));
    if (at != frame.topLeft())
      popup_->move(popup_->pos() + (at - frame.topLeft()));
  }
  QWidget* popup_;
};

}  // namespace

void SelectSectionOnClick(QDateTimeEdit* field) {
  if (auto* edit = field->findChild<QLineEdit*>())
    edit->installEventFilter(new SectionClickFilter(field));
}

void KeepOnScreen(QWidget* popup) {
  popup->installEventFilter(new OnScreenFilter(popup));
}
