#include "app/zelksdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <thread>

#include "app/buttonst.h"
#include "app/consolewindow.h"
#include "app/controlids.h"
#include "app/guibridge.h"
#include "app/identity.h"
#include "app/myrichedit.h"
#include "app/settings.h"
#include "app/uifont.h"
#include "base/output.h"
#include "buildconfig.h"
#include "platform/console.h"
#include "rules/playtypes.h"
#include "rules/types.h"
#include "run/handinput.h"
#include "run/solverun.h"

using zelk::BoxPrint;
using zelk::LogPrint;

namespace {

// The compiler that built us and its version, major * 100 + minor, where the
// desktop build names its own.
#if defined(__clang__)
constexpr const char16_t* COMPILER = u"Clang";
constexpr int COMPILER_VERSION = __clang_major__ * 100 + __clang_minor__;
#elif defined(__GNUC__)
constexpr const char16_t* COMPILER = u"GCC";
constexpr int COMPILER_VERSION = __GNUC__ * 100 + __GNUC_MINOR__;
#else
constexpr const char16_t* COMPILER = u"C++";
constexpr int COMPILER_VERSION = 0;
#endif

QString idName(int id) { return QStringLiteral("idc%1").arg(id); }

template <class W>
W* named(W* w, int id) {
  w->setObjectName(idName(id));
  return w;
}

QLabel* staticText(const char16_t* text, QWidget* parent) {
  auto* l = new QLabel(QString::fromUtf16(text), parent);
  l->setTextFormat(Qt::PlainText);
  return l;
}

const char16_t CONSOLE_TITLE[] = u"ZelkSolver-机器与玩家对局互动窗口:";

}  // namespace

CZelkSDlg::CZelkSDlg(QWidget* parent) : QDialog(parent) {
  buildControls();
  OnInitDialog();
}

CZelkSDlg::~CZelkSDlg() {
  m_drainTimer.stop();
  // The process lets go of its console: a solver thread waiting for a line
  // wakes with a failed read and ends its run.
  if (std::shared_ptr<zelk::Console> console = zelk::currentConsole()) {
    console->detach();
    zelk::setConsole(nullptr);
  }
  qApp->removeEventFilter(this);
  zelk::setControlPanel(nullptr);
  if (zelk::logView() == m_log) zelk::setLogView(nullptr);
  GuiBridge::instance().detach(this);
}

QWidget* CZelkSDlg::control(int id) const { return findChild<QWidget*>(idName(id)); }

ConsoleWindow* CZelkSDlg::consoleWindow() const { return m_console.data(); }

// --- Template 102 ---------------------------------------------------------------

void CZelkSDlg::buildControls() {
  setWindowTitle(QString::fromUtf16(u"Zelk残局"));
  setFont(uiFont(10));
  setSizeGripEnabled(true);

  // Left: hands, notation, usage, start and stop, the log.
  auto* labelA = staticText(u"玩家1（后出牌者）的牌:", this);
  m_editA = named(new QLineEdit(this), ids::PLAYER1);
  auto* labelB = staticText(u"玩家2（先出牌者）的牌:", this);
  m_editB = named(new QLineEdit(this), ids::PLAYER2);
  auto* notation = named(
      staticText(u"牌的表示 : Y X 2 A K Q J 0 9 8 7 6 5 4 3 //其中，Y是大王  X是小王  0是10", this),
      ids::NOTATION);
  QPalette blue = notation->palette();
  blue.setColor(QPalette::WindowText, QColor(0, 0, 200));
  notation->setPalette(blue);
  auto* usage = staticText(
      u"Zelk求解器说明：\n输入双方的牌后单击“开始求解”按钮即可\n"
      u"求解完成后，电脑会自动选择必胜的一方与用户对局互动，以演示如何必胜",
      this);
  usage->setWordWrap(true);
  m_btnDo = named(new CButtonST(this), ids::START);
  m_btnStop = named(new CButtonST(this), ids::STOP);
  auto* logLabel = staticText(u"对局记录：", this);
  m_log = named(new CMyRichEditCtrl(this), ids::LOG_VIEW);

  auto* hands = new QGridLayout;
  hands->addWidget(labelA, 0, 0);
  hands->addWidget(m_editA, 0, 1);
  hands->addWidget(labelB, 1, 0);
  hands->addWidget(m_editB, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(usage, 1);
  buttons->addWidget(m_btnDo);
  buttons->addWidget(m_btnStop);
  auto* left = new QVBoxLayout;
  left->addLayout(hands);
  left->addWidget(notation);
  left->addLayout(buttons);
  left->addWidget(logLabel);
  left->addWidget(m_log, 1);

  // Right: the switches, the debug corner, the identity texts, the web panel.
  auto* etched = new QFrame(this);
  etched->setFrameShape(QFrame::HLine);
  etched->setFrameShadow(QFrame::Sunken);
  auto* switchLabel = staticText(u"特殊出牌规则设置（勾选表示支持对应规则）:", this);
  auto* switches = new QGridLayout;
  for (int i = 0; i < zelk::RULE_SWITCH_COUNT; ++i) {
    for (int s = 0; s < zelk::RULE_SWITCH_COUNT; ++s) {
      if (ids::RULE_SWITCH_BOXES[s] != ids::RULE_SWITCH_LAYOUT[i]) continue;
      const zelk::RuleSwitch& rule = zelk::RULE_SWITCHES[s];
      auto* box =
          named(new QCheckBox(QString::fromUtf16(rule.caption), this), ids::RULE_SWITCH_BOXES[s]);
      connect(box, &QCheckBox::clicked, this, [this, &rule, box] { OnRuleSwitch(rule, box); });
      switches->addWidget(box, i / 3, i % 3);
    }
  }
  auto* fast =
      named(new QCheckBox(QString::fromUtf16(u"快速引擎（置换表）"), this), ids::FAST_ENGINE);
  connect(fast, &QCheckBox::clicked, this, [this, fast] { OnFastEngine(fast); });
  auto* practice =
      named(new QCheckBox(QString::fromUtf16(u"残局练习（我走必胜方）"), this), ids::PRACTICE);
  connect(practice, &QCheckBox::clicked, this, [this, practice] { OnPractice(practice); });
  auto* engineRow = new QHBoxLayout;
  engineRow->addWidget(fast);
  engineRow->addWidget(practice);
  engineRow->addStretch(1);
  switches->addLayout(engineRow, zelk::RULE_SWITCH_COUNT / 3, zelk::RULE_SWITCH_COUNT % 3, 1, 2);
  auto* debugRow = new QHBoxLayout;
  struct DebugBox {
    int id;
    const char16_t* caption;
    zelk::Flag* flag;
    const char16_t* message;
  };
  static const DebugBox debugBoxes[] = {
      {ids::DEBUG_BOX, u"DEBUG", &zelk::F_DEBUG, u"F_DEBUG = %d \r\n"},
      {ids::U1F_BOX, u"U1F", &zelk::F_U1F, u"F_U1F = %d \r\n"},
      {ids::LOG_BOX, u"LOGF", &zelk::F_LOG, u"F_LOG  = %d \r\n"},
  };
  for (const DebugBox& d : debugBoxes) {
    auto* box = named(new QCheckBox(QString::fromUtf16(d.caption), this), d.id);
    connect(box, &QCheckBox::clicked, this,
            [this, &d, box] { OnDebugSwitch(*d.flag, d.message, box); });
    debugRow->addWidget(box);
  }
  debugRow->addStretch(1);
  m_btnDump = named(new CButtonST(this), ids::DUMP);
  m_btnDump->setFixedSize(12, 12);
  debugRow->addWidget(m_btnDump);

  auto* name = named(new QLabel(this), ids::NAME);
  auto* contact = named(new QLabel(this), ids::CONTACT);
  auto* credit = named(new QLabel(this), ids::CREDIT);
  for (QLabel* l : {name, contact, credit}) {
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  // The web panel's place; the update notice puts its browser in here.
  m_webPanel = named(new QWidget(this), ids::WEB_PANEL);
  m_webPanel->setMinimumSize(300, 200);
  m_webPanel->setLayout(new QVBoxLayout);
  m_webPanel->layout()->setContentsMargins(0, 0, 0, 0);

  auto* right = new QVBoxLayout;
  right->addWidget(etched);
  right->addWidget(switchLabel);
  right->addLayout(switches);
  right->addLayout(debugRow);
  right->addWidget(name);
  right->addWidget(contact);
  right->addWidget(credit);
  right->addWidget(m_webPanel, 1);

  // The template's OK and Cancel, kept hidden.
  auto* ok = named(new QPushButton(QString::fromUtf16(u"确定"), this), ids::OK);
  auto* cancel = named(new QPushButton(QString::fromUtf16(u"取消"), this), ids::CANCEL);
  for (QPushButton* b : {ok, cancel}) {
    b->setAutoDefault(false);
    b->hide();
  }
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* top = new QHBoxLayout(this);
  top->addLayout(left, 3);
  top->addLayout(right, 2);

  connect(m_btnDo, &CButtonST::clicked, this, &CZelkSDlg::OnBnClickedButtonDo);
  connect(m_btnStop, &CButtonST::clicked, this, [] { zelk::Destroy(); });
  connect(m_btnDump, &CButtonST::clicked, this, &CZelkSDlg::OnDebugDump);
  connect(&m_drainTimer, &QTimer::timeout, this, [] { zelk::DrainLogQueue(); });

  // 727 x 378 dialog units of a 10-point 宋体 template.
  resize(1272, 661);
}

// --- Initialisation -------------------------------------------------------------

void CZelkSDlg::OnInitDialog() {
  // 1. Icon.
  setWindowIcon(QIcon(QStringLiteral(":/icon/128")));

  // 2. The log view.
  m_log->setReadOnly(true);
  if (m_log->isReadOnly()) m_log->m_bReadOnly = 1;
  m_log->setTextLimit(0x7fff);
  m_log->clear();
  m_log->setBackgroundColor(QColor(204, 255, 204));
  zelk::setLogView(m_log);
  m_log->setSelection(-1, -1);

  // 3. The owner of boxes and target of commands; the screen position.
  GuiBridge::instance().attach(this, [this](int id) { OnCommand(id); });
  zelk::setMessageBoxes(&GuiBridge::instance());
  zelk::setCommandTarget(&GuiBridge::instance());
  zelk::setControlPanel(this);
  move(5, 30);

  // 4. The image buttons.
  m_btnDo->setImage(QImage(QStringLiteral(":/bitmap/133")), QColor(32, 0, 0));
  m_btnStop->setImage(QImage(QStringLiteral(":/bitmap/132")), QColor(32, 0, 0));
  m_btnDo->setColor(CButtonST::BTNST_COLOR_BK_IN, QColor(0, 200, 0));
  m_btnStop->setColor(CButtonST::BTNST_COLOR_BK_IN, QColor(0, 200, 0));

  // 5-6. The last hands and the rule switches.
  const std::u16string lastA = settings::readString(settings::INPUT_A, settings::DEFAULT_INPUT_A);
  const std::u16string lastB = settings::readString(settings::INPUT_B, settings::DEFAULT_INPUT_B);
  loadRuleSwitches();

  // 7-8. The update check and the identity texts.
  startUpdateCheck();
  setIdentityTexts();
  m_navigateErrors = 0;

  // 9. The drain of the log queue.
  m_drainTimer.start(100);

  // 10. The busy mutex.
  zelk::createSolveMutex();

  // 11-12. The hands, and the start-up text.
  m_editA->setText(QString::fromStdU16String(lastA));
  m_editB->setText(QString::fromStdU16String(lastB));
  writeStartupLines();

  // 13-15.
  m_btnStop->setEnabled(false);
  showRuleSwitches();
  for (int id : ids::DEBUG_BOXES) control(id)->hide();

  // Enter and Escape never reach the dialog.
  qApp->installEventFilter(this);
}

void CZelkSDlg::writeStartupLines() {
  const IdentityTexts id = identityTexts();
  LogPrint(u"ZelkSolver %s %s %s %d 位, %s version %d\r\n", ZELK_VERSION_TEXT, u"release",
           u"UNICODE", static_cast<int>(sizeof(void*) * 8), COMPILER, COMPILER_VERSION);
  LogPrint(u"%s %s  %s  %s \r\n", id.name, id.ver, id.credit, id.homepage);
  LogPrint(u"如果发现任何异常，请和作者邮箱联系,以便改进!\r\n");
  LogPrint(u"%s\r\n", id.email);
  LogPrint(
      u"在本系统中  10一律用0表示  小王一律用X表示   大王一律用Y表示  "
      u"其余牌用相对应的字母表示\r\n");
  LogPrint(u"默认支持所有的出牌类型  取消特殊牌型可以在右上角取消\r\n");
  for (int type : zelk::ALL_PLAY_TYPES) LogPrint(u"%s\r\n", zelk::pt2Str(type));
}

bool CZelkSDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
  }
  return QDialog::eventFilter(watched, event);
}

// --- Commands ---------------------------------------------------------------------

void CZelkSDlg::OnCommand(int id) {
  if (id == zelk::ID_SOLVE_DONE) {
    zelk::DestroyOk();
  } else if (id == zelk::ID_UPDATE_INFO) {
    OnUpdateInfo();
  }
}

// --- Start ------------------------------------------------------------------------

void CZelkSDlg::OnBnClickedButtonDo() {
  // 1. A solve that is still running keeps the busy mutex.
  if (!zelk::solverIdleTest()) return;

  // 2-7. The typed hands: upper case, without blanks, valid, 1 to MAXPN
  // cards each, sorted from the highest card down; shown, logged, remembered.
  std::u16string a = m_editA->text().toStdU16String();
  std::u16string b = m_editB->text().toStdU16String();
  std::u16string refusal;
  if (!zelk::acceptHands(a, b, refusal)) {
    BoxPrint(u"%s", refusal);
    return;
  }
  LogPrint(u"玩家1:%s[%d]\r\n", a, static_cast<int>(a.size()));
  LogPrint(u"玩家2:%s[%d]\r\n", b, static_cast<int>(b.size()));
  m_editA->setText(QString::fromStdU16String(a));
  m_editB->setText(QString::fromStdU16String(b));
  settings::writeString(settings::INPUT_A, a);
  settings::writeString(settings::INPUT_B, b);

  // 8-10. The console, the solver thread, the controls.
  zelk::SolveRequest request = solveRequest(std::move(a), std::move(b));
  if (m_practice && !m_fastEngine) LogPrint(u"残局练习用快速引擎求解\r\n");
  openConsole();
  if (int error = zelk::startSolverThread(std::move(request))) {
    // No solve: the console goes again and the inputs stay as they are.
    if (std::shared_ptr<zelk::Console> console = zelk::currentConsole()) console->detach();
    zelk::setConsole(nullptr);
    BoxPrint(u"OnBnClickedButtonDo:启动求解线程失败(eno %d)\r\n", error);
    return;
  }
  enableInputs(false);
  enableStop(true);

  // 11-13. The console window: no close button (its own), at the right edge.
  CmdHwnd = m_console.data();
  if (!m_console) return;
  m_console->placeAtRightEdge(80);
}

zelk::SolveRequest CZelkSDlg::solveRequest(std::u16string player1, std::u16string player2) const {
  zelk::SolveRequest request;
  request.player1 = std::move(player1);
  request.player2 = std::move(player2);
  request.engine.kind = m_fastEngine ? zelk::EngineKind::Fast : zelk::EngineKind::Exhaustive;
  request.engine.rules = zelk::fast::currentRules();
  // Someone is waiting at the dialog for the answer: where there is a second
  // core, the fast engine's long searches use it (the verdict and the plays
  // stay the same; the positions counted vary a little from run to run).
  request.engine.threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
  request.u1First = zelk::on(zelk::F_U1F);
  // Practice asks for moves to win, which only the fast engine gives; the
  // listing mode has no practice.
  if (m_practice && !request.u1First) {
    request.mode = zelk::SolveMode::Practice;
    request.engine.kind = zelk::EngineKind::Fast;
  }
  return request;
}

void CZelkSDlg::openConsole() {
  // A console left from an earlier solve goes first, like a process that can
  // hold only one console.
  if (std::shared_ptr<zelk::Console> old = zelk::currentConsole()) old->detach();
  auto* window = new ConsoleWindow;
  m_console = window;
  zelk::setConsole(window->console());
  window->console()->setTitle(CONSOLE_TITLE);
  window->show();
  window->raise();
  window->activateWindow();
  window->input()->setFocus();
}

// --- The thread control's view ------------------------------------------------------

void CZelkSDlg::enableInputs(bool enable) {
  for (int id : ids::INPUTS) control(id)->setEnabled(enable);
  // The engine and the mode stay as they are while a solve runs, like the rules.
  control(ids::FAST_ENGINE)->setEnabled(enable);
  control(ids::PRACTICE)->setEnabled(enable);
}

void CZelkSDlg::enableStop(bool enable) { control(ids::STOP)->setEnabled(enable); }

bool CZelkSDlg::hasConsoleWindow() { return CmdHwnd != nullptr; }

void CZelkSDlg::wakeConsoleWindow() {
  if (m_console) m_console->postWakeKeys();
}

void CZelkSDlg::clearConsoleWindow() { CmdHwnd = nullptr; }
