// The image button: transparent pixels, hover, press, drag-in, disabled look.
#include <QCursor>
#include <QMouseEvent>
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

struct Fixture {
  QWidget window;
  CButtonST* button;
  CButtonST* other;
  Fixture() {
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
  void hover() {
    QMouseEvent move(QEvent::MouseMove, QPointF(20, 15), button->mapToGlobal(QPointF(20, 15)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &move);
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
