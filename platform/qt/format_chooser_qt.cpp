// The format chooser as a Qt dialog: a drop-down list of format tags and a
// table of the chosen tag's formats. Mouse and keyboard both work: arrows
// move in either list, Enter or a double click takes the format, Escape
// cancels, Alt+T and Alt+F jump between the lists.
#include "platform/qt/format_chooser_qt.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <vector>
#include "platform/audio_format.h"
#include "platform/system/system.h"

namespace {
struct chooser_texts {
    const char* title;
    const char* tag_label;
    const char* formats_label;
    const char* columns[5];
    const char* mono;
    const char* stereo;
    const char* ok;
    const char* cancel;
};
const chooser_texts english = {
    "Recording Format", "Format &tag:", "&Formats:", {"Format", "Rate (Hz)", "Bits", "Channels", "Bytes/s"},
    "Mono", "Stereo", "OK", "Cancel",
};
const chooser_texts polish = {
    "Format nagrania", "&Rodzaj formatu:", "&Formaty:", {"Format", "Częstotliwość (Hz)", "Bity", "Kanały", "Bajtów/s"},
    "Mono", "Stereo", "OK", "Anuluj",
};

const wave_format* format_of(const format_choice& c)
{
    return reinterpret_cast<const wave_format*>(c.format);
}

// The row a user most likely wants when a tag is picked: CD rate in
// stereo at more than 8 bits if the tag has it, else its first format.
int preferred_row(const format_choice* choices, const std::vector<int>& rows)
{
    for (size_t r = 0; r < rows.size(); ++r) {
        const wave_format* f = format_of(choices[rows[r]]);
        if (f->samples_per_sec == 44100 && f->channels == 2 && f->bits_per_sample != 8)
            return int(r);
    }
    return 0;
}

QTableWidgetItem* cell(const QString& text, bool right)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (right)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}
} // namespace

int qt_format_chooser(QWidget* parent, const format_choice* choices, int count)
{
    if (!choices || count <= 0)
        return -1;
    const chooser_texts& t = ui_language() == LANG_POLISH ? polish : english;

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral(FORMAT_CHOOSER_OBJECT));
    dialog.setWindowTitle(QString::fromUtf8(t.title));

    // The tags in the order the list first names them.
    std::vector<QString> tags;
    for (int i = 0; i < count; ++i) {
        QString tag = QString::fromUtf8(choices[i].tag_name);
        if (std::find(tags.begin(), tags.end(), tag) == tags.end())
            tags.push_back(tag);
    }

    auto* tag_label = new QLabel(QString::fromUtf8(t.tag_label));
    auto* tag_box = new QComboBox;
    tag_box->setObjectName(QStringLiteral(FORMAT_CHOOSER_TAGS));
    for (const QString& tag : tags)
        tag_box->addItem(tag);
    tag_label->setBuddy(tag_box);

    auto* formats_label = new QLabel(QString::fromUtf8(t.formats_label));
    auto* table = new QTableWidget(0, 5);
    table->setObjectName(QStringLiteral(FORMAT_CHOOSER_FORMATS));
    QStringList headers;
    for (const char* h : t.columns)
        headers << QString::fromUtf8(h);
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setTabKeyNavigation(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->setMinimumSize(600, 300);
    formats_label->setBuddy(table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8(t.ok));
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8(t.cancel));

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(tag_label);
    layout->addWidget(tag_box);
    layout->addWidget(formats_label);
    layout->addWidget(table);
    layout->addWidget(buttons);

    // Row r of the table is choice rows[r].
    std::vector<int> rows;
    auto fill = [&](int tag_index) {
        rows.clear();
        table->setRowCount(0);
        if (tag_index < 0 || tag_index >= int(tags.size()))
            return;
        for (int i = 0; i < count; ++i)
            if (QString::fromUtf8(choices[i].tag_name) == tags[size_t(tag_index)])
                rows.push_back(i);
        table->setRowCount(int(rows.size()));
        for (size_t r = 0; r < rows.size(); ++r) {
            const format_choice& c = choices[rows[r]];
            const wave_format* f = format_of(c);
            int row = int(r);
            table->setItem(row, 0, cell(QString::fromUtf8(c.description), false));
            table->setItem(row, 1, cell(QString::number(f->samples_per_sec), true));
            table->setItem(row, 2, cell(f->bits_per_sample ? QString::number(f->bits_per_sample) : QStringLiteral("–"), true));
            table->setItem(row, 3, cell(QString::fromUtf8(f->channels == 1 ? t.mono : t.stereo), false));
            table->setItem(row, 4, cell(QString::number(f->avg_bytes_per_sec), true));
        }
        table->resizeColumnsToContents();
        table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        if (!rows.empty())
            table->selectRow(preferred_row(choices, rows));
    };
    auto update_ok = [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(!table->selectedItems().isEmpty()); };

    QObject::connect(tag_box, &QComboBox::currentIndexChanged, &dialog, [&](int i) {
        fill(i);
        update_ok();
    });
    QObject::connect(table, &QTableWidget::itemSelectionChanged, &dialog, update_ok);
    QObject::connect(table, &QTableWidget::cellDoubleClicked, &dialog, [&](int, int) { dialog.accept(); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    fill(0);
    update_ok();
    tag_box->setFocus();

    // A scripted screenshot takes the format offered, as a user pressing OK.
    if (std::getenv("TRACKMILL_SCREENSHOT_CLICKS"))
        QTimer::singleShot(0, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    QList<QTableWidgetItem*> picked = table->selectedItems();
    if (picked.isEmpty())
        return -1;
    int row = picked.first()->row();
    return row >= 0 && row < int(rows.size()) ? rows[size_t(row)] : -1;
}
