// SPDX-License-Identifier: MIT
#include "Telvixmain1.h"

#include "ui_Telvixmain1.h"

#include "main/CommandPanel.h"
#include "main/FindBar.h"
#include "main/LinePanel.h"
#include "main/ReceiveSession.h"
#include "main/ScriptWindow.h"
#include "main/TrafficView.h"
#include "modes/MonitorSession.h"
#include "modes/PassThroughSession.h"
#include "modes/R2KSession.h"
#include "modes/ScriptSession.h"
#include "modes/SelfTestDialog.h"
#include "modes/TerminalSession.h"
#include "send/CodeInsertion.h"
#include "send/CommandList.h"
#include "send/FileByteStream.h"
#include "send/FileSendJob.h"
#include "send/StringSendJob.h"
#include "send/Telvixmain3.h"
#include "send/Telvixmain4.h"
#include "serial/MonitorDialog.h"
#include "serial/PortSettings.h"
#include "serial/SerialPort.h"
#include "serial/Telvixmain2.h"
#include "session/ModeState.h"
#include "session/ModeTable.h"
#include "settings/AboutTexts.h"
#include "settings/OuterSize.h"
#include "settings/Telvixmain6.h"
#include "traffic/CaptureExport.h"
#include "traffic/LiveLog.h"
#include "widgets/ElidedLabel.h"
#include "widgets/FileDialogs.h"
#include "widgets/FontChoice.h"
#include "widgets/Fonts.h"
#include "widgets/GrowingPanel.h"
#include "widgets/InputHistory.h"
#include "widgets/MessageBoxes.h"
#include "widgets/StatusPanelLayout.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace {

// The window's size while it is not sizable, frame included.
const QSize FixedOuterSize {600, 428};

// What terminal mode reads from the panels under the display.
class TerminalControls : public TerminalPanel
{
public:
    TerminalControls(Ui::TForm1 &ui, InputHistory &history) : m_ui(ui), m_history(history) { }
    QString localName() const override { return m_ui.LocalNameEdit->text(); }
    QString remoteName() const override { return m_ui.RemoteNameEdit->text(); }
    QString delayText() const override { return m_ui.TRMode_Char_DelayTime_Edit->text(); }
    QString messageText() const override { return m_ui.Memo2->toPlainText(); }
    void clearMessage() override
    {
        m_ui.Memo2->clear();
        m_ui.Memo2->setFocus();
    }
    void focusMessage() override { m_ui.Memo2->setFocus(); }
    QByteArray lineEnding() const override
    {
        return m_ui.LineEndComboBox->currentData().toByteArray();
    }
    bool hexInput() const override { return m_ui.HexInputCheckBox->isChecked(); }
    void messageSent(const QString &text) override { m_history.add(text); }

private:
    Ui::TForm1 &m_ui;
    InputHistory &m_history;
};

} // namespace

static void loadResources()
{
    // The glyphs live in a static library, whose resources are not registered on their own.
    static const bool loaded = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(loaded);
}

TForm1::TForm1(QWidget *parent) : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>())
{
    loadResources();
    ui->setupUi(this);
    setFont(Fonts::ming());
    ui->Memo1->setFont(Fonts::mingFixed());
    ui->Memo2->setFont(Fonts::terminal(16));
    for (QToolButton *button : ui->Panel1->findChildren<QToolButton *>())
        button->setFont(Fonts::mingFixed());

    // The panels share the bar by what their texts need (StatusPanelLayout): the documented
    // widths while every text fits in them, a device path or a long reason whole where the
    // others have room to spare, and the rest of a wider window for the port summary.
    auto *panelRow = new QWidget(ui->StatusBar1);
    panelRow->setObjectName(QStringLiteral("StatusPanels"));
    auto *panelLayout = new StatusPanelLayout(panelRow);
    const auto newPanel = [](QWidget *parent, int index) {
        auto *panel = new ElidedLabel(parent);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(index));
        panel->setAlignment(Qt::AlignCenter);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        return panel;
    };
    static const int PanelWidths[3] = {200, 150, 250};
    static const char *PanelTexts[3] = {"", "ASCII 模式", ModeTable::IdleText};
    for (int i = 0; i < 3; ++i) {
        panels[i] = newPanel(panelRow, i);
        panels[i]->setText(QString::fromUtf8(PanelTexts[i]));
        panelLayout->addPanel(panels[i], PanelWidths[i]);
    }
    // The display form's two short texts stay whole; a path, a URL or a reason may lose its
    // middle, down to what still tells its ends.
    panels[0]->setShortestWidth(120);
    panels[2]->setShortestWidth(120);
    panelLayout->setGrowingPanel(panels[0]);
    ui->StatusBar1->addWidget(panelRow, 1);
    // As much room right of the last panel as left of the first, so that its border shows.
    ui->StatusBar1->setContentsMargins(0, 0, 2, 0);
    panels[0]->setText(PortSettings::summaryText());
    // Bytes received and sent, and the live log: shown only when asked for or while a log runs.
    m_trafficPanel = newPanel(panelRow, 3);
    m_trafficPanel->setShortestWidth(100);
    m_trafficPanel->setVisible(false);
    panelLayout->addPanel(m_trafficPanel, 150);
    // Ten times a second at the most: the counters change with every chunk.
    m_trafficTimer = new QTimer(this);
    m_trafficTimer->setInterval(100);
    connect(m_trafficTimer, &QTimer::timeout, this, &TForm1::updateTrafficPanel);

    // Memory running short: a small panel of its own for as long as it lasts, with the whole
    // sentence in its tool tip. Not a message of the bar: that would take the documented
    // panels' place. Read also while no mode runs, since the display holds what it has.
    m_memoryPanel = newPanel(ui->StatusBar1, 4);
    m_memoryPanel->setVisible(false);
    ui->StatusBar1->addPermanentWidget(m_memoryPanel);
    m_memoryTimer = new QTimer(this);
    m_memoryTimer->setObjectName(QStringLiteral("MemoryTimer"));
    m_memoryTimer->setInterval(MemoryCheckMs);
    connect(m_memoryTimer, &QTimer::timeout, this, [this] { checkMemory(MemoryProbe::read()); });
    m_memoryTimer->start();
    // The pass-through's name for the program, with a button that copies it: it is typed into
    // another program's settings.
    m_publishedPanel = new QWidget(ui->StatusBar1);
    m_publishedPanel->setObjectName(QStringLiteral("PublishedNamePanel"));
    auto *publishedLayout = new QHBoxLayout(m_publishedPanel);
    publishedLayout->setContentsMargins(0, 0, 0, 0);
    m_publishedName = newPanel(m_publishedPanel, 5);
    m_publishedName->setShortestWidth(120);
    auto *copy = new QToolButton(m_publishedPanel);
    copy->setObjectName(QStringLiteral("CopyPublishedNameButton"));
    copy->setText(QStringLiteral("複製"));
    copy->setAccessibleName(QStringLiteral("複製程式端名稱"));
    connect(copy, &QToolButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_publishedName->text()); });
    publishedLayout->addWidget(m_publishedName);
    publishedLayout->addWidget(copy);
    m_publishedPanel->setVisible(false);
    ui->StatusBar1->addPermanentWidget(m_publishedPanel);
    // A message of the bar (a status tip, say) hides the panels while it shows; they come back
    // whole when it is gone, whatever they were told meanwhile.
    connect(ui->StatusBar1, &QStatusBar::messageChanged, this, [this](const QString &message) {
        if (!message.isEmpty())
            return;
        for (QLabel *panel : panels)
            panel->show();
        updateTrafficPanel();
        m_memoryPanel->setVisible(m_memoryWatch.current() != MemoryWatch::Shortage::None);
    });

    m_linePanel = new LinePanel(m_traffic, ui->ClientArea);
    m_linePanel->setVisible(false);
    ui->ClientLayout->insertWidget(ui->ClientLayout->indexOf(ui->Panel1) + 1, m_linePanel);
    // Right under the display, hidden at start; shown, it makes the window taller by its row.
    m_findBar = new FindBar(ui->Memo1, m_formatter, ui->Panel6);
    ui->Panel6Layout->insertWidget(ui->Panel6Layout->indexOf(ui->Memo1) + 1, m_findBar);
    m_findBar->addShortcutsTo(this);
    m_commandPanel = new CommandPanel(m_traffic, ui->ClientArea);
    m_commandPanel->setVisible(false);
    ui->ClientLayout->addWidget(m_commandPanel);
    // A command's key wins over the find bar's while the panel shows (F3).
    connect(m_commandPanel, &CommandPanel::keysChanged, this,
            [this] { m_findBar->yieldKeys(m_commandPanel->keysTaken()); });

    // Made now, hidden: the enable/disable table switches its 執行 with every mode.
    m_scriptWindow = new ScriptWindow(this);
    connect(m_scriptWindow, &ScriptWindow::runRequested, this, &TForm1::ScriptRunClick);
    connect(m_scriptWindow, &ScriptWindow::stopRequested, this, &TForm1::BreakMenuBarClick);

    // The capture takes everything first, whatever the mode shows of it.
    m_traffic.subscribe(&m_capture, TrafficStream::Role::Keeper);
    connect(ui->Memo1, &TrafficView::cleared, this, [this] { m_renderer.restart(); });

    FontDialog1 = new QFontDialog(this);
    FontDialog1->setObjectName(QStringLiteral("FontDialog1"));

    // The client area is fixed until the settings dialog makes the window sizable; the menu
    // bar sits inside a Qt window, so it adds to the height.
    setFixedSize(593, 412 + ui->MainMenu1->sizeHint().height());
    if (const QScreen *s = screen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    connectHandlers();
    setUpTerminalPanels();
    FormCreate();
}

TForm1::~TForm1()
{
    // A live log is closed with what it has gathered, and without a message.
    if (m_log) {
        m_log->disconnect(this);
        m_traffic.unsubscribe(m_log.get());
        m_log->stop();
    }
    // The line panel follows the traffic stream, a member, which is gone before the child
    // widgets are.
    delete m_linePanel;
    m_linePanel = nullptr;
    delete m_commandPanel;
    m_commandPanel = nullptr;
}

void TForm1::connectHandlers()
{
    const auto onClick = [this](QToolButton *button, void (TForm1::*handler)()) {
        connect(button, &QToolButton::clicked, this, handler);
    };
    const auto onTrigger = [this](QAction *action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this, handler);
    };
    onClick(ui->Rs232ConfigButton, &TForm1::Rs232ConfigButtonClick);
    onClick(ui->ClearDataButton, &TForm1::ClearDataButtonClick);
    onClick(ui->DataModeButton, &TForm1::DataModeButtonClick);
    onClick(ui->ReceiveButton, &TForm1::ReceiveButtonClick);
    onClick(ui->Send_FileContentButton, &TForm1::Send_FileContentButtonClick);
    onClick(ui->Send_UserStringButton, &TForm1::Send_UserStringButtonClick);
    onClick(ui->EnableTRModeButton, &TForm1::EnableTRModeButtonClick);
    onClick(ui->R2KModeButton, &TForm1::R2KModeButtonClick);
    onClick(ui->BreakButton, &TForm1::BreakButtonClick);
    onTrigger(ui->RS232ConfigMenuBar, &TForm1::RS232ConfigMenuBarClick);
    onTrigger(ui->MiscMenuBar, &TForm1::MiscMenuBarClick);
    onTrigger(ui->ClearDataMenubar, &TForm1::ClearDataMenubarClick);
    onTrigger(ui->ASCIIModeMenuBar, &TForm1::ASCIIModeMenuBarClick);
    onTrigger(ui->HexModeMenuBar, &TForm1::HexModeMenuBarClick);
    onTrigger(ui->FontsMenubar, &TForm1::FontsMenubarClick);
    onTrigger(ui->Send_FileContentMenuBar, &TForm1::Send_FileContentMenuBarClick);
    onTrigger(ui->Send_UserStringMenuBar, &TForm1::Send_UserStringMenuBarClick);
    onTrigger(ui->StartRecMenuBar, &TForm1::StartRecMenuBarClick);
    onTrigger(ui->EnableTRModeMenubar, &TForm1::EnableTRModeMenubarClick);
    onTrigger(ui->EnableR2KModeMenubar, &TForm1::EnableR2KModeMenubarClick);
    onTrigger(ui->BreakMenuBar, &TForm1::BreakMenuBarClick);
    onTrigger(ui->AboutMenubar, &TForm1::AboutMenubarClick);
    onTrigger(ui->VersionMenubar, &TForm1::VersionMenubarClick);
    onTrigger(ui->SaveLogMenuBar, &TForm1::SaveLogMenuBarClick);
    onTrigger(ui->StartLogMenuBar, &TForm1::StartLogMenuBarClick);
    onTrigger(ui->StopLogMenuBar, &TForm1::StopLogMenuBarClick);
    onTrigger(ui->LinePanelMenuBar, &TForm1::LinePanelMenuBarClick);
    onTrigger(ui->CommandPanelMenuBar, &TForm1::CommandPanelMenuBarClick);
    onTrigger(ui->SelfTestMenuBar, &TForm1::SelfTestMenuBarClick);
    onTrigger(ui->ScriptModeMenuBar, &TForm1::ScriptModeMenuBarClick);
    onTrigger(ui->MonitorModeMenuBar, &TForm1::MonitorModeMenuBarClick);
    onTrigger(ui->PassThroughModeMenuBar, &TForm1::PassThroughModeMenuBarClick);
}

void TForm1::FormCreate()
{
    ui->ASCIIModeMenuBar->setChecked(true);
    ui->HexModeMenuBar->setChecked(false);
    ui->Memo1->clear();
}

TrafficView *TForm1::memo1() const { return ui->Memo1; }

QString TForm1::statusPanel(int index) const { return panels[index]->text(); }

int TForm1::displayFrameMs() const
{
    // An auto-reply must not wait for the screen's frame to see its trigger.
    if (m_commandPanel->answering())
        return 0;
    return isVisible() && !isMinimized() ? FrameMs : HiddenFrameMs;
}

bool TForm1::showsSentCommands() const { return m_commandPanel->showsSent(); }

void TForm1::setStatusPanel(int index, const QString &text) { panels[index]->setText(text); }

QColor TForm1::memo1Colour() const { return ui->Memo1->palette().color(QPalette::Base); }

void TForm1::setMemo1Colour(const QColor &colour)
{
    QPalette p = ui->Memo1->palette();
    p.setColor(QPalette::Base, colour);
    ui->Memo1->setPalette(p);
}

// ---- small commands --------------------------------------------------------------------

void TForm1::BreakMenuBarClick()
{
    ModeState::BreakRequested = 1;
    ui->Memo1->setFocus();
}

void TForm1::BreakButtonClick() { BreakMenuBarClick(); }

void TForm1::ClearDataMenubarClick()
{
    if (m_terminal)
        m_terminal->displayCleared();
    ui->Memo1->clear();
    ui->Memo1->setFocus();
}

void TForm1::ClearDataButtonClick() { ClearDataMenubarClick(); }

void TForm1::LinePanelMenuBarClick()
{
    GrowingPanel::setShown(m_linePanel, ui->LinePanelMenuBar->isChecked());
    ui->Memo1->setFocus();
}

void TForm1::CommandPanelMenuBarClick()
{
    GrowingPanel::setShown(m_commandPanel, ui->CommandPanelMenuBar->isChecked());
}

void TForm1::FontsMenubarClick()
{
    const FontChoice::Choice choice = FontChoice::choose(FontDialog1, ui->Memo1->font());
    if (choice.accepted) {
        if (choice.font)
            ui->Memo1->setFont(*choice.font);
        ui->Memo1->setFocus();
    }
}

void TForm1::ASCIIModeMenuBarClick()
{
    ui->ASCIIModeMenuBar->setChecked(true);
    ui->HexModeMenuBar->setChecked(false);
    setStatusPanel(1, QStringLiteral("ASCII 模式"));
    m_formatter.setHexForm(false);
    ui->Memo1->setFocus();
    ui->Memo1->clear();
}

void TForm1::HexModeMenuBarClick()
{
    ui->ASCIIModeMenuBar->setChecked(false);
    ui->HexModeMenuBar->setChecked(true);
    setStatusPanel(1, QStringLiteral("HEX 模式"));
    m_formatter.setHexForm(true);
    ui->Memo1->setFocus();
    ui->Memo1->clear();
}

void TForm1::DataModeButtonClick()
{
    ui->Memo1->clear();
    if (!m_formatter.hexForm())
        HexModeMenuBarClick();
    else
        ASCIIModeMenuBarClick();
    ui->Memo1->setFocus();
}

void TForm1::FormCloseQuery(bool &canClose)
{
    canClose = !ModeState::anyActive();
    if (!canClose)
        MessageBoxes::message(this, QStringLiteral("還在連線中唷...請先中斷連線"));
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TForm1::message(const QString &text) { MessageBoxes::message(this, text); }

void TForm1::errorBox(const QString &text) { MessageBoxes::errorBox(this, text); }

DisplaySink &TForm1::display() { return *ui->Memo1; }

// ---- port settings ---------------------------------------------------------------------

void TForm1::RS232ConfigMenuBarClick()
{
    if (Form2->exec() == TForm2::ResultOk) {
        if (std::optional<QString> error = PortSettings::apply(Form2->values())) {
            MessageBoxes::errorBox(this, *error);
            return;
        }
        setStatusPanel(0, PortSettings::summaryText());
    }
    ui->Memo1->setFocus();
}

void TForm1::Rs232ConfigButtonClick() { RS232ConfigMenuBarClick(); }

// ---- the program settings and the help menu --------------------------------------------

void TForm1::MiscMenuBarClick()
{
    const TForm6::Snapshot snapshot = Form6->snapshot();
    // During a mode this is the read-only colour: what the display shows now.
    Form6->showColourAtOpening(memo1Colour());
    if (Form6->exec() == TForm6::ResultOk) {
        // The rule, the break character and the time and framing hold from the next byte on.
        m_formatter.setSettings(Form6->displaySettings());
        m_renderer.setOptions(Form6->renderOptions());
        const TForm6::WindowOptions options = Form6->windowOptions();
        m_showCounters = options.showCounters;
        updateTrafficPanel();
        m_memoryWatch.setLimitMb(options.memoryLimitMb);
        // The status bar sits under the tool bar in the layout and moves up by itself.
        ui->Panel1->setVisible(options.showToolBar);
        if (!options.sizable) {
            OuterSize::setFixed(this, FixedOuterSize);
            ui->StatusBar1->setSizeGripEnabled(false);
        } else {
            // The status bar's panels want more than the fixed width gives them: a minimum
            // left to the layout would widen the window at once.
            setMinimumSize(minimumSizeHint().boundedTo(size()));
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            ui->StatusBar1->setSizeGripEnabled(true);
        }
        setMemo1Colour(options.displayColour);
    } else {
        Form6->restore(snapshot);
    }
    ui->Memo1->setFocus();
}

void TForm1::showLines(const QStringList &lines)
{
    ui->Memo1->clear();
    for (const QString &line : lines)
        ui->Memo1->appendLine(line);
}

void TForm1::AboutMenubarClick() { showLines(AboutTexts::aboutLines()); }

void TForm1::VersionMenubarClick() { showLines(AboutTexts::versionLines()); }

// ---- the log ---------------------------------------------------------------------------

std::optional<CaptureExport::Target>
TForm1::askLogTarget(const QString &title, const QList<CaptureExport::Format> &formats)
{
    // Made for each question and gone after it: a file dialog watches the folder it shows, and
    // a hidden one left over the folder a live log writes into would re-read that folder at
    // every write. The folder is remembered instead.
    SaveDialog1 = new QFileDialog(this);
    const std::unique_ptr<QFileDialog> dialog(SaveDialog1);
    dialog->setObjectName(QStringLiteral("SaveDialog1"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    FileDialogs::localise(dialog.get());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!m_logFolder.isEmpty())
        dialog->setDirectory(m_logFolder);
    QStringList filters;
    for (CaptureExport::Format f : formats)
        filters.append(CaptureExport::filterOf(f));
    dialog->setWindowTitle(title);
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.constFirst());
    const bool accepted = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
    SaveDialog1 = nullptr;
    if (!accepted)
        return std::nullopt;
    m_logFolder = dialog->directory().absolutePath();
    const qsizetype picked = std::max<qsizetype>(filters.indexOf(dialog->selectedNameFilter()), 0);
    return CaptureExport::targetOf(dialog->selectedFiles().constFirst(), formats[picked]);
}

void TForm1::SaveLogMenuBarClick()
{
    if (m_capture.isEmpty()) {
        message(QStringLiteral("目前沒有記錄可以儲存 : 記錄從每個模式開始時算起"));
        return;
    }
    using F = CaptureExport::Format;
    const std::optional<CaptureExport::Target> target =
            askLogTarget(QStringLiteral("儲存記錄"), {F::Log, F::Csv, F::Text, F::Raw, F::Frames});
    if (!target)
        return;
    const PortSettings::PortChoice port = PortSettings::current();
    const CaptureExport::TextStyle style {m_formatter.settings(),
                                          m_formatter.hexForm(),
                                          m_renderer.options(),
                                          ui->LocalNameEdit->text(),
                                          ui->RemoteNameEdit->text(),
                                          Form6->logJoinGapMs(),
                                          port.baudRate,
                                          port.bitsPerCharacter()};
    QString error;
    if (!CaptureExport::save(m_capture, target->format, style, target->path, &error))
        message(QStringLiteral("無法儲存記錄到 %1 : %2").arg(target->path, error));
}

void TForm1::StartLogMenuBarClick()
{
    if (m_log)
        return;
    using F = CaptureExport::Format;
    const std::optional<CaptureExport::Target> target =
            askLogTarget(QStringLiteral("開始記錄到檔案"), {F::Log, F::Csv, F::Raw});
    if (!target)
        return;
    // The text as shown is no live format: a .txt name gets the log.
    const LiveLog::Format format = target->format == F::Raw ? LiveLog::Format::Raw
            : target->format == F::Csv                      ? LiveLog::Format::Csv
                                                            : LiveLog::Format::Log;
    QString error;
    m_log = LiveLog::start(target->path, format, &error, Form6->logJoinGapMs());
    if (!m_log) {
        message(error);
        return;
    }
    connect(m_log.get(), &LiveLog::failed, this, &TForm1::liveLogFailed);
    m_traffic.subscribe(m_log.get(), TrafficStream::Role::Keeper);
    ui->StartLogMenuBar->setEnabled(false);
    ui->StopLogMenuBar->setEnabled(true);
    updateTrafficPanel();
}

void TForm1::StopLogMenuBarClick()
{
    if (!m_log)
        return;
    m_traffic.unsubscribe(m_log.get());
    m_log->disconnect(this);
    const QString failure = m_log->stop();
    m_log.reset();
    ui->StartLogMenuBar->setEnabled(true);
    ui->StopLogMenuBar->setEnabled(false);
    updateTrafficPanel();
    if (!failure.isEmpty())
        message(failure);
}

void TForm1::liveLogFailed(const QString &text)
{
    // The log goes; the mode, the display and the capture go on without it.
    StopLogMenuBarClick();
    message(text);
}

void TForm1::checkMemory(const MemoryReading &reading)
{
    const std::optional<MemoryWatch::Shortage> begun = m_memoryWatch.update(reading);
    if (m_memoryWatch.current() == MemoryWatch::Shortage::None) {
        m_memoryPanel->setVisible(false);
        return;
    }
    if (!begun)
        return;
    // Nothing stops and nothing is dropped: the user decides what to keep and when to clear.
    const QString text = m_memoryWatch.text(reading);
    m_memoryPanel->setText(*begun == MemoryWatch::Shortage::OverLimit
                                   ? QStringLiteral("記憶體超過上限")
                                   : QStringLiteral("記憶體不足"));
    m_memoryPanel->setDetails(text + u'\n' + MemoryWatch::advice());
    m_memoryPanel->setAccessibleDescription(text + u' ' + MemoryWatch::advice());
    m_memoryPanel->setVisible(true);
}

void TForm1::updateTrafficPanel()
{
    const bool visible = m_showCounters || m_log;
    m_trafficPanel->setVisible(visible);
    if (!visible) {
        m_trafficTimer->stop();
        return;
    }
    if (!m_trafficTimer->isActive())
        m_trafficTimer->start();
    QStringList parts;
    const SideNames &sides = m_capture.sides();
    if (m_showCounters && sides.isEmpty()) {
        parts << QStringLiteral("收 %1  送 %2")
                         .arg(m_capture.receivedBytes())
                         .arg(m_capture.sentBytes());
    } else if (m_showCounters) {
        // A watched conversation: each direction by its name.
        const std::pair<const QString &, int64_t> counts[] = {
                {sides.received, m_capture.receivedBytes(0)},
                {sides.receivedSecond, m_capture.receivedBytes(1)},
                {sides.sent, m_capture.sentBytes()}};
        QStringList each;
        for (const auto &[name, bytes] : counts)
            if (!name.isEmpty())
                each << QStringLiteral("%1 %2").arg(name).arg(bytes);
        parts << each.join(QStringLiteral("  "));
    }
    if (m_log) {
        const qint64 size = m_log->size();
        parts << (size < 10240 ? QStringLiteral("記錄 %1 B").arg(size)
                               : QStringLiteral("記錄 %1 KB").arg(size / 1024));
    }
    m_trafficPanel->setText(parts.join(QStringLiteral("  |  ")));
    m_trafficPanel->setDetails(m_log ? m_log->path() : QString());
}

// ---- the modes -------------------------------------------------------------------------

void TForm1::StartRecMenuBarClick()
{
    ui->Memo1->setFocus();
    ReceiveSession(*this).run();
}

void TForm1::Send_FileContentMenuBarClick()
{
    if (!OpenDialog1) {
        OpenDialog1 = new QFileDialog(this);
        OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
        // Qt's own dialog on every desktop: the same look everywhere, every control reachable
        // by accessibility tools, and a dialog that tests can fill in.
        OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
        OpenDialog1->setOption(QFileDialog::HideNameFilterDetails);
        FileDialogs::localise(OpenDialog1);
        OpenDialog1->setFileMode(QFileDialog::ExistingFile);
        OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog1->setWindowTitle(QStringLiteral("選擇欲傳送之 TELVIX  ( 檔案名稱)"));
    }
    // "*.*" names every file where it was first written; here it would hide the files without
    // an extension, so the pattern is "*" and the name box starts empty.
    OpenDialog1->setNameFilter(QStringLiteral("所有檔案(*.*) (*)"));
    OpenDialog1->selectFile(QString());
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
        return;
    const QString path = OpenDialog1->selectedFiles().constFirst();
    Form3->showFile(path, FileByteStream::querySize(path));
    if (Form3->exec() != TForm3::ResultSend)
        return;
    FileSendJob(*this, Form3->request()).run();
}

void TForm1::Send_UserStringMenuBarClick()
{
    StringSendJob(*this, [] {
        return Form4->exec() == TForm4::ResultSend ? std::optional(Form4->request()) : std::nullopt;
    }).run();
}

void TForm1::EnableTRModeMenubarClick()
{
    TerminalSession session(*this, *m_terminalPanel);
    m_terminal = &session;
    session.run();
    m_terminal = nullptr;
}

void TForm1::EnableR2KModeMenubarClick() { R2KSession(*this).run(); }

void TForm1::ScriptModeMenuBarClick() { m_scriptWindow->showBeside(this); }

MonitorDialog *TForm1::monitorDialog()
{
    if (!m_monitorDialog)
        m_monitorDialog = new MonitorDialog(this);
    return m_monitorDialog;
}

void TForm1::MonitorModeMenuBarClick()
{
    // A follows the port dialog each time; B and the names as the user left them.
    MonitorDialog *dialog = monitorDialog();
    dialog->setA(PortSettings::current());
    if (dialog->exec() != QDialog::Accepted)
        return;
    const std::optional<MonitorDialog::Values> v = dialog->values();
    if (!v)
        return;
    ui->Memo1->setFocus();
    MonitorSession(*this).run({v->a, v->b, v->nameA, v->nameB});
}

void TForm1::showPublishedName(const QString &name, const QString &note)
{
    m_publishedName->setText(name);
    m_publishedName->setDetails(note.isEmpty() ? name : name + u'\n' + note);
    m_publishedName->setAccessibleDescription(note);
    m_publishedPanel->setVisible(!name.isEmpty());
}

void TForm1::PassThroughModeMenuBarClick()
{
    if (m_passThroughName.isEmpty())
        m_passThroughName = QString::fromUtf8(PassThroughRequest::DefaultName);
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("PassThroughNameDialog"));
    dialog.setWindowTitle(QStringLiteral("中繼模式"));
    dialog.setLabelText(
            QStringLiteral("程式開啟的名稱 (代替設備):\n%1").arg(PassThroughSession::limitsText()));
    dialog.setTextValue(m_passThroughName);
    dialog.setOkButtonText(QStringLiteral("開始中繼"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted || dialog.textValue().trimmed().isEmpty())
        return;
    m_passThroughName = dialog.textValue().trimmed();
    PassThroughRequest request;
    request.name = m_passThroughName.toStdString();
    ui->Memo1->setFocus();
    PassThroughSession(*this).run(request);
}

void TForm1::ScriptRunClick()
{
    if (ModeState::anyActive())
        return;
    ScriptSession::Script script {m_scriptWindow->source(), m_scriptWindow->scriptName(), {}};
    script.options.args = m_scriptWindow->arguments();
    script.options.commands = m_commandPanel->commands();
    m_scriptWindow->runStarted();
    // Labelled as terminal mode labels its conversation, under the names of its panels.
    ScriptSession session(
            *this, [this] { return ui->LocalNameEdit->text(); },
            [this] { return ui->RemoteNameEdit->text(); });
    const std::optional<ScriptEngine::Result> result = session.run(
            script, [this](const QString &line) { m_scriptWindow->appendOutput(line); });
    m_scriptWindow->runFinished(result);
}

void TForm1::ReceiveButtonClick() { StartRecMenuBarClick(); }

void TForm1::Send_FileContentButtonClick() { Send_FileContentMenuBarClick(); }

void TForm1::Send_UserStringButtonClick() { Send_UserStringMenuBarClick(); }

void TForm1::EnableTRModeButtonClick() { EnableTRModeMenubarClick(); }

void TForm1::R2KModeButtonClick() { EnableR2KModeMenubarClick(); }

// ---- how a mode takes the window over ----------------------------------------------------

void TForm1::setColumnEnabled(Mode mode, bool enabled)
{
    for (std::string_view name : ModeTable::controlsOff(mode)) {
        const QString objectName = QString::fromUtf8(name.data(), qsizetype(name.size()));
        // A whole menu or submenu is switched through the action that opens it.
        if (QMenu *menu = findChild<QMenu *>(objectName))
            menu->menuAction()->setEnabled(enabled);
        else if (QAction *action = findChild<QAction *>(objectName))
            action->setEnabled(enabled);
        else if (QWidget *widget = findChild<QWidget *>(objectName))
            widget->setEnabled(enabled);
        else
            qFatal("mode table names a control the main window lacks: %s", qPrintable(objectName));
    }
}

void TForm1::setBreakEnabled(bool enabled)
{
    ui->BreakMenuBar->setEnabled(enabled);
    ui->BreakButton->setEnabled(enabled);
}

void TForm1::enterMode(Mode mode)
{
    const ModeColumn &column = ModeTable::column(mode);
    if (column.clearMemoAtStart)
        ui->Memo1->clear();
    if (column.readOnlyLook) {
        m_savedColour = memo1Colour();
        setMemo1Colour(palette().color(QPalette::Button));
        ui->Memo1->setReadOnly(true);
    }
    setColumnEnabled(mode, false);
    setBreakEnabled(true);
    ui->SelfTestMenuBar->setEnabled(false);
    if (column.showTerminalPanels) {
        ui->EchoDataPanel->setVisible(true);
        ui->Panel8->setVisible(true);
    }
    setStatusPanel(2, QString::fromUtf8(column.startText));
    // The commands go out while a mode reads the line; R2K's reading types, it does not talk.
    if (mode == Mode::Receive || mode == Mode::Terminal)
        m_commandPanel->attach(m_modePort);
}

void TForm1::leaveMode(Mode mode)
{
    const ModeColumn &column = ModeTable::column(mode);
    // Unconditionally on again: whatever state a control had before the mode, it is usable now.
    setColumnEnabled(mode, true);
    setBreakEnabled(false);
    ui->SelfTestMenuBar->setEnabled(true);
    // The mode lets its port go: the panels show no line from now on.
    m_linePanel->attach(nullptr);
    if (mode == Mode::Receive || mode == Mode::Terminal)
        m_commandPanel->attach(nullptr);
    m_modePort = nullptr;
    if (column.readOnlyLook) {
        ui->Memo1->setReadOnly(false);
        setMemo1Colour(m_savedColour);
    }
    if (column.clearMemoAtEnd)
        ui->Memo1->clear();
    if (column.showTerminalPanels) {
        ui->EchoDataPanel->setVisible(false);
        ui->Panel8->setVisible(false);
    }
    setStatusPanel(2, QString::fromUtf8(ModeTable::IdleText));
}

// ---- the terminal panels ---------------------------------------------------------------

void TForm1::setUpTerminalPanels()
{
    m_messageHistory = std::make_unique<InputHistory>();
    m_terminalPanel = std::make_unique<TerminalControls>(*ui, *m_messageHistory);
    // What each ending puts on the line after a message; none is the documented message.
    for (int i = 0; i < CommandList::endingLabels().size(); ++i)
        ui->LineEndComboBox->addItem(CommandList::endingLabels()[i],
                                     CommandList::endingBytes(CommandList::Ending(i)));
    QPalette p = ui->Memo2->palette();
    p.setColor(QPalette::Text, Qt::darkGreen);
    ui->Memo2->setPalette(p);
    ui->Memo2->installEventFilter(this);
    ui->UpDown1->setAssociate(ui->TRMode_Char_DelayTime_Edit);
    ui->UpDown1->setRange(1, 10000);
    ui->UpDown1->setPosition(1);
    connect(ui->SendEchoMessageButton, &QPushButton::clicked, this,
            &TForm1::SendEchoMessageButtonClick);
    connect(ui->EchoEditControlInsertButton, &QPushButton::clicked, this,
            &TForm1::EchoEditControlInsertButtonClick);
    connect(ui->MessageFontColorButton, &QPushButton::clicked, this,
            &TForm1::MessageFontColorButtonClick);
}

void TForm1::SendEchoMessageButtonClick()
{
    if (m_terminal)
        m_terminal->send();
}

bool TForm1::Memo2KeyPress(QKeyEvent *event)
{
    if (m_messageHistory->handleKey(ui->Memo2, event))
        return true;
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    // Also emptied when the send failed, but not when the text was refused before anything
    // went out: the user mends it where the message pointed.
    if (!m_terminal || m_terminal->send())
        ui->Memo2->clear();
    return true;
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Memo2 && event->type() == QEvent::KeyPress
        && Memo2KeyPress(static_cast<QKeyEvent *>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::EchoEditControlInsertButtonClick()
{
    CodeInsertion::pickAndInsertAfterSelection(ui->Memo2);
}

void TForm1::MessageFontColorButtonClick()
{
    const FontChoice::Choice choice = FontChoice::choose(FontDialog1, ui->Memo2->font());
    if (choice.accepted) {
        if (choice.font)
            ui->Memo2->setFont(*choice.font);
        ui->Memo2->setFocus();
    }
}

void TForm1::SelfTestMenuBarClick()
{
    runLineSelfTest(*this, this);
    ui->Memo1->setFocus();
}
