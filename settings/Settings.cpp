// SPDX-License-Identifier: MIT
// The main window's commands of the settings dialog and the help menu.
#include "main/Telvixmain1.h"

#include "ui_Telvixmain1.h"
#include "ui_Telvixmain6.h"

#include "main/TrafficView.h"
#include "settings/AboutTexts.h"
#include "settings/OuterSize.h"
#include "settings/Telvixmain6.h"

#include <QStatusBar>

namespace {

const QSize FixedOuterSize {600, 428};

void showLines(TrafficView *memo, const QStringList &lines)
{
    memo->clear();
    for (const QString &line : lines)
        memo->appendLine(line);
}

} // namespace

void TForm1::MiscMenuBarClick()
{
    const TForm6::Snapshot snapshot = Form6->snapshot();
    // During a mode this is the read-only colour: what the display shows now.
    Form6->showColourAtOpening(memo1Colour());
    if (Form6->exec() == TForm6::ResultOk) {
        const Ui::TForm6 &options = *Form6->form();
        // The status bar sits under the tool bar in the layout and moves up by itself.
        ui->Panel1->setVisible(options.ShowQuicklyPanel_CheckBox->isChecked());
        if (!options.FormSizable_CheckBox->isChecked()) {
            OuterSize::setFixed(this, FixedOuterSize);
            ui->StatusBar1->setSizeGripEnabled(false);
        } else {
            // The status bar's panels want more than the fixed width gives them: a minimum
            // left to the layout would widen the window at once.
            setMinimumSize(minimumSizeHint().boundedTo(size()));
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            ui->StatusBar1->setSizeGripEnabled(true);
        }
        setMemo1Colour(Form6->previewColour());
    } else {
        Form6->restore(snapshot);
    }
    ui->Memo1->setFocus();
}

void TForm1::AboutMenubarClick() { showLines(ui->Memo1, AboutTexts::aboutLines()); }

void TForm1::VersionMenubarClick() { showLines(ui->Memo1, AboutTexts::versionLines()); }
