// The image button: transparent pixels, hover, press, drag-in, disabled look,
// the framed (not flat) look, the focus rectangle and double-clicks.
#include <QCursor>
#include <QMouseEvent>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "app/buttonst.h"
#include "apptest.h"

namespace {

const QColor KEY(32, 0, 0);
const QColor RED(200, 0, 0);
const QColor OUT_BK(10, 120, 200);
const QColor IN_BK(0, 200, 0);

// 20 x 10: columns 0-4 transparent, 5-9 black, 10-19 red.
QImage sampleImage() {
  QImage img(20, 10, QImage::Format_RGB888);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) img.setPixelColor(x, y, x < 5 ? KEY : x < 10 ? Qt::black : RED);
  }
  return img;
}

// The button's pixel at an image pixel (the 20 x 10 image sits centred at (10, 10)).
QColor at(const QImage& shot, int ix, int iy, int shift = 0) {
  return shot.pixelColor(10 + ix + shift, 10 + iy + shift);
}

// Frame colours that differ from each other and from every background.
const QColor LIGHT(255, 250, 240);
const QColor MIDLIGHT(210, 200, 190);
const QColor DARK(110, 100, 90);
const QColor SHADOW(30, 20, 10);

struct Fixture {
  QWidget window;
  CButtonST* button;
  CButtonST* other;
  Fixture() {
    QPalette pal = window.palette();
    pal.setColor(QPalette::Light, LIGHT);
    pal.setColor(QPalette::Midlight, MIDLIGHT);
    pal.setColor(QPalette::Dark, DARK);
    pal.setColor(QPalette::Shadow, SHADOW);
    window.setPalette(pal);
    QCursor::setPos(700, 580);  // away from the windows: the offscreen cursor starts at (10, 10)
    window.move(100, 100);
    auto* layout = new QVBoxLayout(&window);
    button = new CButtonST(&window);
    other = new CButtonST(&window);
    for (CButtonST* b : {button, other}) {
      b->setFixedSize(40, 30);
      b->setFocusPolicy(Qt::StrongFocus);
      layout->addWidget(b);
    }
    button->setImage(sampleImage(), KEY);
    button->setColor(CButtonST::BTNST_COLOR_BK_OUT, OUT_BK);
    button->setColor(CButtonST::BTNST_COLOR_BK_FOCUS, OUT_BK);
    button->setColor(CButtonST::BTNST_COLOR_BK_IN, IN_BK);
    window.show();
    QVERIFY2(QTest::qWaitForWindowExposed(&window), "window not shown");
  }
  QImage shot() { return button->grab().toImage(); }
  // Shown, the window gave the button the focus; a framed button marks that.
  void focusElsewhere() {
    other->setFocus();
    QTRY_VERIFY(!button->hasFocus());
  }
  // The button's pixels in row y from x0 to x1 that differ from colour.
  int differing(const QImage& s, int y, int x0, int x1, const QColor& colour) {
    int n = 0;
    for (int x = x0; x <= x1; ++x) n += s.pixelColor(x, y) != colour;
    return n;
  }
  void hover() {
    QMouseEvent move(QEvent::MouseMove, QPointF(20, 15), button->mapToGlobal(QPointF(20, 15)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &move);
  }
};

// Counts the double-click events that reach a widget.
struct DoubleClicks : QObject {
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    count += e->type() == QEvent::MouseButtonDblClick;
    return false;
  }
};

}  // namespace

class TestButtonST : public QObject {
  Q_OBJECT

 private slots:
  void transparentPixelsShowTheBackground();
  void hoverPaintsTheInColourWithARaisedFrame();
  void mouseMovesOnAndOff();
  void pressShowsASunkenFrameAndShiftsTheImage();
  void dragInWithTheLeftButtonDoesNotHighlight();
  void disablingMovesFocusClearsHoverAndGraysTheImage();
  void notFlatDrawsTheClassicThreeDFrame();
  void notFlatPressedDrawsAOnePixelShadowFrame();
  void defaultOrFocusedNotFlatGetsABlackEdge();
  void focusRectangleOnlyWhenFramedOrAskedFor();
  void aDoubleClickIsASecondClick();
  void withoutTrackAlwaysOnlyTheActiveWindowHovers();
  void imageWithoutSizeIsRefused();
  void buttonImagesComeFromTheResources_data();
  void buttonImagesComeFromTheResources();
};

void TestButtonST::transparentPixelsShowTheBackground() {
  Fixture f;
  const QImage s = f.shot();
  QCOMPARE(at(s, 2, 5), OUT_BK);
  QCOMPARE(at(s, 7, 5), QColor(Qt::black));  // black is drawn as it is
  QCOMPARE(at(s, 15, 5), RED);
  QCOMPARE(s.pixelColor(0, 0), OUT_BK);  // flat: no frame while not hovered
  QVERIFY(!f.button->isHovered());
}

void TestButtonST::hoverPaintsTheInColourWithARaisedFrame() {
  Fixture f;
  f.hover();
  QVERIFY(f.button->isHovered());
  const QImage s = f.shot();
  QCOMPARE(at(s, 2, 5), IN_BK);
  QCOMPARE(at(s, 15, 5), RED);
  QCOMPARE(s.pixel(0, 0), f.button->palette().color(QPalette::Light).rgb());
  QCOMPARE(s.pixel(39, 29), f.button->palette().color(QPalette::Dark).rgb());
  QCOMPARE(s.pixelColor(5, 5), IN_BK);
}

void TestButtonST::mouseMovesOnAndOff() {
  Fixture f;
  QTest::mouseMove(f.button, QPoint(20, 15));
  QTRY_VERIFY(f.button->isHovered());
  QTest::mouseMove(f.other, QPoint(20, 15));
  QTRY_VERIFY(!f.button->isHovered());
  const QImage s = f.shot();
  QCOMPARE(at(s, 2, 5), OUT_BK);
  QCOMPARE(s.pixelColor(0, 0), OUT_BK);
}

void TestButtonST::pressShowsASunkenFrameAndShiftsTheImage() {
  Fixture f;
  f.hover();
  QTest::mousePress(f.button, Qt::LeftButton, {}, QPoint(20, 15));
  QVERIFY(f.button->isDown());
  const QImage s = f.shot();
  QCOMPARE(s.pixel(0, 0), f.button->palette().color(QPalette::Dark).rgb());
  QCOMPARE(s.pixel(39, 29), f.button->palette().color(QPalette::Light).rgb());
  // Moved by (1, 1): the first black column now sits one pixel further right.
  QCOMPARE(at(s, 5, 5), IN_BK);
  QCOMPARE(at(s, 5, 5, 1), QColor(Qt::black));
  QSignalSpy clicked(f.button, &CButtonST::clicked);
  QTest::mouseRelease(f.button, Qt::LeftButton, {}, QPoint(20, 15));
  QCOMPARE(clicked.count(), 1);
}

void TestButtonST::dragInWithTheLeftButtonDoesNotHighlight() {
  Fixture f;
  QMouseEvent drag(QEvent::MouseMove, QPointF(20, 15), f.button->mapToGlobal(QPointF(20, 15)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.button, &drag);
  QVERIFY(!f.button->isHovered());
  QCOMPARE(at(f.shot(), 2, 5), OUT_BK);
  f.hover();
  QVERIFY(f.button->isHovered());
}

void TestButtonST::disablingMovesFocusClearsHoverAndGraysTheImage() {
  Fixture f;
  f.window.activateWindow();
  f.button->setFocus();
  QTRY_VERIFY(f.button->hasFocus());
  f.hover();
  f.button->setEnabled(false);
  QVERIFY(!f.button->hasFocus());
  QVERIFY(!f.button->isHovered());
  const QImage s = f.shot();
  const QColor shadow = f.button->palette().color(QPalette::Dark);
  const QColor light = f.button->palette().color(QPalette::Light);
  QCOMPARE(at(s, 15, 5).rgb(), shadow.rgb());  // red ink, embossed
  QCOMPARE(at(s, 7, 5).rgb(), shadow.rgb());   // black ink too
  QCOMPARE(at(s, 2, 5), OUT_BK);               // transparent stays transparent
  QCOMPARE(at(s, 20, 5).rgb(), light.rgb());   // the highlight one pixel right of the ink
}

void TestButtonST::notFlatDrawsTheClassicThreeDFrame() {
  Fixture f;
  f.focusElsewhere();
  f.button->setFlat(false);
  f.hover();
  QVERIFY(!f.button->isHovered());  // a framed button does not track the mouse
  const QImage s = f.shot();
  // Outer ring: highlight top and left, dark shadow bottom and right.
  QCOMPARE(s.pixelColor(20, 0), LIGHT);
  QCOMPARE(s.pixelColor(0, 15), LIGHT);
  QCOMPARE(s.pixelColor(20, 29), SHADOW);
  QCOMPARE(s.pixelColor(39, 15), SHADOW);
  // Inner ring: light top and left, shadow bottom and right.
  QCOMPARE(s.pixelColor(20, 1), MIDLIGHT);
  QCOMPARE(s.pixelColor(1, 15), MIDLIGHT);
  QCOMPARE(s.pixelColor(20, 28), DARK);
  QCOMPARE(s.pixelColor(38, 15), DARK);
  QCOMPARE(s.pixelColor(2, 2), OUT_BK);
  QCOMPARE(at(s, 2, 5), OUT_BK);
  QCOMPARE(at(s, 15, 5), RED);
}

void TestButtonST::notFlatPressedDrawsAOnePixelShadowFrame() {
  Fixture f;
  f.focusElsewhere();
  f.button->setFlat(false);
  QTest::mousePress(f.button, Qt::LeftButton, {}, QPoint(20, 15));
  QVERIFY(f.button->hasFocus());  // the press took the focus: the black edge
  const QImage s = f.shot();
  for (const QPoint& p : {QPoint(20, 0), QPoint(0, 15), QPoint(20, 29), QPoint(39, 15)})
    QCOMPARE(s.pixelColor(p), QColor(Qt::black));
  for (const QPoint& p : {QPoint(20, 1), QPoint(1, 15), QPoint(20, 28), QPoint(38, 15)})
    QCOMPARE(s.pixelColor(p), DARK);
  QCOMPARE(s.pixelColor(20, 2), IN_BK);  // no second ring
  QCOMPARE(s.pixelColor(2, 15), IN_BK);
  QCOMPARE(at(s, 5, 5, 1), QColor(Qt::black));  // the image moved by (1, 1) as well
  QTest::mouseRelease(f.button, Qt::LeftButton, {}, QPoint(20, 15));
}

void TestButtonST::defaultOrFocusedNotFlatGetsABlackEdge() {
  Fixture f;
  f.focusElsewhere();
  f.button->setDefault(true);
  QCOMPARE(f.shot().pixelColor(20, 0), OUT_BK);  // flat: no edge even as the default

  f.button->setFlat(false);
  QImage s = f.shot();
  for (const QPoint& p : {QPoint(0, 0), QPoint(20, 0), QPoint(0, 15), QPoint(39, 29)})
    QCOMPARE(s.pixelColor(p), QColor(Qt::black));
  // The 3-D frame moves one pixel in.
  QCOMPARE(s.pixelColor(20, 1), LIGHT);
  QCOMPARE(s.pixelColor(20, 28), SHADOW);
  QCOMPARE(s.pixelColor(20, 2), MIDLIGHT);
  QCOMPARE(s.pixelColor(37, 15), DARK);
  QCOMPARE(s.pixelColor(3, 3), OUT_BK);

  f.button->setDefault(false);
  QCOMPARE(f.shot().pixelColor(20, 0), LIGHT);
  f.button->setFocus();
  QTRY_VERIFY(f.button->hasFocus());
  s = f.shot();
  QCOMPARE(s.pixelColor(20, 0), QColor(Qt::black));
  QCOMPARE(s.pixelColor(20, 1), LIGHT);
}

void TestButtonST::focusRectangleOnlyWhenFramedOrAskedFor() {
  Fixture f;
  f.focusElsewhere();
  QTest::keyClick(f.other, Qt::Key_Tab);  // a focus by keyboard, which styles mark
  QTRY_VERIFY(f.button->hasFocus());
  // Flat: the rectangle 3 pixels inside the edge is not drawn.
  QCOMPARE(f.differing(f.shot(), 3, 5, 34, OUT_BK), 0);
  f.button->setFocusRectWhenFlat(true);
  QVERIFY(f.differing(f.shot(), 3, 5, 34, OUT_BK) > 0);
  f.button->setFocusRectWhenFlat(false);
  // Not flat: the black edge, then the rectangle 3 pixels inside what remains.
  f.button->setFlat(false);
  QCOMPARE(f.shot().pixelColor(20, 0), QColor(Qt::black));
  QVERIFY(f.differing(f.shot(), 4, 5, 34, OUT_BK) > 0);
  QTest::keyClick(f.button, Qt::Key_Tab);
  QTRY_VERIFY(!f.button->hasFocus());
  QCOMPARE(f.differing(f.shot(), 4, 5, 34, OUT_BK), 0);
}

void TestButtonST::aDoubleClickIsASecondClick() {
  Fixture f;
  QSignalSpy clicked(f.button, &CButtonST::clicked);
  DoubleClicks doubleClicks;
  f.button->installEventFilter(&doubleClicks);
  // Through the window, so that Qt itself makes the second press a double-click.
  const QPoint centre = f.button->mapTo(&f.window, QPoint(20, 15));
  QTest::mouseDClick(f.window.windowHandle(), Qt::LeftButton, {}, centre);
  QCOMPARE(doubleClicks.count, 1);
  QCOMPARE(clicked.count(), 2);
  QVERIFY(!f.button->isDown());
}

void TestButtonST::withoutTrackAlwaysOnlyTheActiveWindowHovers() {
  Fixture f;
  f.button->setTrackAlways(false);
  QWidget elsewhere;
  elsewhere.setGeometry(600, 100, 50, 50);
  elsewhere.show();
  elsewhere.activateWindow();
  QTRY_VERIFY(elsewhere.isActiveWindow());
  f.hover();
  QVERIFY(!f.button->isHovered());
  QCOMPARE(at(f.shot(), 2, 5), OUT_BK);

  f.window.activateWindow();
  QTRY_VERIFY(f.window.isActiveWindow());
  f.hover();
  QVERIFY(f.button->isHovered());
  QCOMPARE(at(f.shot(), 2, 5), IN_BK);
  // The window losing the activation ends the hover.
  elsewhere.activateWindow();
  QTRY_VERIFY(!f.button->isHovered());
  QCOMPARE(at(f.shot(), 2, 5), OUT_BK);

  // With trackAlways (the default) an inactive window's button hovers too.
  f.button->setTrackAlways(true);
  f.hover();
  QVERIFY(f.button->isHovered());
}

void TestButtonST::imageWithoutSizeIsRefused() {
  CButtonST b;
  QCOMPARE(b.setImage(QImage(), KEY), 1);
  QVERIFY(!b.hasImage());
  QCOMPARE(b.setImage(sampleImage(), KEY), 0);
  QVERIFY(b.hasImage());
}

void TestButtonST::buttonImagesComeFromTheResources_data() {
  QTest::addColumn<QString>("resource");
  QTest::addColumn<QSize>("size");
  QTest::newRow("start 133") << QStringLiteral(":/bitmap/133") << QSize(170, 147);
  QTest::newRow("stop 132") << QStringLiteral(":/bitmap/132") << QSize(141, 136);
}

void TestButtonST::buttonImagesComeFromTheResources() {
  QFETCH(QString, resource);
  QFETCH(QSize, size);
  const QImage img(resource);
  QCOMPARE(img.size(), size);
  QCOMPARE(img.depth() >= 24, true);
  QCOMPARE(img.pixelColor(0, 0), KEY);  // the corners let the face show
  QVERIFY(img.pixelColor(size.width() / 2, size.height() / 2) != KEY);

  QWidget window;
  CButtonST b(&window);
  b.setFixedSize(size + QSize(6, 6));
  QCOMPARE(b.setImage(img, KEY), 0);
  b.setColor(CButtonST::BTNST_COLOR_BK_OUT, OUT_BK);
  window.show();
  const QImage s = b.grab().toImage();
  QCOMPARE(s.pixelColor(3, 3), OUT_BK);
  QCOMPARE(s.pixelColor(3 + size.width() / 2, 3 + size.height() / 2),
           img.pixelColor(size.width() / 2, size.height() / 2));
}

ZELK_APP_TEST_MAIN(TestButtonST)
#include "test_buttonst.moc"
