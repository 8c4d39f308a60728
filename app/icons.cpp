#include "app/icons.h"

#include <QPainterPath>

namespace pw {
namespace {

const QColor kInk(2, 56, 103);

void Page(QPainter& p, const QRectF& r, const QColor& edge, const QColor& fill) {
  const qreal fold = r.width() * 0.28;
  QPainterPath path;
  path.moveTo(r.left(), r.top());
  path.lineTo(r.right() - fold, r.top());
  path.lineTo(r.right(), r.top() + fold);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setPen(QPen(edge, 1.2));
  p.setBrush(fill);
  p.drawPath(path);
  QPainterPath corner;
  corner.moveTo(r.right() - fold, r.top());
  corner.lineTo(r.right() - fold, r.top() + fold);
  corner.lineTo(r.right(), r.top() + fold);
  p.setBrush(edge.lighter(160));
  p.drawPath(corner);
}

void Badge(QPainter& p, const QRectF& r, const QColor& colour, const QString& letter) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawRoundedRect(r, 2, 2);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(static_cast<int>(r.height() * 0.72));
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(r, Qt::AlignCenter, letter);
}

}  // namespace

void DrawKindIcon(QPainter& p, const QRect& rect, int kind) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect).adjusted(6, 2, -6, -2);
  const QRectF badge(rect.left() + 2, rect.top() + rect.height() * 0.45, rect.width() * 0.5,
                     rect.height() * 0.42);
  switch (kind) {
    case 1:
      Page(p, r, QColor(43, 87, 154), Qt::white);
      p.setPen(QPen(QColor(43, 87, 154, 150), 1.5));
      for (int i = 0; i < 5; ++i)
        p.drawLine(QPointF(r.left() + 12, r.top() + 10 + i * 5.5),
                   QPointF(r.right() - 4, r.top() + 10 + i * 5.5));
      Badge(p, badge, QColor(43, 87, 154), "W");
      break;
    case 2:
      Page(p, r, QColor(33, 115, 70), Qt::white);
      p.setPen(QPen(QColor(33, 115, 70, 150), 1));
      for (int i = 0; i < 5; ++i)
        p.drawLine(QPointF(r.left() + 10, r.top() + 10 + i * 5.5),
                   QPointF(r.right() - 3, r.top() + 10 + i * 5.5));
      for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(r.left() + 14 + i * 6, r.top() + 10),
                   QPointF(r.left() + 14 + i * 6, r.bottom() - 4));
      Badge(p, badge, QColor(33, 115, 70), "X");
      break;
    case 4: {
      const QColor c(164, 55, 58);
      p.setPen(QPen(c, 1.2));
      p.setBrush(QColor(250, 235, 235));
      const qreal ew = r.width(), eh = 8;
      p.drawRect(QRectF(r.left(), r.top() + eh / 2, ew, r.height() - eh));
      p.drawEllipse(QRectF(r.left(), r.bottom() - eh, ew, eh));
      p.setPen(Qt::NoPen);
      p.drawRect(QRectF(r.left() + 0.6, r.top() + eh / 2, ew - 1.2, r.height() - eh));
      p.setPen(QPen(c, 1.2));
      p.setBrush(QColor(240, 200, 200));
      p.drawEllipse(QRectF(r.left(), r.top(), ew, eh));
      p.drawLine(QPointF(r.left(), r.top() + eh / 2), QPointF(r.left(), r.bottom() - eh / 2));
      p.drawLine(QPointF(r.right(), r.top() + eh / 2), QPointF(r.right(), r.bottom() - eh / 2));
      Badge(p, badge, c, "A");
      break;
    }
    case 6:
      Page(p, r, QColor(110, 110, 110), Qt::white);
      p.setPen(QPen(QColor(120, 120, 120), 1.2));
      for (int i = 0; i < 6; ++i)
        p.drawLine(QPointF(r.left() + 5, r.top() + 10 + i * 4.5),
                   QPointF(r.right() - 5 - (i % 2) * 6, r.top() + 10 + i * 4.5));
      break;
    case 3:
      Page(p, r, QColor(208, 68, 35), Qt::white);
      Badge(p, badge, QColor(208, 68, 35), "P");
      break;
    default:
      Page(p, r, QColor(140, 140, 140), QColor(245, 245, 245));
      break;
  }
  p.restore();
}

void DrawTickBox(QPainter& p, const QRect& r, bool ticked) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(28, 81, 128), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
  if (ticked) {
    QPainterPath tick;
    tick.moveTo(r.left() + 2.5, r.top() + 6.5);
    tick.lineTo(r.left() + 5.5, r.top() + 9.5);
    tick.lineTo(r.left() + 10.5, r.top() + 3);
    p.setPen(QPen(QColor(33, 161, 33), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
  }
  p.restore();
}

void DrawToolIcon(QPainter& p, const QRect& rect, ToolIcon icon, const QColor& ink) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect).adjusted(2, 2, -2, -2);
  const qreal w = r.width(), h = r.height();
  auto at = [&](qreal x, qreal y) { return QPointF(r.left() + x * w, r.top() + y * h); };
  p.setPen(QPen(ink, std::max<qreal>(1.5, w / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  switch (icon) {
    case ToolIcon::Open: {
      QPainterPath back;
      back.moveTo(at(0.05, 0.85));
      back.lineTo(at(0.05, 0.2));
      back.lineTo(at(0.35, 0.2));
      back.lineTo(at(0.45, 0.3));
      back.lineTo(at(0.85, 0.3));
      back.lineTo(at(0.85, 0.45));
      p.setBrush(QColor(255, 214, 110));
      p.drawPath(back);
      QPainterPath front;
      front.moveTo(at(0.05, 0.85));
      front.lineTo(at(0.2, 0.45));
      front.lineTo(at(0.98, 0.45));
      front.lineTo(at(0.83, 0.85));
      front.closeSubpath();
      p.setBrush(QColor(255, 190, 60));
      p.drawPath(front);
      break;
    }
    case ToolIcon::Run: {
      p.setBrush(QColor(70, 160, 70));
      QPainterPath play;
      play.moveTo(at(0.3, 0.15));
      play.lineTo(at(0.85, 0.5));
      play.lineTo(at(0.3, 0.85));
      play.closeSubpath();
      p.drawEllipse(QRectF(at(0.02, 0.02), at(0.98, 0.98)));
      p.setBrush(Qt::white);
      p.setPen(Qt::NoPen);
      p.drawPath(play);
      break;
    }
    case ToolIcon::Up:
    case ToolIcon::Down: {
      const bool up = icon == ToolIcon::Up;
      QPainterPath arrow;
      const qreal tip = up ? 0.08 : 0.92, base = up ? 0.5 : 0.5, tail = up ? 0.92 : 0.08;
      arrow.moveTo(at(0.5, tip));
      arrow.lineTo(at(0.92, base));
      arrow.lineTo(at(0.66, base));
      arrow.lineTo(at(0.66, tail));
      arrow.lineTo(at(0.34, tail));
      arrow.lineTo(at(0.34, base));
      arrow.lineTo(at(0.08, base));
      arrow.closeSubpath();
      p.setBrush(QColor(70, 130, 200));
      p.drawPath(arrow);
      break;
    }
    case ToolIcon::SelectAll:
      for (int i = 0; i < 3; ++i) {
        const qreal y = 0.12 + i * 0.3;
        p.setBrush(Qt::white);
        p.drawRect(QRectF(at(0.05, y), at(0.28, y + 0.22)));
        p.drawLine(at(0.4, y + 0.11), at(0.95, y + 0.11));
        QPainterPath tick;
        tick.moveTo(at(0.09, y + 0.1));
        tick.lineTo(at(0.15, y + 0.18));
        tick.lineTo(at(0.26, y + 0.02));
        p.save();
        p.setPen(QPen(QColor(33, 161, 33), w / 12));
        p.drawPath(tick);
        p.restore();
      }
      break;
    case ToolIcon::Stop:
      p.setBrush(QColor(200, 60, 50));
      p.drawEllipse(QRectF(at(0.02, 0.02), at(0.98, 0.98)));
      p.setBrush(Qt::white);
      p.setPen(Qt::NoPen);
      p.drawRect(QRectF(at(0.32, 0.32), at(0.68, 0.68)));
      break;
    case ToolIcon::Logo: {
      p.setBrush(QColor(255, 255, 255, 60));
      p.drawRoundedRect(QRectF(at(0.02, 0.1), at(0.55, 0.9)), 2, 2);
      p.drawRoundedRect(QRectF(at(0.45, 0.1), at(0.98, 0.9)), 2, 2);
      p.drawLine(at(0.3, 0.5), at(0.72, 0.5));
      break;
    }
    case ToolIcon::Menu:
      for (int i = 0; i < 3; ++i) p.drawLine(at(0.2, 0.3 + i * 0.2), at(0.8, 0.3 + i * 0.2));
      break;
    case ToolIcon::Minimise:
      p.drawLine(at(0.25, 0.7), at(0.75, 0.7));
      break;
    case ToolIcon::Maximise:
      p.drawRect(QRectF(at(0.25, 0.25), at(0.75, 0.75)));
      break;
    case ToolIcon::Close:
      p.drawLine(at(0.25, 0.25), at(0.75, 0.75));
      p.drawLine(at(0.75, 0.25), at(0.25, 0.75));
      break;
  }
  p.restore();
}

}  // namespace pw

namespace pw {

QIcon ProgramIcon() {
  QIcon own;
  for (const char* size : {"32", "64", "256"})
    own.addFile(QStringLiteral(":/icon/") + QLatin1String(size) + QStringLiteral(".png"));
  return QIcon::fromTheme(QStringLiteral("org.plinthwick.Plinthwick"), own);
}

}  // namespace pw
