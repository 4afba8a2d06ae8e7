#include "app/Widgets.h"

#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyle>
#include <QToolButton>

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
  button_->setFocusPolicy(Qt::NoFocus);
  edit_->installEventFilter(this);
  connect(edit_, &QLineEdit::textChanged, this, &TFileNameEdit::textChanged);
  connect(button_, &QToolButton::clicked, this, dialogs::Guard([this] { Browse(); }));
}

void TFileNameEdit::SetFilePicker(FilePicker picker) {
  Picker() = std::move(picker);
}

void TFileNameEdit::Browse() {
  const QString chosen = Picker()
                             ? Picker()(this, text())
                             : QFileDialog::getOpenFileName(this, QString(), text(),
                                                            QStringLiteral("Všechny soubory (*)"));
  if (!chosen.isEmpty())
    setText(chosen);
}

bool TFileNameEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::MouseButtonRelease && isEnabled()) {
    dialogs::Guarded([this] { Browse(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
