#include "app/buttonst.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

CButtonST::CButtonST(QWidget* parent) : QAbstractButton(parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover, false);
  const QPalette pal = palette();
  colours_[BTNST_COLOR_BK_IN] = pal.color(QPalette::Button);
  colours_[BTNST_COLOR_FG_IN] = pal.color(QPalette::ButtonText);
  colours_[BTNST_COLOR_BK_OUT] = pal.color(QPalette::Button);
  colours_[BTNST_COLOR_FG_OUT] = pal.color(QPalette::ButtonText);
  colours_[BTNST_COLOR_BK_FOCUS] = pal.color(QPalette::Button);
  colours_[BTNST_COLOR_FG_FOCUS] = pal.color(QPalette::ButtonText);
}

int CButtonST::setImage(const QImage& source, const QColor& transparent) {
  image_ = QPixmap();
  mask_ = QBitmap();
  disabledInk_ = QImage();
  if (source.isNull() || source.width() <= 0 || source.height() <= 0) {
    update();
    return 1;
  }
  QImage img = source.convertToFormat(QImage::Format_RGB32);
  // Pixels of the transparent colour become white in the mask image, which
  // the bitmap takes as "not drawn"; every other pixel is drawn.
  const QImage maskImage = img.createMaskFromColor(transparent.rgb(), Qt::MaskInColor);
  QBitmap mask = QBitmap::fromImage(maskImage);
  if (maskImage.isNull() || mask.isNull()) {
    update();
    return 2;
  }
  // Blacken the transparent pixels, so that the image alone adds nothing there.
  QImage ink(img.size(), QImage::Format_RGB32);
  ink.fill(Qt::white);
  const QRgb key = transparent.rgb() | 0xFF000000u;
  for (int y = 0; y < img.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    auto* inkLine = reinterpret_cast<QRgb*>(ink.scanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      if ((line[x] | 0xFF000000u) == key) {
        line[x] = 0xFF000000u;
      } else {
        inkLine[x] = line[x];
      }
    }
  }
  image_ = QPixmap::fromImage(img);
  mask_ = mask;
  image_.setMask(mask_);
  disabledInk_ = ink;
  updateGeometry();
  update();
  return 0;
}

void CButtonST::setColor(ColorSlot slot, const QColor& colour, bool repaint) {
  if (slot < 0 || slot >= BTNST_MAX_COLORS) return;
  colours_[slot] = colour;
  if (repaint) update();
}

void CButtonST::setFlat(bool on) {
  flat = on;
  update();
}

void CButtonST::setDefault(bool on) {
  defaultButton = on;
  update();
}

QSize CButtonST::sizeHint() const {
  QSize s = image_.isNull() ? QSize(16, 16) : image_.size() + QSize(6, 6);
  if (!text().isEmpty()) {
    const QSize t = fontMetrics().size(Qt::TextShowMnemonic, text());
    s = QSize(s.width() + t.width() + 6, std::max(s.height(), t.height() + 6));
  }
  return s;
}

// --- Painting ----------------------------------------------------------------

void CButtonST::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool pressed = isDown();
  const bool focused = hasFocus();
  const bool disabled = !isEnabled();
  const QPalette& pal = palette();
  const QColor highlight = pal.color(QPalette::Light);
  const QColor light = pal.color(QPalette::Midlight);
  const QColor shadow = pal.color(QPalette::Dark);
  const QColor darkShadow = pal.color(QPalette::Shadow);
  QRect r = rect();

  // 1-2. A framed button marks focus and the default role with a black edge.
  if (!flat && (focused || defaultButton)) {
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    r.adjust(1, 1, -1, -1);
  }

  // 3. Background.
  QColor bk = colours_[BTNST_COLOR_BK_OUT];
  if (hovered || pressed) {
    bk = colours_[BTNST_COLOR_BK_IN];
  } else if (focused) {
    bk = colours_[BTNST_COLOR_BK_FOCUS];
  }
  p.fillRect(r, bk);

  // 4. Frame.
  auto thinFrame = [&](const QRect& f, const QColor& topLeft, const QColor& bottomRight) {
    p.setPen(topLeft);
    p.drawLine(f.topLeft(), f.topRight());
    p.drawLine(f.topLeft(), f.bottomLeft());
    p.setPen(bottomRight);
    p.drawLine(f.bottomLeft(), f.bottomRight());
    p.drawLine(f.topRight(), f.bottomRight());
  };
  if (pressed) {
    if (flat) {
      if (borderOnHover) thinFrame(r, shadow, highlight);
    } else {
      p.setPen(shadow);
      p.setBrush(Qt::NoBrush);
      p.drawRect(r.adjusted(0, 0, -1, -1));
    }
  } else if (flat) {
    if (hovered && borderOnHover) thinFrame(r, highlight, shadow);
  } else {
    thinFrame(r, highlight, darkShadow);
    thinFrame(r.adjusted(1, 1, -1, -1), light, shadow);
  }

  // 5. Image.
  if (!image_.isNull()) drawImage(p, r, pressed, disabled);

  // 6. Caption.
  if (!text().isEmpty()) {
    QRect tr = r;
    if (!image_.isNull()) tr.setLeft(r.left() + 3 + image_.width() + 3);
    if (pressed) tr.translate(1, 1);
    const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    if (disabled) {
      p.setPen(highlight);
      p.drawText(tr.translated(1, 1), flags, text());
      p.setPen(shadow);
      p.drawText(tr, flags, text());
    } else {
      p.setPen((hovered || pressed) ? colours_[BTNST_COLOR_FG_IN] : colours_[BTNST_COLOR_FG_OUT]);
      p.drawText(tr, flags, text());
    }
  }

  // 7. Focus rectangle.
  if (focused && (!flat || focusRectWhenFlat)) {
    QStyleOptionFocusRect opt;
    opt.initFrom(this);
    opt.rect = r.adjusted(3, 3, -3, -3);
    opt.backgroundColor = bk;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
  }
}

void CButtonST::drawImage(QPainter& p, const QRect& r, bool pressed, bool disabled) {
  const QSize size = image_.size();
  QPoint at(r.left() + (r.width() - size.width()) / 2, r.top() + (r.height() - size.height()) / 2);
  if (!text().isEmpty()) at.setX(r.left() + 3);
  if (pressed) at += QPoint(1, 1);
  if (disabled && grayWhenDisabled) {
    drawEmbossed(p, at, disabledInk_);
  } else {
    p.drawPixmap(at, image_);  // through the mask: transparent pixels keep the background
  }
}

// The desktop's disabled look: every pixel that is not white becomes ink,
// drawn once in the highlight colour one pixel down and right, then in the
// shadow colour on top.
void CButtonST::drawEmbossed(QPainter& p, const QPoint& at, const QImage& ink) {
  auto silhouette = [&](const QColor& c) {
    QImage out(ink.size(), QImage::Format_ARGB32);
    const QRgb colour = c.rgb() | 0xFF000000u;
    for (int y = 0; y < ink.height(); ++y) {
      const auto* in = reinterpret_cast<const QRgb*>(ink.constScanLine(y));
      auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
      for (int x = 0; x < ink.width(); ++x) o[x] = (in[x] & 0xFFFFFFu) == 0xFFFFFFu ? 0u : colour;
    }
    return out;
  };
  p.drawImage(at + QPoint(1, 1), silhouette(palette().color(QPalette::Light)));
  p.drawImage(at, silhouette(palette().color(QPalette::Dark)));
}

// --- Hover tracking ------------------------------------------------------------

void CButtonST::mouseMoveEvent(QMouseEvent* event) {
  trackMouse(event->position().toPoint(), event->buttons());
  QAbstractButton::mouseMoveEvent(event);
}

void CButtonST::enterEvent(QEnterEvent* event) {
  trackMouse(event->position().toPoint(), QGuiApplication::mouseButtons());
  QAbstractButton::enterEvent(event);
}

void CButtonST::trackMouse(const QPoint& pos, Qt::MouseButtons buttons) {
  // Dragging into the button with the left button held is not a hover.
  if ((buttons & Qt::LeftButton) && !hovered) return;
  if (!flat) return;
  const bool active = trackAlways || (window() && window()->isActiveWindow());
  if (rect().contains(pos) && active && isEnabled()) {
    if (!hovered) {
      hovered = true;
      update();
    }
  } else {
    cancelHover();
  }
}

void CButtonST::cancelHover() {
  if (flat && hovered) {
    hovered = false;
    update();
  }
}

void CButtonST::leaveEvent(QEvent* event) {
  cancelHover();
  QAbstractButton::leaveEvent(event);
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
  cancelHover();
  QAbstractButton::focusOutEvent(event);
}

void CButtonST::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) cancelHover();
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    // Qt moves the focus on to the next widget when a focused one is
    // disabled; without a next one the focus goes to the parent.
    if (hasFocus() && parentWidget()) parentWidget()->setFocus();
    cancelHover();
  }
  QAbstractButton::changeEvent(event);
}
