// The main dialog at rest: initialisation, rejected hands, keys, the rule and
// debug switches with their storage, the debug dump, and the timed drain of
// the log queue.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <algorithm>
#include <memory>
#include <set>

#include "app/buttonst.h"
#include "app/consolewindow.h"
#include "app/controlids.h"
#include "app/myrichedit.h"
#include "app/zelksdlg.h"
#include "apptest.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "run/solverun.h"
#include "run/threadctl.h"
#include "update/updatecheck.h"

namespace {

QString crlf(const char16_t* text) {
  return QString::fromUtf16(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString logOf(CZelkSDlg& dlg) {
  apptest::drainLog();
  return dlg.logViewControl()->toPlainText();
}

QLineEdit* edit(CZelkSDlg& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.control(id)); }
QCheckBox* box(CZelkSDlg& dlg, int id) { return qobject_cast<QCheckBox*>(dlg.control(id)); }

template <std::size_t N>
void put(char16_t (&field)[N], const char16_t* text) {
  std::u16string_view t(text);
  t.copy(field, N - 1);
  field[std::min(t.size(), N - 1)] = 0;
}

QVariant stored(const char* key) {
  QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ZelkSolver"),
              QStringLiteral("ZelkSolver"));
  s.beginGroup(QStringLiteral("section"));
  return s.value(QString::fromLatin1(key));
}

// What a new process starts with: every rule on, every debug switch off.
void freshProcessFlags() {
  zelk::resetRuleSwitches();
  for (zelk::Flag* f : {&zelk::F_DEBUG, &zelk::F_U1F, &zelk::F_LOG}) zelk::setFlag(*f, 0);
}

}  // namespace

class TestDialog : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { zelk::createSolveMutex(false); }  // this process's own busy lock
  void init();
  void cleanup();
  void firstStartShowsTheDefaults();
  void startupLinesInOrder();
  void theTimerDrainsTenTextsATick();
  void controlsCaptionsAndColours();
  void rejectedHands_data();
  void rejectedHands();
  void enterAndEscapeAreSwallowed();
  void ruleSwitchesLogAndStore();
  void switchesPersistAcrossARestart();
  void debugSwitchesAreNeitherStoredNorKept();
  void fastEngineBoxIsStoredAndRestored();
  void practiceBoxIsStoredAndPractisesOnTheFastEngine();
  void debugDumpTogglesAndWritesEveryLine();
  void updateInfoRefreshesTheIdentityTexts();
  void logfWritesTheLogFile();

 private:
  std::unique_ptr<apptest::TempSettings> settings_;
  std::unique_ptr<apptest::BoxRecorder> boxes_;
};

void TestDialog::init() {
  settings_ = std::make_unique<apptest::TempSettings>();
  boxes_ = std::make_unique<apptest::BoxRecorder>();
  freshProcessFlags();
  apptest::takeQueued();
}

void TestDialog::cleanup() {
  zelk::resetIdentityRecord();
  boxes_.reset();
  settings_.reset();
  freshProcessFlags();
}

void TestDialog::firstStartShowsTheDefaults() {
  CZelkSDlg dlg;
  QCOMPARE(dlg.windowTitle(), QString::fromUtf16(u"Zelk残局"));
  QCOMPARE(edit(dlg, 1001)->text(), QStringLiteral("AA9"));
  QCOMPARE(edit(dlg, 1002)->text(), QStringLiteral("2QQJJ77553"));
  std::set<QCheckBox*> ruleBoxes;
  for (int s = 0; s < zelk::RULE_SWITCH_COUNT; ++s) {
    QCheckBox* b = box(dlg, ids::RULE_SWITCH_BOXES[s]);
    QVERIFY2(b->isChecked(), zelk::RULE_SWITCHES[s].name);
    QVERIFY(b->isEnabled());
    QCOMPARE(b->text(), QString::fromUtf16(zelk::RULE_SWITCHES[s].caption));
    ruleBoxes.insert(b);
  }
  QCOMPARE(ruleBoxes.size(), std::size_t(zelk::RULE_SWITCH_COUNT));
  for (int id : {1041, 1043, 1055}) {
    QVERIFY(box(dlg, id)->isHidden());
    QVERIFY(!box(dlg, id)->isChecked());
  }
  QVERIFY(dlg.control(1000)->isEnabled());
  QVERIFY(!dlg.control(1035)->isEnabled());
  QVERIFY(dlg.control(1)->isHidden());
  QVERIFY(dlg.control(2)->isHidden());
  QCOMPARE(dlg.pos(), QPoint(5, 30));
  QVERIFY(dlg.consoleWindow() == nullptr);
  QVERIFY(dlg.logViewControl()->isReadOnly());
  QCOMPARE(dlg.logViewControl()->m_bReadOnly, 1);
}

void TestDialog::startupLinesInOrder() {
  // Identity texts of its own, so the lines must come from the record.
  put(zelk::sm.credit, u"credit of the test");
  put(zelk::sm.homepage, u"https://example.invalid/home");
  put(zelk::sm.email, u"test@example.invalid");
  CZelkSDlg dlg;
  const QStringList lines = logOf(dlg).split(QLatin1Char('\n'));
#if defined(__clang__)
  const QString compiler =
      QStringLiteral("Clang version %1").arg(__clang_major__ * 100 + __clang_minor__);
#else
  const QString compiler = QStringLiteral("GCC version %1").arg(__GNUC__ * 100 + __GNUC_MINOR__);
#endif
  QVERIFY(lines.size() >= 21);
  // The toolchain that built it, where the desktop build names its own.
  QCOMPARE(lines[0],
           QString::fromUtf16(u"ZelkSolver 1.16 release UNICODE 64 位, %1").arg(compiler));
  // "%s %s  %s  %s " of name (with its own trailing blank), version, credit, home page.
  QCOMPARE(lines[1],
           QStringLiteral("ZelkSolver  1.16  credit of the test  https://example.invalid/home "));
  QCOMPARE(lines[2], QString::fromUtf16(u"如果发现任何异常，请和作者邮箱联系,以便改进!"));
  QCOMPARE(lines[3], QStringLiteral("test@example.invalid"));
  QCOMPARE(lines[4], QString::fromUtf16(u"在本系统中  10一律用0表示  小王一律用X表示   "
                                        u"大王一律用Y表示  其余牌用相对应的字母表示"));
  QCOMPARE(lines[5], QString::fromUtf16(u"默认支持所有的出牌类型  取消特殊牌型可以在右上角取消"));
  QStringList types;
  for (int t : zelk::ALL_PLAY_TYPES) types << QString::fromUtf16(zelk::pt2Str(t));
  QCOMPARE(lines.mid(6, 15), types);
}

void TestDialog::theTimerDrainsTenTextsATick() {
  CZelkSDlg dlg;
  CMyRichEditCtrl* view = dlg.logViewControl();
  logOf(dlg);
  view->clear();
  // One tick's drain runs without the event loop: a change opens a group,
  // and a call posted by it closes the group once the tick is over.
  QList<int> linesAfterEachTick;
  bool tickOpen = false;
  connect(view->document(), &QTextDocument::contentsChanged, view, [&] {
    if (tickOpen) return;
    tickOpen = true;
    QMetaObject::invokeMethod(
        view,
        [&] {
          tickOpen = false;
          linesAfterEachTick << view->toPlainText().count(QLatin1Char('\n'));
        },
        Qt::QueuedConnection);
  });
  QString expected;
  for (int i = 1; i <= 25; ++i) {
    zelk::LogPrint(u"text %d\r\n", i);
    expected += QStringLiteral("text %1\n").arg(i);
  }
  QCOMPARE(view->toPlainText(), QString());  // queued, not shown yet
  QTRY_COMPARE(view->toPlainText(), expected);
  QTRY_VERIFY(!tickOpen);
  QVERIFY2(linesAfterEachTick.size() >= 3, qPrintable(QDebug::toString(linesAfterEachTick)));
  int before = 0;
  for (int lines : linesAfterEachTick) {
    QVERIFY2(lines - before <= 10, qPrintable(QDebug::toString(linesAfterEachTick)));
    before = lines;
  }
  QCOMPARE(linesAfterEachTick.first(), 10);  // a full tick when ten or more wait
}

void TestDialog::controlsCaptionsAndColours() {
  CZelkSDlg dlg;
  QStringList statics;
  for (QLabel* l : dlg.findChildren<QLabel*>()) statics << l->text();
  for (const char16_t* text :
       {u"玩家1（后出牌者）的牌:", u"玩家2（先出牌者）的牌:", u"对局记录：",
        u"特殊出牌规则设置（勾选表示支持对应规则）:",
        u"牌的表示 : Y X 2 A K Q J 0 9 8 7 6 5 4 3 //其中，Y是大王  X是小王  0是10",
        u"Zelk求解器说明：\n输入双方的牌后单击“开始求解”按钮即可\n求解完成后，电脑会自动选择必胜的"
        u"一方与用户对局互动，以演示如何必胜"}) {
    QVERIFY2(statics.contains(QString::fromUtf16(text)), qPrintable(QString::fromUtf16(text)));
  }
  QCOMPARE(dlg.control(1036)->palette().color(QPalette::WindowText), QColor(0, 0, 200));
  QCOMPARE(dlg.logViewControl()->palette().color(QPalette::Base), QColor(204, 255, 204));
  for (int id : {1000, 1035}) {
    auto* b = qobject_cast<CButtonST*>(dlg.control(id));
    QVERIFY(b && b->hasImage());
    QCOMPARE(b->color(CButtonST::BTNST_COLOR_BK_IN), QColor(0, 200, 0));
  }
  QVERIFY(!qobject_cast<CButtonST*>(dlg.control(1044))->hasImage());
  for (int id : {1037, 1038, 1039, 1004}) QVERIFY(dlg.control(id) != nullptr);
  QVERIFY(qobject_cast<QLabel*>(dlg.control(1037))
              ->text()
              .startsWith(QStringLiteral("ZelkSolver  1.16")));
}

void TestDialog::rejectedHands_data() {
  QTest::addColumn<QString>("typedA");
  QTest::addColumn<QString>("typedB");
  QTest::addColumn<QString>("box");
  QTest::newRow("player1 foreign card")
      << QStringLiteral("aaz") << QStringLiteral("33")
      << QString::fromUtf16(u"玩家1的牌不合法!\r\n因为[输入范围之外的字符(Z)]!请重新输入!!!\r\n");
  QTest::newRow("player2 five threes")
      << QStringLiteral("AA9") << QStringLiteral("3 3 3 3 3")
      << QString::fromUtf16(u"玩家2的牌不合法!\r\n因为[3超过了4张]!请重新输入!!!\r\n");
  QTest::newRow("both invalid: player1 reported")
      << QStringLiteral("xx") << QStringLiteral("YY")
      << QString::fromUtf16(
             u"玩家1的牌不合法!\r\n因为[输入了2张小王，最多只能1张小王]!请重新输入!!!\r\n");
  QTest::newRow("player1 empty") << QString() << QStringLiteral("339")
                                 << QString::fromUtf16(
                                        u"每个玩家的牌太少!!!\r\n请重新输入!!![0][3]\r\n");
  QTest::newRow("player2 only blanks")
      << QStringLiteral("339") << QStringLiteral("   ")
      << QString::fromUtf16(u"每个玩家的牌太少!!!\r\n请重新输入!!![3][0]\r\n");
  QTest::newRow("23 cards") << QStringLiteral("33334444555566667777889") << QStringLiteral("AA2")
                            << QString::fromUtf16(
                                   u"每个玩家的牌不能超过22张!!!\r\n请重新输入!!![23][3]\r\n");
}

void TestDialog::rejectedHands() {
  QFETCH(QString, typedA);
  QFETCH(QString, typedB);
  QFETCH(QString, box);
  CZelkSDlg dlg;
  logOf(dlg);
  dlg.logViewControl()->clear();
  edit(dlg, 1001)->setText(typedA);
  edit(dlg, 1002)->setText(typedB);
  dlg.OnBnClickedButtonDo();
  QCOMPARE(boxes_->texts(), QStringList{box});
  QCOMPARE(boxes_->captions(), QStringList{QStringLiteral("BOX_PRINT")});
  // Nothing else changed: the typed text stays, nothing is stored, no solve.
  QCOMPARE(edit(dlg, 1001)->text(), typedA);
  QCOMPARE(edit(dlg, 1002)->text(), typedB);
  QVERIFY(!stored("testinputA").isValid());
  QVERIFY(dlg.consoleWindow() == nullptr);
  QVERIFY(dlg.control(1000)->isEnabled());
  QVERIFY(!dlg.control(1035)->isEnabled());
  QCOMPARE(logOf(dlg), box.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void TestDialog::enterAndEscapeAreSwallowed() {
  CZelkSDlg dlg;
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  QSignalSpy finished(&dlg, &QDialog::finished);
  for (QWidget* target : {static_cast<QWidget*>(&dlg), dlg.control(1001), dlg.control(1012)}) {
    QTest::keyClick(target, Qt::Key_Escape);
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
  }
  QTest::qWait(20);
  QCOMPARE(finished.count(), 0);
  QVERIFY(dlg.isVisible());
  QVERIFY(boxes_->texts().isEmpty());  // Enter did not start a solve either
}

void TestDialog::ruleSwitchesLogAndStore() {
  CZelkSDlg dlg;
  logOf(dlg);
  for (int s = 0; s < zelk::RULE_SWITCH_COUNT; ++s) {
    const zelk::RuleSwitch& rule = zelk::RULE_SWITCHES[s];
    box(dlg, ids::RULE_SWITCH_BOXES[s])->click();  // off
    QCOMPARE(rule.flag->load(), 0);
    QCOMPARE(stored(rule.name).toString(), QStringLiteral("0"));
    QCOMPARE(logOf(dlg).section(QLatin1Char('\n'), -2, -2) + QLatin1Char('\n'),
             crlf(zelk::formatText(rule.message, 0).c_str()));
  }
  box(dlg, 1023)->click();  // 炸弹 back on
  QCOMPARE(zelk::F_TYPE_ZD.load(), 1);
  QCOMPARE(stored("F_TYPE_ZD").toString(), QStringLiteral("1"));
  QVERIFY(logOf(dlg).endsWith(QStringLiteral("F_TYPE_ZD  = 1 \n")));
}

void TestDialog::switchesPersistAcrossARestart() {
  {
    CZelkSDlg dlg;
    box(dlg, 1023)->click();  // 炸弹 off
    box(dlg, 1021)->click();  // 飞机带个子翅膀 off
  }
  freshProcessFlags();
  CZelkSDlg dlg;
  QVERIFY(!box(dlg, 1023)->isChecked());
  QVERIFY(!box(dlg, 1021)->isChecked());
  QCOMPARE(zelk::F_TYPE_ZD.load(), 0);
  QCOMPARE(zelk::F_TYPE_F11.load(), 0);
  int checked = 0;
  for (int id : ids::RULE_SWITCH_BOXES) checked += box(dlg, id)->isChecked();
  QCOMPARE(checked, 11);
}

void TestDialog::debugSwitchesAreNeitherStoredNorKept() {
  {
    CZelkSDlg dlg;
    dlg.OnDebugDump();
    box(dlg, 1041)->click();
    QCOMPARE(zelk::F_DEBUG.load(), 1);
    QVERIFY(logOf(dlg).endsWith(QStringLiteral("F_DEBUG = 1 \n")));
    box(dlg, 1043)->click();
    QCOMPARE(zelk::F_U1F.load(), 1);
    QVERIFY(logOf(dlg).endsWith(QStringLiteral("F_U1F = 1 \n")));
  }
  QVERIFY(!stored("F_DEBUG").isValid());
  QVERIFY(!stored("F_U1F").isValid());
  freshProcessFlags();
  CZelkSDlg dlg;
  for (int id : {1041, 1043, 1055}) {
    QVERIFY(box(dlg, id)->isHidden());
    QVERIFY(!box(dlg, id)->isChecked());
  }
}

void TestDialog::fastEngineBoxIsStoredAndRestored() {
  {
    CZelkSDlg dlg;
    QCheckBox* fast = box(dlg, ids::FAST_ENGINE);
    QCOMPARE(fast->text(), QString::fromUtf16(u"快速引擎（置换表）"));
    QVERIFY(!fast->isChecked());  // off by default
    QVERIFY(dlg.solveRequest(u"2", u"43").engine.kind == zelk::EngineKind::Exhaustive);
    fast->click();
    QVERIFY(dlg.solveRequest(u"2", u"43").engine.kind == zelk::EngineKind::Fast);
    QCOMPARE(stored("F_FAST").toString(), QStringLiteral("1"));
    QVERIFY(logOf(dlg).endsWith(QStringLiteral("F_FAST     = 1 \n")));
  }
  freshProcessFlags();
  CZelkSDlg dlg;
  QVERIFY(box(dlg, ids::FAST_ENGINE)->isChecked());
  QVERIFY(dlg.solveRequest(u"2", u"43").engine.kind == zelk::EngineKind::Fast);
}

void TestDialog::practiceBoxIsStoredAndPractisesOnTheFastEngine() {
  {
    CZelkSDlg dlg;
    QCheckBox* practice = box(dlg, ids::PRACTICE);
    QCOMPARE(practice->text(), QString::fromUtf16(u"残局练习（我走必胜方）"));
    QVERIFY(!practice->isChecked());  // off by default
    QVERIFY(dlg.solveRequest(u"2", u"43").mode == zelk::SolveMode::Solve);
    practice->click();
    const zelk::SolveRequest request = dlg.solveRequest(u"2", u"43");
    QVERIFY(request.mode == zelk::SolveMode::Practice);
    QVERIFY(request.engine.kind == zelk::EngineKind::Fast);  // the fast box is off
    QCOMPARE(stored("F_PRACTICE").toString(), QStringLiteral("1"));
    QVERIFY(logOf(dlg).endsWith(QStringLiteral("F_PRACTICE = 1 \n")));
  }
  freshProcessFlags();
  CZelkSDlg dlg;
  QVERIFY(box(dlg, ids::PRACTICE)->isChecked());
}

void TestDialog::debugDumpTogglesAndWritesEveryLine() {
  put(zelk::sm.n_ver, u"1.17");
  put(zelk::sm.n_email, u"new@example.invalid");
  CZelkSDlg dlg;
  box(dlg, 1023)->click();  // 炸弹 off, to see a zero in the dump
  logOf(dlg);
  dlg.logViewControl()->clear();
  const QString expected = crlf(
      u"qZelk2Free:size:0\r\n"
      u"mStrSeq:size:0\r\n"
      u"CmdHwnd:0000000000000000 \r\n"
      u"F_LOG      = 0 \r\n"
      u"F_DEBUG    = 0 \r\n"
      u"F_U1F      = 0 \r\n"
      u"F_TYPE_D   = 1 \r\n"
      u"F_TYPE_3   = 1 \r\n"
      u"F_TYPE_31  = 1 \r\n"
      u"F_TYPE_32  = 1 \r\n"
      u"F_TYPE_411 = 1 \r\n"
      u"F_TYPE_422 = 1 \r\n"
      u"F_TYPE_F   = 1 \r\n"
      u"F_TYPE_F11 = 1 \r\n"
      u"F_TYPE_F22 = 1 \r\n"
      u"F_TYPE_SZ  = 1 \r\n"
      u"F_TYPE_LD  = 1 \r\n"
      u"F_TYPE_ZD  = 0 \r\n"
      u"F_TYPE_WZ  = 1 \r\n"
      u"MAXPN      = 22 \r\n"
      u"sm.name       = ZelkSolver  \r\n");
  QTest::mouseClick(dlg.control(1044), Qt::LeftButton);
  for (int id : {1041, 1043, 1055}) QVERIFY(!box(dlg, id)->isHidden());
  QString first = logOf(dlg);
  QVERIFY2(first.startsWith(expected), qPrintable(first));
  QStringList tail = first.mid(expected.size()).split(QLatin1Char('\n'));
  QCOMPARE(tail.size(), 7);  // six n_ fields and the end
  QCOMPARE(tail[0], QStringLiteral("sm.n_ver      = 1.17 "));
  QCOMPARE(tail[1], QStringLiteral("sm.n_message  =  "));
  QCOMPARE(tail[5], QStringLiteral("sm.n_email    = new@example.invalid "));

  dlg.logViewControl()->clear();
  QTest::mouseClick(dlg.control(1044), Qt::LeftButton);
  for (int id : {1041, 1043, 1055}) QVERIFY(box(dlg, id)->isHidden());
  QCOMPARE(logOf(dlg), first);
}

void TestDialog::updateInfoRefreshesTheIdentityTexts() {
  CZelkSDlg dlg;
  auto text = [&](int id) { return qobject_cast<QLabel*>(dlg.control(id))->text(); };
  QCOMPARE(text(1038), QString::fromStdU16String(zelk::sm.email));
  put(zelk::sm.n_ver, u"1.17");
  put(zelk::sm.n_homepage, u"https://example.invalid/new");
  put(zelk::sm.n_email, u"new@example.invalid");
  zelk::postCommand(zelk::ID_UPDATE_INFO);
  QTRY_COMPARE(dlg.windowTitle(), QStringLiteral("ZelkSolver  1.17 "));
  QCOMPARE(text(1037), QStringLiteral("ZelkSolver  1.17 "));
  QCOMPARE(text(1039), QString::fromStdU16String(zelk::sm.credit) +
                           QStringLiteral(" https://example.invalid/new "));
  QCOMPARE(text(1038), QStringLiteral("new@example.invalid"));
}

void TestDialog::logfWritesTheLogFile() {
  const QString file = settings_->path() + QStringLiteral("/state/ZelkSolver.log");
  zelk::setLogFilePath(file.toStdString());
  CZelkSDlg dlg;
  dlg.OnDebugDump();
  box(dlg, 1055)->click();
  QCOMPARE(zelk::F_LOG.load(), 1);
  zelk::LogPrint(u"玩家1:%s[%d]\r\n", u"AA9", 3);
  box(dlg, 1055)->click();
  QCOMPARE(zelk::F_LOG.load(), 0);
  zelk::LogPrint(u"not in the file\r\n");
  QVERIFY(logOf(dlg).contains(QStringLiteral("F_LOG  = 1 \n")));

  QFile f(file);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  QVERIFY(bytes.startsWith("\xFF\xFE"));
  const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                          (bytes.size() - 2) / 2);
  // Every text while the flag was on, its own message included.
  QVERIFY(text.contains(QStringLiteral("]:F_LOG  = 1 \r\n")));
  QVERIFY(text.contains(QString::fromUtf16(u"]:玩家1:AA9[3]\r\n")));
  QVERIFY(!text.contains(QStringLiteral("F_LOG  = 0")));
  QVERIFY(!text.contains(QStringLiteral("not in the file")));
  zelk::setLogFilePath(std::string());
}

ZELK_APP_TEST_MAIN(TestDialog)
#include "test_dialog.moc"
