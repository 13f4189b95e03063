// A flat owner-drawn push button: no frame until the mouse is over it, then a
// raised thin frame and the "in" background. It can show an image in which
// one colour is transparent, and draws that image embossed in gray while the
// button is disabled. A click is the ordinary clicked() signal.
#pragma once

#include <QAbstractButton>
#include <QBitmap>
#include <QColor>
#include <QPixmap>

class CButtonST : public QAbstractButton {
  Q_OBJECT

 public:
  enum ColorSlot {
    BTNST_COLOR_BK_IN = 0,  // background while hovered or pressed
    BTNST_COLOR_FG_IN,
    BTNST_COLOR_BK_OUT,  // background otherwise
    BTNST_COLOR_FG_OUT,
    BTNST_COLOR_BK_FOCUS,  // background while focused (and not hovered)
    BTNST_COLOR_FG_FOCUS,
    BTNST_MAX_COLORS
  };

  explicit CButtonST(QWidget* parent = nullptr);

  // Takes the image and makes its mask from the transparent colour.
  // 0 on success; 1 when the image has no size, 2 when the mask cannot be
  // made (the button then shows no image).
  int setImage(const QImage& image, const QColor& transparent);
  bool hasImage() const { return !image_.isNull(); }

  void setColor(ColorSlot slot, const QColor& colour, bool repaint = true);
  QColor color(ColorSlot slot) const { return colours_[slot]; }

  void setFlat(bool on);
  bool isFlat() const { return flat; }
  void setBorderOnHover(bool on) { borderOnHover = on; }
  void setFocusRectWhenFlat(bool on) { focusRectWhenFlat = on; }
  void setTrackAlways(bool on) { trackAlways = on; }
  void setGrayWhenDisabled(bool on) { grayWhenDisabled = on; }
  // The dialog's default push button: framed in black when not flat.
  void setDefault(bool on);
  bool isDefault() const { return defaultButton; }

  bool isHovered() const { return hovered; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void trackMouse(const QPoint& pos, Qt::MouseButtons buttons);
  void cancelHover();
  void drawImage(QPainter& p, const QRect& rect, bool pressed, bool disabled);
  void drawEmbossed(QPainter& p, const QPoint& at, const QImage& ink);

  bool flat = true;
  bool borderOnHover = true;
  bool focusRectWhenFlat = false;
  bool trackAlways = true;
  bool grayWhenDisabled = true;
  bool defaultButton = false;
  bool hovered = false;

  QColor colours_[BTNST_MAX_COLORS];
  QPixmap image_;       // transparent pixels blackened, shown through mask_
  QBitmap mask_;        // 1 where the image is drawn
  QImage disabledInk_;  // the image on white: every pixel that is not white is ink
};
