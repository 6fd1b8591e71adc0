#include "shell/FillSegmentDialog.h"

#include "application/Lifecycle.h"
#include "common/MessageTable.h"
#include "shell/Prompts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

std::optional<QList<int>> parsePartList(const QString &text, int maxparts, QString *problem)
{
    static const QRegularExpression entry(u"^\\s*(\\d{1,9})\\s*(?:-\\s*(\\d{1,9})\\s*)?$"_s);
    QList<int> parts;
    for (const QString &piece : text.split(u',')) {
        if (piece.trimmed().isEmpty())
            continue;
        const QRegularExpressionMatch m = entry.match(piece);
        if (!m.hasMatch()) {
            *problem = msg(258).arg(piece.trimmed());
            return std::nullopt;
        }
        const int first = m.captured(1).toInt();
        const int last = m.capturedLength(2) > 0 ? m.captured(2).toInt() : first;
        if (first < 1 || last > maxparts || first > last) {
            *problem = msg(259).arg(piece.trimmed()).arg(maxparts);
            return std::nullopt;
        }
        for (int k = first; k <= last; ++k)
            parts << k;
    }
    std::sort(parts.begin(), parts.end());
    parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
    return parts;
}

frmFillSegment::frmFillSegment(int maxparts, QWidget *parent)
    : QDialog(parent)
    , maxparts_(maxparts)
{
    setObjectName(u"frmFillSegment"_s);
    setWindowTitle(msg(29));
    Label1 = new QLabel(msg(30));
    lvwSegments = new QTreeWidget;
    lvwSegments->setObjectName(u"lvwSegments"_s);
    lvwSegments->setColumnCount(1);
    lvwSegments->setHeaderLabels({msg(31)});
    lvwSegments->setRootIsDecorated(false);
    lvwSegments->setUniformRowHeights(true);
    lvwSegments->setSelectionBehavior(QAbstractItemView::SelectRows);
    const QString row = msg(32) + u' ';
    QList<QTreeWidgetItem *> rows;
    rows.reserve(maxparts);
    for (int k = 1; k <= maxparts; ++k) {
        auto *item = new QTreeWidgetItem({row + QString::number(k)});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        rows << item;
    }
    lvwSegments->addTopLevelItems(rows);
    lblTyped = new QLabel(msg(257));
    txtParts = new QLineEdit;
    txtParts->setObjectName(u"txtParts"_s);
    txtParts->setPlaceholderText(u"2, 5, 9-12"_s);
    lblTyped->setBuddy(txtParts);
    cmdOk = new QPushButton(msg(33));
    cmdCancel = new QPushButton(msg(34));
    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, [this] {
        if (cmdOk_Click())
            accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(lvwSegments, 1);
    layout->addWidget(lblTyped);
    layout->addWidget(txtParts);
    layout->addLayout(buttons);
    resize(360, 420);
}

void frmFillSegment::tick(int part, bool ticked)
{
    if (QTreeWidgetItem *item = lvwSegments->topLevelItem(part - 1))
        item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

QList<int> frmFillSegment::run()
{
    if (Prompts::mode() == PromptMode::Interactive && exec() != QDialog::Accepted)
        parts_.clear();
    return parts_;
}

bool frmFillSegment::cmdOk_Click()
{
    parts_.clear();
    if (const int slot = missingSettingSlot()) {
        Prompts::message(this, msg(slot));
        if (openSettings)
            openSettings();
        return false;
    }
    QString problem;
    const std::optional<QList<int>> typed = parsePartList(txtParts->text(), maxparts_, &problem);
    if (!typed) {
        Prompts::message(this, problem);
        txtParts->setFocus();
        return false;
    }
    QList<int> chosen = *typed;
    for (int k = 0; k < lvwSegments->topLevelItemCount(); ++k)
        if (lvwSegments->topLevelItem(k)->checkState(0) == Qt::Checked)
            chosen << k + 1;
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    if (chosen.isEmpty()) {
        Prompts::message(this, msg(38));
        return false;
    }
    parts_ = chosen;
    return true;
}

} // namespace tessaly
