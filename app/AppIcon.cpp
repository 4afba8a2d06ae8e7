#include "app/AppIcon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A blue rounded tile with a white envelope and a small clock face.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1E, 0x6F, 0xB8));
  p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);
  const QRectF env(s * 0.14, s * 0.28, s * 0.62, s * 0.44);
  p.setBrush(Qt::white);
  p.drawRect(env);
  QPen fold(QColor(0x1E, 0x6F, 0xB8), qMax(1.0, s / 24));
  p.setPen(fold);
  QPainterPath flap;
  flap.moveTo(env.topLeft());
  flap.lineTo(env.center().x(), env.top() + env.height() * 0.55);
  flap.lineTo(env.topRight());
  p.drawPath(flap);
  const QRectF clock(s * 0.56, s * 0.52, s * 0.38, s * 0.38);
  p.setPen(QPen(QColor(0x1E, 0x6F, 0xB8), qMax(1.0, s / 28)));
  p.setBrush(QColor(0xFF, 0xC1, 0x07));
  p.drawEllipse(clock);
  p.drawLine(clock.center(), clock.center() - QPointF(0, clock.height() * 0.3));
  p.drawLine(clock.center(), clock.center() + QPointF(clock.width() * 0.22, 0));
  return pm;
}

// Draws the icon at the size asked for, when asked, instead of keeping a pixmap per size.
class AppIconEngine : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    painter->drawPixmap(rect, Draw(qMin(rect.width(), rect.height())));
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    return Draw(qMin(size.width(), size.height()));
  }
  QIconEngine* clone() const override { return new AppIconEngine; }
};

}  // namespace

QIcon ApplicationIcon() {
  return QIcon(new AppIconEngine);
}
